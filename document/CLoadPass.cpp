#include "CLoadPass.h"

#include "document/CApeDecoder.h"
#include "document/CBlockStatistics.h"
#include "document/CProgressScope.h"
#include "document/CQuillon3Doc.h"
#include "document/CancelQuestions.h"
#include "document/Interaction.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace kelvane {

static_assert(std::endian::native == std::endian::little, "WAV samples are read in place as little-endian values");

namespace {
constexpr int32_t kOverlap = kLookAheadBytes;  // look-ahead units behind every chunk
constexpr int32_t kApeBlocksPerChunk = 0x10000;

// Reduces 24-bit samples in place to their upper 16 bits.
void ReduceTo16(uint8_t* buffer, int64_t samples)
{
    auto* out = reinterpret_cast<int16_t*>(buffer);
    const uint8_t* in = buffer;
    for (int64_t i = 0; i < samples; ++i, in += 3) {
        // Reading ahead of the write position: out[i] ends at byte 2i+1 <= 3i+1.
        out[i] = static_cast<int16_t>(static_cast<uint16_t>(in[1] | (in[2] << 8)));
    }
}
}  // namespace

CLoadPass::CLoadPass(CQuillon3Doc& doc) : doc_(doc) {}

// An APE or mono recording is decoded into its temporary source by the first
// load pass; the decoder is released and the mono file closed at its end.
// Once loaded, that source is complete and is read like any WAV.
bool CLoadPass::Decoding(int32_t kind) const
{
    if (kind == kSourceMerged) return !doc_.loaded && doc_.sourceKind == kind && !doc_.mergeList.empty();
    return !doc_.loaded && doc_.sourceKind == kind &&
           (kind == kSourceApe ? doc_.apeDecoder != nullptr : doc_.monoFile.IsOpen());
}
CLoadPass::~CLoadPass() = default;

bool CLoadPass::Fail(const std::string& text)
{
    failText_ = text;
    doc_.Ui().MessageBox(text, kAppCaption, MbButtons::Ok, MbIcon::Error);
    return false;
}

void CLoadPass::ApplyInputTags()
{
    doc_.tracks.RemoveAll();
    TrackRecord whole;
    whole.start = doc_.dataStart;
    whole.end = doc_.dataEnd;
    if (doc_.sourceKind == kSourceApe || doc_.sourceKind == kSourceFlac) {
        whole.title = doc_.inputTags.title;
        whole.artist = doc_.inputTags.artist;
        whole.album = doc_.inputTags.album;
        whole.genre = doc_.inputTags.genre;
    }
    doc_.tracks.Add(whole);
    doc_.NotifyTracksChanged();
}

bool CLoadPass::WidenMono(int64_t monoByteOffset, int64_t monoBytes, uint8_t* out, int64_t& outBytes)
{
    monoScratch_.resize(static_cast<size_t>(monoBytes / 2 + 1));
    doc_.monoFile.SeekRaw(monoByteOffset);
    const int64_t got = doc_.monoFile.ReadRaw(monoScratch_.data(), monoBytes & ~int64_t{1});
    if (got < 0) return Fail(doc_.monoFile.LastError());
    auto* stereo = reinterpret_cast<int16_t*>(out);
    const int64_t samples = got / 2;
    for (int64_t i = 0; i < samples; ++i) stereo[2 * i] = stereo[2 * i + 1] = monoScratch_[static_cast<size_t>(i)];
    outBytes = samples * 4;
    return true;
}

