#include "output/CApeEncoder.h"

#include "output/ApeFormat.h"
#include "output/CApeVerifier.h"
#include "output/TrackTags.h"

extern "C" {
#include <libavutil/crc.h>
#include <libavutil/md5.h>
#include <libavutil/mem.h>
}

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

namespace kelvane {

namespace {

struct AvFreeMd5 {
    void operator()(AVMD5* md5) const { av_free(md5); }
};

// pwrite or pread (io) of all size bytes at the offset, which either may
// move in parts.
template <typename Io, typename Byte>
bool WholeAt(Io io, int fd, Byte* data, size_t size, off_t at)
{
    while (size > 0) {
        const ssize_t n = io(fd, data, size, at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
        at += n;
    }
    return true;
}

bool WriteAt(int fd, const uint8_t* data, size_t size, off_t at) { return WholeAt(::pwrite, fd, data, size, at); }

bool ReadAt(int fd, uint8_t* data, size_t size, off_t at) { return WholeAt(::pread, fd, data, size, at); }

// Moves the bytes [from, end) of the file by shift towards its end, last
// chunk first so that nothing is overwritten before it is read.
bool ShiftTail(int fd, uint64_t from, uint64_t end, uint64_t shift)
{
    std::vector<uint8_t> chunk(size_t{1} << 20);
    for (uint64_t stop = end; stop > from;) {
        const uint64_t start = std::max(from, stop - std::min<uint64_t>(stop - from, chunk.size()));
        const size_t n = static_cast<size_t>(stop - start);
        if (!ReadAt(fd, chunk.data(), n, static_cast<off_t>(start)) ||
            !WriteAt(fd, chunk.data(), n, static_cast<off_t>(start + shift)))
            return false;
        stop = start;
    }
    return true;
}

void PutLe32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

struct CApeEncoder::State {
    EncoderTags tags;
    int channels = 0;
    int bits = 0;
    int sampleRate = 0;
    uint32_t blocksPerFrame = 0;
    uint32_t seekEntries = 0;  // room reserved at the start of the file
    std::FILE* file = nullptr;  // the partial file, closed by CThreadedEncoder

    // The worker's while it runs, the caller's before and after.
    std::unique_ptr<ape::CFrameEncoder> coder;
    std::unique_ptr<CApeVerifier> verifier;
    PacketTamper tamper;
    std::unique_ptr<AVMD5, AvFreeMd5> md5;
    std::vector<uint8_t> pending;  // stream bytes not yet making a whole word
    uint64_t dataStart = 0;        // file offset of the first frame
    uint64_t streamBytes = 0;      // stream bytes so far
    std::vector<CApeVerifier::ExpectedFrame> frames;
    uint64_t totalBlocks = 0;

    // Writes whole words of the stream (reversed as stored) and adds them to
    // the file's checksum.
    bool WriteWords(uint8_t* words, size_t size)
    {
        ape::SwapWords(words, size);
        av_md5_update(md5.get(), words, size);
        return std::fwrite(words, 1, size, file) == size;
    }
};

CApeEncoder::CApeEncoder(int compressionLevel, bool verify)
    : CThreadedEncoder("Monkey's Audio", verify), level_(std::clamp((compressionLevel + 500) / 1000, 1, 4) * 1000)
{
}

CApeEncoder::~CApeEncoder() { Abort(); }

bool CApeEncoder::Open(const std::filesystem::path& path, int sampleRate, int bitsPerSample, int channels,
                       uint64_t totalFramesEstimate, const EncoderTags& tags)
{
    if (!Prepare(sampleRate, bitsPerSample, channels, tags, /*rateStorable=*/true)) return false;

    auto s = std::make_unique<State>();
    s->tags = tags;
    s->channels = channels;
    s->bits = bitsPerSample;
    s->sampleRate = sampleRate;
    s->blocksPerFrame = ape::BlocksPerFrame(level_);
    // The table gets its final size at the end; an estimate that is right
    // saves moving the frames then.
    const uint64_t estimatedFrames = (totalFramesEstimate + s->blocksPerFrame - 1) / s->blocksPerFrame;
    s->seekEntries = static_cast<uint32_t>(std::min<uint64_t>(estimatedFrames, uint64_t{1} << 20));
    s->dataStart = ape::kDescriptorBytes + ape::kHeaderBytes + uint64_t{s->seekEntries} * 4;
    try {
        s->coder = std::make_unique<ape::CFrameEncoder>(level_, channels, bitsPerSample);
        s->pending.reserve(size_t{1} << 20);
    } catch (const std::bad_alloc&) {
        return Fail("Out of memory while starting the Monkey's Audio encoder.");
    }
    s->md5.reset(av_md5_alloc());
    if (!s->md5) return Fail("Out of memory while starting the Monkey's Audio encoder.");
    av_md5_init(s->md5.get());

    // Read as well as written: frames may have to move at the end.
    std::FILE* file = CreatePartial(path, "w+b");
    if (!file) return false;
    state_ = std::move(s);
    State& st = *state_;
    st.file = file;
    // Room for the descriptor, header and seek table, written at the end.
    const std::vector<uint8_t> room(static_cast<size_t>(st.dataStart), 0);
    if (std::fwrite(room.data(), 1, room.size(), st.file) != room.size())
        return Fail(std::string("The Monkey's Audio file could not be written: ") + kDiskFull + ".");

    if (Verifying()) {
        st.verifier = std::make_unique<CApeVerifier>(level_, channels, bitsPerSample, sampleRate);
        if (!st.verifier->Start()) return Fail("The Monkey's Audio encoder could not start its verification.");
        st.tamper = packetTamper_;
    }
    // The verifier holds the frames waiting for it and the one it decodes.
    return StartWorker(st.blocksPerFrame, st.verifier ? CApeVerifier::kMaxPending + 1 : 0);
}

// Encodes one frame, writes its whole words and hands it to the verifier.
std::string CApeEncoder::EncodeBlock(const Block& frame)
{
    static const AVCRC* const crcTable = av_crc_get_table(AV_CRC_32_IEEE_LE);
    State& s = *state_;
    std::vector<uint8_t>& pending = s.pending;
    const size_t skip = pending.size();
    s.coder->Encode(frame.samples.get(), frame.frames, pending);
    CApeVerifier::ExpectedFrame expected;
    expected.blocks = static_cast<uint32_t>(frame.frames);
    expected.offset = s.dataStart + s.streamBytes;
    expected.length = static_cast<uint32_t>(pending.size() - skip);
    expected.crc = av_crc(crcTable, 0xFFFFFFFFu, pending.data() + skip, expected.length) ^ 0xFFFFFFFFu;

    const size_t whole = pending.size() & ~size_t{3};
    uint8_t last[4] = {};
    std::memcpy(last, pending.data() + whole, pending.size() - whole);
    if (!s.WriteWords(pending.data(), whole))
        return std::string("the Monkey's Audio file could not be written: ") + kDiskFull + ".";

    if (s.verifier) {
        // What the demuxer will cut from the file: the words the frame
        // touches, the last one still missing the next frame's bytes
        // (zero here; the decoder stops before them).
        std::vector<uint8_t> packet;
        packet.reserve(8 + whole + 4);
        PutLe32(packet, expected.blocks);
        PutLe32(packet, static_cast<uint32_t>(skip));
        packet.insert(packet.end(), pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(whole));
        if (whole < pending.size()) {
            ape::SwapWords(last, 4);
            packet.insert(packet.end(), last, last + 4);
            ape::SwapWords(last, 4);
        }
        if (s.tamper) s.tamper(packet, static_cast<uint32_t>(s.frames.size()));
        if (!s.verifier->Add(frame.samples, frame.frames, std::move(packet)))
            return std::string("Monkey's Audio encoding failed: ") + kMismatch + ".";
    }
    pending.assign(last, last + (pending.size() - whole));
    s.streamBytes += expected.length;
    s.totalBlocks += frame.frames;
    s.frames.push_back(expected);
    return {};
}

bool CApeEncoder::CompleteStream()
{
    State& s = *state_;
    const std::string incomplete = "The Monkey's Audio file could not be completed: ";
    const std::string notWritten = incomplete + kDiskFull + ".";
    // The stream ends on a whole word.
    s.pending.resize((s.pending.size() + 3) & ~size_t{3}, 0);
    if (!s.WriteWords(s.pending.data(), s.pending.size())) return Fail(notWritten);
    const uint64_t dataBytes = (s.streamBytes + 3) & ~uint64_t{3};
    const uint64_t tableEntries = std::max<uint64_t>(s.seekEntries, s.frames.size());
    // The seek table holds 32-bit file offsets.
    if (s.dataStart + (tableEntries - s.seekEntries) * 4 + dataBytes > 0xFFFFFFFFu)
        return Fail(incomplete + "Monkey's Audio files cannot hold more than 4 GB.");
    const std::vector<uint8_t> tag = BuildApeTag(s.tags);
    if (std::fwrite(tag.data(), 1, tag.size(), s.file) != tag.size() || std::fflush(s.file) != 0)
        return Fail(notWritten);

    const int fd = fileno(s.file);
    // An estimate that was too small: the frames move up to make room.
    const uint64_t shift = (tableEntries - s.seekEntries) * 4;
    if (shift > 0) {
        if (!ShiftTail(fd, s.dataStart, s.dataStart + dataBytes + tag.size(), shift)) return Fail(notWritten);
        for (auto& f : s.frames) f.offset += shift;
        s.dataStart += shift;
    }

    ape::StreamInfo info;
    info.level = level_;
    info.channels = s.channels;
    info.bits = s.bits;
    info.sampleRate = s.sampleRate;
    info.blocksPerFrame = s.blocksPerFrame;
    info.totalFrames = static_cast<uint32_t>(s.frames.size());
    info.finalFrameBlocks = s.frames.empty() ? 0 : s.frames.back().blocks;
    info.seekTableEntries = static_cast<uint32_t>(tableEntries);
    info.frameDataBytes = dataBytes;
    std::vector<uint8_t> table;
    table.reserve(tableEntries * 4);
    for (const auto& f : s.frames) PutLe32(table, static_cast<uint32_t>(f.offset));
    table.resize(tableEntries * 4, 0);
    // The file's checksum covers the frames, then the header and the table.
    const std::vector<uint8_t> header = ape::HeaderBytes(info);
    av_md5_update(s.md5.get(), header.data(), header.size());
    av_md5_update(s.md5.get(), table.data(), table.size());
    av_md5_final(s.md5.get(), info.md5);
    const std::vector<uint8_t> head = ape::DescriptorAndHeader(info);
    if (!WriteAt(fd, head.data(), head.size(), 0) || !WriteAt(fd, table.data(), table.size(), static_cast<off_t>(head.size())))
        return Fail(notWritten);

    if (s.verifier) {
        if (!s.verifier->Finish()) return Fail(incomplete + kMismatch + ".");
        if (fileTamper_) fileTamper_(PartialName());
        // Read back as the import will read it. A stream without frames has
        // nothing a reader would accept, nor anything to lose.
        if (!s.frames.empty()) {
            CApeVerifier::Expected expected;
            expected.level = level_;
            expected.channels = s.channels;
            expected.bits = s.bits;
            expected.sampleRate = s.sampleRate;
            expected.totalBlocks = s.totalBlocks;
            expected.frames = s.frames;
            expected.tags = s.tags;
            if (std::string why = CApeVerifier::CheckWrittenFile(PartialName().string(), expected); !why.empty())
                return Fail(incomplete + why + ".");
        }
    }
    return true;
}

void CApeEncoder::Interrupt()
{
    // A worker waiting to hand a frame to the verifier is let go.
    if (state_ && state_->verifier) state_->verifier->Stop();
}

void CApeEncoder::Release() { state_.reset(); }

}  // namespace kelvane
