#include "CFlacImport.h"

#include "document/CImporter.h"
#include "document/CProgressScope.h"
#include "document/CQuillon3Doc.h"
#include "document/CancelQuestions.h"
#include "document/Interaction.h"
#include "document/ScratchFiles.h"
#include "document/WavHeader.h"

#include <FLAC++/decoder.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kelvane {

std::string FormatSampleTime(uint64_t sample, unsigned rate)
{
    if (rate == 0) rate = 44100;
    const uint64_t ms = sample * 1000 / rate;
    char text[48];
    std::snprintf(text, sizeof text, "%llu:%02llu.%03llu", static_cast<unsigned long long>(ms / 60000),
                  static_cast<unsigned long long>(ms / 1000 % 60), static_cast<unsigned long long>(ms % 1000));
    return text;
}

namespace {

constexpr const char* kMsgWriteError = "ERROR: write error\n";

const char* DamageWords(::FLAC__StreamDecoderErrorStatus status)
{
    switch (status) {
    case FLAC__STREAM_DECODER_ERROR_STATUS_LOST_SYNC: return "the stream loses its frame sync";
    case FLAC__STREAM_DECODER_ERROR_STATUS_BAD_HEADER: return "a frame header is damaged";
    case FLAC__STREAM_DECODER_ERROR_STATUS_FRAME_CRC_MISMATCH: return "a frame fails its checksum (CRC)";
    case FLAC__STREAM_DECODER_ERROR_STATUS_UNPARSEABLE_STREAM: return "the stream cannot be parsed";
    default: return "a metadata block is damaged";
    }
}

class CFlacToWav final : public FLAC::Decoder::Stream {
public:
    CFlacToWav(CQuillon3Doc& doc, int in, std::FILE* out, CProgressWnd& progress, const FlacDecodeOptions& options)
        : doc_(doc), in_(in), out_(out), progress_(progress), options_(options)
    {
        struct stat st {};
        if (::fstat(in_, &st) == 0) inputBytes_ = static_cast<uint64_t>(st.st_size);
    }

    bool failed = false;  // a message has been shown; the decode was aborted
    FailKind failKind = FailKind::None;
    std::string failText;
    bool damagedRefusal = false;

    bool HaveStreamInfo() const { return haveInfo_; }
    uint64_t StatedSamples() const { return totalSamples_; }
    uint64_t DecodedSamples() const { return written_; }
    unsigned SampleRate() const { return sampleRate_; }
    unsigned Bits() const { return bits_; }
    unsigned Channels() const { return channels_; }
    bool HeaderWritten() const { return headerWritten_; }

    // STREAMINFO has been read: the format is checked and the caller's check
    // of the size runs before a single sample is written.
    bool CheckStream()
    {
        if (!haveInfo_) {
            Abort(FailKind::BadInput, "The file is not a FLAC file: it has no STREAMINFO block.");
            return false;
        }
        // Only stereo 16/24-bit audio can be processed; finding that out
        // after decoding the whole file would waste the user's time, and a
        // multi-channel stream would otherwise pass as 24-bit stereo.
        if (channels_ != 2 || (bits_ != 16 && bits_ != 24) || !IsSupportedRate(sampleRate_)) {
            Abort(FailKind::BadInput, kMsgBadFormat);
            return false;
        }
        const int64_t wavBytes = totalSamples_ == 0 ? 0 : static_cast<int64_t>(44 + totalSamples_ * bits_ / 8 * 2);
        if (totalSamples_ != 0 && wavBytes > (bits_ == 24 ? kMaxBytes24 : kMaxBytes16)) {
            Abort(FailKind::BadInput, kMsgTooLong);
            return false;
        }
        if (options_.beforeDecode) {
            const OpResult r = options_.beforeDecode(wavBytes, static_cast<int>(bits_));
            if (!r.Ok()) {
                failed = true;
                failKind = r.kind;
                failText = r.message;
                return false;
            }
        }
        return true;
    }

    // The first damage found, for the refusal: what and where.
    bool Damaged() const { return damaged_; }
    const std::string& DamageText() const { return damageText_; }