bool CLoadPass::Begin()
{
    ApplyInputTags();
    const bool b24 = doc_.bitsPerSample == 24;
    const int64_t sourceLength = doc_.sourceFile.Length();
    if (sourceLength < 0) return Fail(doc_.sourceFile.LastError());
    if (!doc_.workingFile.SetLength(b24 ? sourceLength / 3 * 2 : sourceLength)) return Fail(doc_.workingFile.LastError());

    bufferBytes_ = CWaveFile::BytesOf(int64_t{kSegmentBytes} + kOverlap, doc_.bitsPerSample);
    buffer_.assign(static_cast<size_t>(bufferBytes_), 0);
    stats_ = std::make_unique<CBlockStatistics>(doc_.blockLevel, doc_.blockEnvelope);

    if (Decoding(kSourceApe)) {
        auto& ape = *doc_.apeDecoder;
        if (!ape.Seek(0)) return Fail("The APE file cannot be decoded.");
        const int64_t blocks = ape.Decode(buffer_.data(), 2048);
        if (blocks < 0) return Fail("The APE file cannot be decoded.");
        doc_.sourceFile.SeekRaw(doc_.dataStart);
        if (!doc_.sourceFile.WriteRaw(buffer_.data(), blocks * ape.BlockAlign())) return Fail(doc_.sourceFile.LastError());
    } else if (Decoding(kSourceMono)) {
        // Import widened the first 1024 frames; the first chunk's look-ahead
        // needs the next 1024 in place too, exactly where they belong.
        int64_t outBytes = 0;
        if (!WidenMono(doc_.monoDataStart + 2048, 2048, buffer_.data(), outBytes)) return false;
        doc_.sourceFile.SeekRaw(int64_t{doc_.dataStart} + kOverlap);
        if (!doc_.sourceFile.WriteRaw(buffer_.data(), outBytes)) return Fail(doc_.sourceFile.LastError());
    }

    if (Decoding(kSourceMerged)) {
        // The merge wrote the first input's first 1024 frames already.
        mergeIndex_ = 0;
        mergeOffset_ = doc_.mergeList[0].start + CWaveFile::BytesOf(kOverlap, doc_.bitsPerSample);
        mergeInput_.Close();
        // As for mono input, the first chunk's look-ahead must be in place:
        // the next 1024 frames come now.
        const int64_t units = std::min<int64_t>(kOverlap, int64_t{doc_.dataEnd} - doc_.dataStart - kOverlap);
        int64_t filled = 0;
        if (units > 0 && !FillFromInputs(buffer_.data(), CWaveFile::BytesOf(units, doc_.bitsPerSample), filled))
            return false;
        doc_.sourceFile.Seek(int64_t{doc_.dataStart} + kOverlap);
        if (!doc_.sourceFile.WriteRaw(buffer_.data(), filled)) return Fail(doc_.sourceFile.LastError());
        mergedTo_ = int64_t{doc_.dataStart} + kOverlap + (doc_.bitsPerSample == 24 ? filled / 3 * 2 : filled);
    }

    // Header, then the first 1024 frames, copied byte for byte.
    const int64_t firstAudio = std::min<int64_t>(kOverlap, doc_.dataEnd - doc_.dataStart);
    const int64_t headAndFirst = doc_.dataStart + (b24 ? firstAudio / 2 * 3 : firstAudio);
    std::vector<uint8_t> head(static_cast<size_t>(headAndFirst));
    doc_.sourceFile.SeekRaw(0);
    const int64_t got = doc_.sourceFile.ReadRaw(head.data(), headAndFirst);
    if (got < 0) return Fail(doc_.sourceFile.LastError());
    doc_.workingFile.SeekRaw(0);
    if (!doc_.workingFile.WriteRaw(head.data(), got)) return Fail(doc_.workingFile.LastError());

    // These frames never pass through a chunk, but their blocks need levels
    // like every other block.
    uint8_t* audio = head.data() + doc_.dataStart;
    int64_t audioBytes = std::max<int64_t>(0, got - doc_.dataStart);
    if (b24) {
        ReduceTo16(audio, audioBytes / 3);
        audioBytes = audioBytes / 3 * 2;
    }
    std::vector<int16_t> first(static_cast<size_t>(audioBytes / 2));
    std::memcpy(first.data(), audio, first.size() * 2);
    stats_->Add(doc_.dataStart, first.data(), static_cast<int32_t>(audioBytes / 4));
    statsDone_ = static_cast<int32_t>(doc_.dataStart + audioBytes);

    loadPos_ = doc_.dataStart + kOverlap;
    return true;
}

bool CLoadPass::AtEnd() const { return loadPos_ >= doc_.dataEnd - kOverlap; }

bool CLoadPass::FillFromInputs(uint8_t* out, int64_t bytes, int64_t& filled)
{
    filled = 0;
    auto& list = doc_.mergeList;
    while (filled < bytes && mergeIndex_ < list.size()) {
        const MergeInput& input = list[mergeIndex_];
        if (!mergeInput_.IsOpen()) {
            if (!mergeInput_.Open(input.path, CWaveFile::Mode::Read)) return Fail("Unable to open a file");
            if (mergeIndex_ > 0) mergeOffset_ = input.start;
        }
        const int64_t want = std::min(bytes - filled, input.end - mergeOffset_);
        if (want > 0) {
            mergeInput_.SeekRaw(mergeOffset_);
            const int64_t got = mergeInput_.ReadRaw(out + filled, want);
            if (got < 0) return Fail(mergeInput_.LastError());
            // An input that shrank since the merge checked it is not the
            // recording the user chose.
            if (got < want) return Fail(input.path + ": the file is shorter than when it was merged.");
            filled += got;
            mergeOffset_ += got;
        }
        if (mergeOffset_ >= input.end) {
            mergeInput_.Close();
            ++mergeIndex_;
        }
    }
    return true;
}

bool CLoadPass::ReadChunkInput(int64_t& rawBytes)
{
    const int64_t overlapRaw = CWaveFile::BytesOf(kOverlap, doc_.bitsPerSample);
    CWaveFile& src = doc_.sourceFile;
    const int32_t kind = Decoding(kSourceApe)      ? kSourceApe
                         : Decoding(kSourceMono)   ? kSourceMono
                         : Decoding(kSourceMerged) ? kSourceMerged
                                                   : kSourceWav;
    switch (kind) {
    case kSourceMerged: {
        src.Seek(loadPos_);
        const int64_t got = src.ReadRaw(buffer_.data(), overlapRaw);
        if (got < 0) return Fail(src.LastError());
        const int64_t units = std::min<int64_t>(int64_t{doc_.dataEnd} - loadPos_ - kOverlap, kSegmentBytes);
        int64_t filled = 0;
        if (units > 0 && !FillFromInputs(buffer_.data() + overlapRaw, CWaveFile::BytesOf(units, doc_.bitsPerSample), filled))
            return false;
        src.Seek(int64_t{loadPos_} + kOverlap);
        if (!src.WriteRaw(buffer_.data() + overlapRaw, filled)) return Fail(src.LastError());
        mergedTo_ = int64_t{loadPos_} + kOverlap + (doc_.bitsPerSample == 24 ? filled / 3 * 2 : filled);
        rawBytes = overlapRaw + filled;
        return true;
    }
    case kSourceApe: {
        src.Seek(loadPos_);
        int64_t got = src.ReadRaw(buffer_.data(), overlapRaw);
        if (got < 0) return Fail(src.LastError());
        auto& ape = *doc_.apeDecoder;
        const int64_t block = (int64_t{loadPos_} - doc_.dataStart + kOverlap) / 4;
        const int64_t want = std::min<int64_t>((int64_t{doc_.dataEnd} - loadPos_ - kOverlap) / 4, kApeBlocksPerChunk);
        if (!ape.Seek(block)) return Fail("The APE file cannot be decoded.");
        const int64_t blocks = ape.Decode(buffer_.data() + overlapRaw, want);
        if (blocks < 0) return Fail("The APE file cannot be decoded.");
        const int64_t bytes = blocks * ape.BlockAlign();
        src.Seek(int64_t{loadPos_} + kOverlap);
        if (!src.WriteRaw(buffer_.data() + overlapRaw, bytes)) return Fail(src.LastError());
        rawBytes = overlapRaw + bytes;
        return true;
    }
    case kSourceMono: {
        src.Seek(loadPos_);
        int64_t got = src.ReadRaw(buffer_.data(), kOverlap);
        if (got < 0) return Fail(src.LastError());
        // The mono samples of exactly the frames behind the look-ahead.
        const int64_t stereoBytes = std::min<int64_t>(int64_t{doc_.dataEnd} - loadPos_ - kOverlap, kSegmentBytes);
        const int64_t monoOffset = doc_.monoDataStart + (int64_t{loadPos_} + kOverlap - doc_.dataStart) / 2;
        int64_t outBytes = 0;
        if (!WidenMono(monoOffset, stereoBytes / 2, buffer_.data() + kOverlap, outBytes)) return false;
        src.Seek(int64_t{loadPos_} + kOverlap);
        if (!src.WriteRaw(buffer_.data() + kOverlap, outBytes)) return Fail(src.LastError());
        rawBytes = kOverlap + outBytes;
        return true;
    }
    default: {
        src.Seek(loadPos_);
        rawBytes = src.ReadRaw(buffer_.data(), bufferBytes_);
        if (rawBytes < 0) return Fail(src.LastError());
        return true;
    }
    }
}