    // Records the first damage: what is wrong, and where the first bad
    // frame starts.
    void NoteFrameDamage(const std::string& what, uint64_t at)
    {
        NoteDamage("The FLAC file is damaged: " + what + " at " + FormatSampleTime(at, sampleRate_) +
                   " (the first bad frame).");
    }
    void NoteDamage(const std::string& text)
    {
        if (damaged_) return;
        damaged_ = true;
        damageText_ = text;
    }

protected:
    ::FLAC__StreamDecoderReadStatus read_callback(FLAC__byte buffer[], size_t* bytes) override
    {
        // libFLAC reads through any amount of junk looking for a frame; the
        // user must be able to stop that as well as the decoding proper.
        if (CancelRequested()) {
            *bytes = 0;
            return FLAC__STREAM_DECODER_READ_STATUS_ABORT;
        }
        for (;;) {
            const ssize_t got = ::read(in_, buffer, *bytes);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) {
                Abort(FailKind::Environment, std::string("ERROR: reading the FLAC file: ") + std::strerror(errno));
                *bytes = 0;
                return FLAC__STREAM_DECODER_READ_STATUS_ABORT;
            }
            *bytes = static_cast<size_t>(got);
            if (got == 0) {
                atEof_ = true;
                return FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM;
            }
            bytesRead_ += static_cast<uint64_t>(got);
            return FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
        }
    }

    ::FLAC__StreamDecoderSeekStatus seek_callback(FLAC__uint64 offset) override
    {
        if (::lseek(in_, static_cast<off_t>(offset), SEEK_SET) < 0) return FLAC__STREAM_DECODER_SEEK_STATUS_ERROR;
        atEof_ = false;
        return FLAC__STREAM_DECODER_SEEK_STATUS_OK;
    }

    ::FLAC__StreamDecoderTellStatus tell_callback(FLAC__uint64* offset) override
    {
        const off_t at = ::lseek(in_, 0, SEEK_CUR);
        if (at < 0) return FLAC__STREAM_DECODER_TELL_STATUS_ERROR;
        *offset = static_cast<FLAC__uint64>(at);
        return FLAC__STREAM_DECODER_TELL_STATUS_OK;
    }

    ::FLAC__StreamDecoderLengthStatus length_callback(FLAC__uint64* length) override
    {
        *length = inputBytes_;
        return FLAC__STREAM_DECODER_LENGTH_STATUS_OK;
    }

    bool eof_callback() override { return atEof_; }

    void metadata_callback(const FLAC__StreamMetadata* metadata) override
    {
        if (metadata->type == FLAC__METADATA_TYPE_STREAMINFO) {
            const auto& info = metadata->data.stream_info;
            haveInfo_ = true;
            totalSamples_ = info.total_samples;
            sampleRate_ = info.sample_rate;
            channels_ = info.channels;
            bits_ = info.bits_per_sample;
        } else if (metadata->type == FLAC__METADATA_TYPE_VORBIS_COMMENT) {
            ReadComments(metadata->data.vorbis_comment);
        }
    }

    ::FLAC__StreamDecoderWriteStatus write_callback(const ::FLAC__Frame* frame,
                                                    const FLAC__int32* const buffer[]) override
    {
        const auto& h = frame->header;
        // Every frame must have the stream's format: the samples are laid
        // out by it, and a frame with fewer channels has fewer buffers.
        if (h.channels != channels_ || h.bits_per_sample != bits_ || (h.sample_rate != 0 && h.sample_rate != sampleRate_))
            return Abort(FailKind::BadInput, std::string(kMsgBadFormat) + "\nThe stream changes its format at " +
                                                 FormatSampleTime(written_, sampleRate_) + ".");
        if (pendingDamage_) {
            // Audio was lost between the last good frame and this one.
            pendingDamage_ = false;
            NoteFrameDamage(pendingWhat_, pendingAt_);
        }
        const uint64_t first = h.number_type == FLAC__FRAME_NUMBER_TYPE_SAMPLE_NUMBER
                                   ? h.number.sample_number
                                   : static_cast<uint64_t>(h.number.frame_number) * h.blocksize;
        if (!headerWritten_) {
            // A stream picked up in the middle (a live recording) need not
            // start at sample 0; one with a stated length must.
            base_ = totalSamples_ == 0 ? first : 0;
            uint8_t header[44];
            MakeWavHeader(header, static_cast<int>(sampleRate_), static_cast<int>(bits_), static_cast<int>(channels_),
                          static_cast<uint32_t>(totalSamples_ * bits_ / 8 * channels_));
            if (std::fwrite(header, 1, 44, out_) != 44) return Abort(FailKind::Environment, kMsgWriteError);
            headerWritten_ = true;
        }
        if (first != base_ + written_) NoteFrameDamage("a stretch of frames is missing", written_);
        if (damaged_ && !options_.acceptDamaged) return Refuse();
        const bool known = totalSamples_ != 0;
        const uint64_t range = known ? totalSamples_ : inputBytes_ / 1024;
        const uint64_t pos = known ? written_ : bytesRead_ / 1024;
        if (!rangeSet_) {
            progress_.SetRange(0, static_cast<int32_t>(std::min<uint64_t>(range, INT32_MAX)));
            rangeSet_ = true;
        }
        progress_.SetPos(static_cast<int32_t>(std::min<uint64_t>(std::min(pos, range), INT32_MAX)));
        if (CancelRequested()) return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
        const unsigned blocksize = h.blocksize;
        const unsigned bytesPer = bits_ == 16 ? 2 : 3;
        const uint64_t limit = bits_ == 24 ? kMaxBytes24 : kMaxBytes16;
        if (44 + (written_ + blocksize) * bytesPer * channels_ > limit) return Abort(FailKind::BadInput, kMsgTooLong);
        pcm_.resize(static_cast<size_t>(blocksize) * channels_ * bytesPer);
        uint8_t* p = pcm_.data();
        for (unsigned i = 0; i < blocksize; ++i) {
            for (unsigned c = 0; c < channels_; ++c) {
                const auto v = static_cast<uint32_t>(buffer[c][i]);
                *p++ = static_cast<uint8_t>(v);
                *p++ = static_cast<uint8_t>(v >> 8);
                if (bytesPer == 3) *p++ = static_cast<uint8_t>(v >> 16);
            }
        }
        if (std::fwrite(pcm_.data(), 1, pcm_.size(), out_) != pcm_.size()) return Abort(FailKind::Environment, kMsgWriteError);
        written_ += blocksize;
        return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
    }

    void error_callback(::FLAC__StreamDecoderErrorStatus status) override
    {
        if (status == FLAC__STREAM_DECODER_ERROR_STATUS_FRAME_CRC_MISMATCH) {
            // libFLAC hands the frame over as silence next.
            NoteFrameDamage(DamageWords(status), written_);
        } else if (!pendingDamage_ && !damaged_) {
            // Lost sync or a bad header is damage when audio follows it; junk
            // after the last frame (a tag some program appended) is not.
            pendingDamage_ = true;
            pendingWhat_ = DamageWords(status);
            pendingAt_ = written_;
        }
        if (!options_.acceptDamaged) return;
        // The user wants what can be had: told once per kind, since a
        // damaged file can raise the same error thousands of times.
        const unsigned bit = 1u << (static_cast<unsigned>(status) & 31u);
        if (reported_ & bit) return;
        reported_ |= bit;
        char text[160];
        std::snprintf(text, sizeof text, "Got error callback: %s\n", FLAC__StreamDecoderErrorStatusString[status]);
        doc_.Ui().MessageBox(text, kAppCaption, MbButtons::Ok, MbIcon::Warning);
    }

private:
    bool CancelRequested()
    {
        if (!CancelConfirmed(doc_.Ui(), progress_, cancel::kReallyCancel)) return false;
        failed = true;
        failKind = FailKind::Cancelled;
        failText = cancel::kReallyCancel;
        return true;
    }

    ::FLAC__StreamDecoderWriteStatus Refuse()
    {
        damagedRefusal = true;
        return Abort(FailKind::BadInput, DamageText());
    }