bool CLoadPass::NextChunk(const int16_t*& values, int32_t& valueCount)
{
    const bool b24 = doc_.bitsPerSample == 24;
    int64_t rawBytes = 0;
    if (!ReadChunkInput(rawBytes)) return false;
    // Past the end of the data the scanner sees silence, never the previous
    // chunk's leftovers.
    std::fill(buffer_.begin() + rawBytes, buffer_.end(), uint8_t{0});
    doc_.workingFile.Seek(loadPos_);
    if (!doc_.workingFile.WriteRaw(buffer_.data(), rawBytes)) return Fail(doc_.workingFile.LastError());

    const int64_t samples = b24 ? bufferBytes_ / 3 : bufferBytes_ / 2;
    if (b24) ReduceTo16(buffer_.data(), samples);
    values = reinterpret_cast<const int16_t*>(buffer_.data());
    valueCount = static_cast<int32_t>(samples);

    // The last chunk's look-ahead holds the final frames; nothing else
    // passes over them.
    const bool last = int64_t{loadPos_} + kSegmentBytes >= int64_t{doc_.dataEnd} - kOverlap;
    int64_t statsEnd = last ? doc_.dataEnd : std::min<int64_t>(int64_t{loadPos_} + kSegmentBytes, doc_.dataEnd);
    const int64_t readUnits = b24 ? rawBytes / 3 * 2 : rawBytes;
    statsEnd = std::min<int64_t>(statsEnd, loadPos_ + readUnits);
    if (statsEnd > loadPos_) {
        stats_->Add(loadPos_, values, static_cast<int32_t>((statsEnd - loadPos_) / 4));
        statsDone_ = static_cast<int32_t>(statsEnd);
    }

    loadPos_ += kSegmentBytes;
    return true;
}

bool CLoadPass::Finish()
{
    const bool b24 = doc_.bitsPerSample == 24;
    // A recording shorter than 1024 frames has no tail beyond what Begin copied.
    const int32_t tailPos = std::max(doc_.dataEnd - kOverlap, doc_.dataStart);
    const int64_t tailRaw = b24 ? doc_.dataStart + int64_t{tailPos - doc_.dataStart} / 2 * 3 : tailPos;
    int64_t bytes = 0;
    if (Decoding(kSourceMerged) && mergedTo_ < doc_.dataEnd) {
        // A side too short for any chunk: the rest of its audio comes now.
        int64_t filled = 0;
        if (!FillFromInputs(buffer_.data(), CWaveFile::BytesOf(doc_.dataEnd - mergedTo_, doc_.bitsPerSample), filled))
            return false;
        doc_.sourceFile.Seek(mergedTo_);
        if (!doc_.sourceFile.WriteRaw(buffer_.data(), filled)) return Fail(doc_.sourceFile.LastError());
        mergedTo_ = doc_.dataEnd;
    }
    if (Decoding(kSourceApe)) {
        auto& ape = *doc_.apeDecoder;
        const int64_t block = (int64_t{tailPos} - doc_.dataStart) / 4;
        if (!ape.Seek(block)) return Fail("The APE file cannot be decoded.");
        const int64_t blocks = ape.Decode(buffer_.data(), 1024);
        if (blocks < 0) return Fail("The APE file cannot be decoded.");
        bytes = blocks * ape.BlockAlign();
        doc_.sourceFile.SeekRaw(tailRaw);
        if (!doc_.sourceFile.WriteRaw(buffer_.data(), bytes)) return Fail(doc_.sourceFile.LastError());
        doc_.apeDecoder.reset();
    } else {
        doc_.sourceFile.SeekRaw(tailRaw);
        bytes = doc_.sourceFile.ReadRaw(buffer_.data(), bufferBytes_);
        if (bytes < 0) return Fail(doc_.sourceFile.LastError());
    }
    doc_.workingFile.SeekRaw(tailRaw);
    if (!doc_.workingFile.WriteRaw(buffer_.data(), bytes)) return Fail(doc_.workingFile.LastError());
    // Whatever follows the data (tags, cue lists, a long LIST chunk) is part
    // of the file the user gave us and goes into the copy whole, however
    // long: a corrected file written from the working copy must keep it.
    if (bytes == bufferBytes_) {
        std::vector<uint8_t> rest(static_cast<size_t>(bufferBytes_));
        for (int64_t at = tailRaw + bytes;;) {
            doc_.sourceFile.SeekRaw(at);
            const int64_t got = doc_.sourceFile.ReadRaw(rest.data(), bufferBytes_);
            if (got < 0) return Fail(doc_.sourceFile.LastError());
            if (got == 0) break;
            doc_.workingFile.SeekRaw(at);
            if (!doc_.workingFile.WriteRaw(rest.data(), got)) return Fail(doc_.workingFile.LastError());
            at += got;
        }
    }

    // A recording too short for any chunk has frames that only this copy
    // passes over; their blocks need their statistics too.
    if (statsDone_ < doc_.dataEnd && statsDone_ >= tailPos) {
        const int64_t skip = b24 ? int64_t{statsDone_ - tailPos} / 2 * 3 : statsDone_ - tailPos;
        const int64_t units = std::min<int64_t>(doc_.dataEnd - statsDone_, b24 ? (bytes - skip) / 3 * 2 : bytes - skip);
        if (units > 0) {
            uint8_t* audio = buffer_.data() + skip;
            if (b24) ReduceTo16(audio, units / 2);
            std::vector<int16_t> tail(static_cast<size_t>(units / 2));
            std::memcpy(tail.data(), audio, tail.size() * 2);
            stats_->Add(statsDone_, tail.data(), static_cast<int32_t>(units / 4));
            statsDone_ += static_cast<int32_t>(units);
        }
    }
    stats_->Finish();
    if (Decoding(kSourceMono)) doc_.monoFile.Close();
    mergeInput_.Close();
    buffer_.clear();
    buffer_.shrink_to_fit();
    return true;
}