    ::FLAC__StreamDecoderWriteStatus Abort(FailKind kind, const std::string& text)
    {
        if (failed) return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
        failed = true;
        failKind = kind;
        failText = text;
        doc_.Ui().MessageBox(text, kAppCaption, MbButtons::Ok, MbIcon::Warning);
        return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
    }

    void ReadComments(const FLAC__StreamMetadata_VorbisComment& vc)
    {
        doc_.passedOnComments.clear();
        for (FLAC__uint32 i = 0; i < vc.num_comments; ++i) {
            const auto& entry = vc.comments[i];
            std::string text(reinterpret_cast<const char*>(entry.entry), entry.length);
            const size_t eq = text.find('=');
            std::string name = text.substr(0, eq);
            std::string value = eq == std::string::npos ? std::string() : text.substr(eq + 1);
            for (char& ch : name) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
            if (name == "TITLE") doc_.inputTags.title = value;
            else if (name == "ARTIST") doc_.inputTags.artist = value;
            else if (name == "ALBUM") doc_.inputTags.album = value;
            else if (name == "GENRE") doc_.inputTags.genre = value;
            else if (name == "TRACKNUMBER") doc_.inputTrackNumber = value;
            else doc_.passedOnComments.push_back(name + "=\"" + value + "\"");
        }
    }

    CQuillon3Doc& doc_;
    int in_;
    std::FILE* out_;
    CProgressWnd& progress_;
    const FlacDecodeOptions& options_;
    uint64_t inputBytes_ = 0;
    uint64_t bytesRead_ = 0;
    bool atEof_ = false;
    bool haveInfo_ = false;
    uint64_t totalSamples_ = 0;
    unsigned sampleRate_ = 0, channels_ = 0, bits_ = 0;
    bool headerWritten_ = false;
    bool rangeSet_ = false;
    uint64_t base_ = 0;
    uint64_t written_ = 0;
    unsigned reported_ = 0;
    bool damaged_ = false;
    std::string damageText_;
    bool pendingDamage_ = false;
    const char* pendingWhat_ = "";
    uint64_t pendingAt_ = 0;
    std::vector<uint8_t> pcm_;
};

// The header written before the decode states STREAMINFO's total; the file
// holds what was decoded. Both size fields are made to say so.
bool PatchSizes(std::FILE* out, uint64_t dataBytes)
{
    uint8_t field[4];
    PutLe32(field, static_cast<uint32_t>(dataBytes + 36));
    if (std::fseek(out, 4, SEEK_SET) != 0 || std::fwrite(field, 1, 4, out) != 4) return false;
    PutLe32(field, static_cast<uint32_t>(dataBytes));
    return std::fseek(out, 40, SEEK_SET) == 0 && std::fwrite(field, 1, 4, out) == 4;
}

}  // namespace

OpResult DecodeFlacToWav(CQuillon3Doc& doc, const std::string& flacPath, const std::string& tmpPath,
                         const FlacDecodeOptions& options)
{
    auto fail = [&](FailKind kind, const std::string& text, bool shown) {
        if (!shown) doc.Ui().MessageBox(text, kAppCaption, MbButtons::Ok, kind == FailKind::BadInput ? MbIcon::Warning : MbIcon::Error);
        RemoveScratchFile(tmpPath);
        return OpResult::Fail(kind, text);
    };
    // Opened without waiting, so that a FIFO put in the file's place after
    // it was checked cannot block us, then checked once more.
    const int in = ::open(flacPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (in < 0) return fail(FailKind::BadInput, flacPath + ": " + std::strerror(errno), false);
    struct stat st {};
    if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(in);
        return fail(FailKind::BadInput, "\"" + flacPath + "\" is not a regular file.", false);
    }
    ::fcntl(in, F_SETFL, ::fcntl(in, F_GETFL) & ~O_NONBLOCK);

    std::FILE* out = std::fopen(tmpPath.c_str(), "wb");
    if (!out) {
        const std::string text = tmpPath + ": " + std::strerror(errno);
        ::close(in);
        return fail(FailKind::Environment, text, false);
    }
    std::vector<char> outBuffer(1 << 20);
    std::setvbuf(out, outBuffer.data(), _IOFBF, outBuffer.size());

    CProgressScope progress(doc);
    CFlacToWav decoder(doc, in, out, progress.Window(), options);
    decoder.set_md5_checking(true);
    decoder.set_metadata_respond(FLAC__METADATA_TYPE_VORBIS_COMMENT);
    const FLAC__StreamDecoderInitStatus init = decoder.init();
    if (init != FLAC__STREAM_DECODER_INIT_STATUS_OK) {
        char text[200];
        std::snprintf(text, sizeof text, "ERROR: initializing decoder: %s\n", FLAC__StreamDecoderInitStatusString[init]);
        std::fclose(out);
        ::close(in);
        return fail(FailKind::BadInput, text, false);
    }

    progress->SetCaption("Loading Flac file...");
    progress->SetStageName(0, "Decode Flac File");
    progress->SetStage(0, -1);
    // A file with no FLAC stream in it reads to its end without a failure:
    // CheckStream finds no STREAMINFO then.
    decoder.process_until_end_of_metadata();
    bool ok = !decoder.failed && decoder.CheckStream();
    ok = ok && decoder.process_until_end_of_stream();
    const FLAC__StreamDecoderState state = decoder.get_state();
    ok = ok && !decoder.failed && state == FLAC__STREAM_DECODER_END_OF_STREAM;
    const bool md5Ok = decoder.finish();
    ::close(in);

    if (!ok) {
        std::fclose(out);
        if (decoder.failed) {
            RemoveScratchFile(tmpPath);
            OpResult r = OpResult::Fail(decoder.failKind, decoder.failText);
            r.damaged = decoder.damagedRefusal;
            return r;
        }
        return fail(FailKind::BadInput, std::string("ERROR: decoding failed: ") + FLAC__StreamDecoderStateString[state] + "\n",
                    false);
    }
    if (!decoder.HeaderWritten()) {
        std::fclose(out);
        return fail(FailKind::BadInput, "The FLAC file holds no audio.", false);
    }

    const uint64_t stated = decoder.StatedSamples();
    const uint64_t decoded = decoder.DecodedSamples();
    if (stated != 0 && decoded < stated)
        decoder.NoteDamage("The FLAC file is cut short: its audio ends at " +
                           FormatSampleTime(decoded, decoder.SampleRate()) + ", but its header states " +
                           FormatSampleTime(stated, decoder.SampleRate()) + ".");
    if (!md5Ok)
        decoder.NoteDamage("The FLAC file is damaged: the decoded audio does not match the MD5 signature stored in it.");
    if (decoder.Damaged()) {
        if (!options.acceptDamaged) {
            std::fclose(out);
            OpResult r = fail(FailKind::BadInput, decoder.DamageText(), false);
            r.damaged = true;
            return r;
        }
        if (!md5Ok)
            doc.Ui().MessageBox("The decoded audio does not match the MD5 signature stored in the FLAC file.",
                                kAppCaption, MbButtons::Ok, MbIcon::Warning);
    }

    if (stated != 0 && decoded > stated) {
        // The header undercounts (a writer that never went back to fix it):
        // the audio is all there and all of it is kept.
        const unsigned rate = decoder.SampleRate();
        doc.Ui().MessageBox("The FLAC file holds more audio than its header states (" + FormatSampleTime(decoded, rate) +
                                " instead of " + FormatSampleTime(stated, rate) + "); all of it is kept.",
                            kAppCaption, MbButtons::Ok, MbIcon::Information);
    }
    const uint64_t dataBytes = decoded * decoder.Bits() / 8 * decoder.Channels();
    bool written = std::fflush(out) == 0;
    if (written && decoded != stated) written = PatchSizes(out, dataBytes);
    const bool closed = std::fclose(out) == 0;
    if (!written || !closed) return fail(FailKind::Environment, kMsgWriteError, false);
    return OpResult::Success();
}

}  // namespace kelvane