LoadOutcome CLoadPass::Run(ILoadScanner* scanner, bool hissQuestion)
{
    // Not the chunk driver's loop: the copy decodes and widens its input on
    // the way, the statistics and the scanner see chunks that overlap, and a
    // stop may end the scan while the copy goes on. The progress and the
    // test for a press of Cancel are the shared ones.
    CProgressScope progress(doc_);

    if (!Begin()) return LoadOutcome::Failed;
    progress->SetRange(0, doc_.dataEnd);
    bool scanning = scanner != nullptr;
    bool stopped = false;
    auto yes = [&](std::string_view question) {
        return doc_.Ui().MessageBox(question, kAppCaption, MbButtons::YesNo, MbIcon::Question) == MbAnswer::Yes;
    };
    while (!AtEnd()) {
        if (progress.CancelPressed()) {
            if (doc_.loaded) {
                if (scanning && yes(cancel::kRescanAborted)) {
                    scanning = false;
                    stopped = true;
                    doc_.scanCancelledAt = loadPos_;
                }
            } else if (!scanning) {
                if (yes(cancel::kLoadAborted)) return LoadOutcome::Abandoned;
            } else {
                const std::string_view question =
                    hissQuestion ? cancel::kContinueWithoutHissFilter : cancel::kContinueWithoutClickScan;
                const MbAnswer a = doc_.Ui().MessageBox(question, kAppCaption, MbButtons::YesNoCancel, MbIcon::Question);
                if (a == MbAnswer::Yes) {
                    scanning = false;
                    stopped = true;
                    doc_.scanCancelledAt = loadPos_;
                    progress->SetCaption("Scan cancelled. Continuing to load file...");
                    progress->SetStageName(0, "Operation Cancelled");
                    progress->SetStageName(1, "");
                    progress->SetStage(0, 0);
                } else if (a == MbAnswer::No) {
                    return LoadOutcome::Abandoned;
                }
            }
        }
        progress->SetPos(loadPos_);
        const int32_t chunkOffset = loadPos_;
        const int16_t* values = nullptr;
        int32_t count = 0;
        if (!NextChunk(values, count)) return LoadOutcome::Failed;
        if (scanning) scanner->ScanChunk(values, chunkOffset, count);
    }
    if (!Finish()) return LoadOutcome::Failed;
    if (scanning) scanner->EndOfScan();
    progress->SetPos(doc_.dataEnd);
    return stopped ? LoadOutcome::ScanStopped : LoadOutcome::Completed;
}

}  // namespace kelvane
