#include "output/CApeEncoder.h"

#include "output/ApeFormat.h"
#include "output/CApeVerifier.h"
#include "output/DurableFiles.h"
#include "output/TrackTags.h"

extern "C" {
#include <libavutil/crc.h>
#include <libavutil/md5.h>
#include <libavutil/mem.h>
}

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

namespace kelvane {

namespace {

constexpr const char* kMismatch = "the encoded audio did not decode to the original samples";
constexpr const char* kDiskFull = "the file could not be written (is the disk full?)";

// Full frames that may wait for the worker: one keeps it busy while the
// caller fills the next; more would only hold memory.
constexpr size_t kFramesAhead = 2;

struct AvFreeMd5 {
    void operator()(AVMD5* md5) const { av_free(md5); }
};

bool WriteAt(int fd, const uint8_t* data, size_t size, off_t at)
{
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, data, size, at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
        at += n;
    }
    return true;
}

bool ReadAt(int fd, uint8_t* data, size_t size, off_t at)
{
    while (size > 0) {
        const ssize_t n = ::pread(fd, data, size, at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
        at += n;
    }
    return true;
}

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

struct Frame {
    std::shared_ptr<int32_t[]> samples;
    size_t blocks = 0;
};

}  // namespace

struct CApeEncoder::State {
    std::filesystem::path target;
    std::filesystem::path temp;
    std::FILE* file = nullptr;
    EncoderTags tags;
    int channels = 0;
    int bits = 0;
    int sampleRate = 0;
    uint32_t blocksPerFrame = 0;
    uint32_t seekEntries = 0;  // room reserved at the start of the file
    int32_t minSample = 0;
    int32_t maxSample = 0;

    // Caller's thread only: the frame Write copies into.
    Frame filling;

    // The hand-over to the worker, under mutex.
    std::mutex mutex;
    std::condition_variable ready;  // the worker waits here
    std::condition_variable room;   // Write waits here
    std::deque<Frame> queue;
    bool closing = false;
    bool stopping = false;
    std::string workerError;

    // The worker's while it runs, the caller's before and after.
    std::unique_ptr<ape::FrameEncoder> coder;
    std::unique_ptr<CApeVerifier> verifier;
    PacketTamper tamper;
    std::unique_ptr<AVMD5, AvFreeMd5> md5;
    std::vector<uint8_t> pending;  // stream bytes not yet making a whole word
    uint64_t dataStart = 0;        // file offset of the first frame
    uint64_t streamBytes = 0;      // stream bytes so far
    std::vector<CApeVerifier::ExpectedFrame> frames;
    uint64_t totalBlocks = 0;

    std::thread worker;  // last: joined before anything above goes

    std::string WorkerError()
    {
        std::lock_guard lock(mutex);
        return workerError;
    }

    // Writes whole words of the stream (reversed as stored) and adds them to
    // the file's checksum.
    bool WriteWords(uint8_t* words, size_t size)
    {
        ape::SwapWords(words, size);
        av_md5_update(md5.get(), words, size);
        return std::fwrite(words, 1, size, file) == size;
    }

    // Encodes one frame, writes its whole words and hands it to the
    // verifier. Returns why it failed, or nothing.
    std::string EncodeFrame(Frame& frame)
    {
        static const AVCRC* const crcTable = av_crc_get_table(AV_CRC_32_IEEE_LE);
        const size_t skip = pending.size();
        coder->Encode(frame.samples.get(), frame.blocks, pending);
        CApeVerifier::ExpectedFrame expected;
        expected.blocks = static_cast<uint32_t>(frame.blocks);
        expected.offset = dataStart + streamBytes;
        expected.length = static_cast<uint32_t>(pending.size() - skip);
        expected.crc = av_crc(crcTable, 0xFFFFFFFFu, pending.data() + skip, expected.length) ^ 0xFFFFFFFFu;

        const size_t whole = pending.size() & ~size_t{3};
        uint8_t last[4] = {};
        std::memcpy(last, pending.data() + whole, pending.size() - whole);
        if (!WriteWords(pending.data(), whole)) return std::string("the Monkey's Audio file could not be written: ") + kDiskFull + ".";

        if (verifier) {
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
            if (tamper) tamper(packet, static_cast<uint32_t>(frames.size()));
            if (!verifier->Add(frame.samples, frame.blocks, std::move(packet)))
                return std::string("Monkey's Audio encoding failed: ") + kMismatch + ".";
        }
        pending.assign(last, last + (pending.size() - whole));
        streamBytes += expected.length;
        totalBlocks += frame.blocks;
        frames.push_back(expected);
        return {};
    }

    void Run()
    {
        for (;;) {
            Frame frame;
            {
                std::unique_lock lock(mutex);
                ready.wait(lock, [&] { return stopping || closing || !queue.empty(); });
                if (stopping || queue.empty()) return;
                frame = std::move(queue.front());
                queue.pop_front();
                room.notify_all();
            }
            std::string why;
            try {
                why = EncodeFrame(frame);
            } catch (const std::bad_alloc&) {
                why = "Out of memory while encoding the Monkey's Audio file.";
            }
            if (!why.empty()) {
                std::lock_guard lock(mutex);
                workerError = std::move(why);
                room.notify_all();
                return;
            }
        }
    }

    // Hands the filled frame to the worker, waiting while it is behind.
    // Returns why not, or nothing.
    std::string Submit()
    {
        std::unique_lock lock(mutex);
        room.wait(lock, [&] { return !workerError.empty() || queue.size() < kFramesAhead; });
        if (!workerError.empty()) return workerError;
        queue.push_back(std::move(filling));
        filling = {};
        ready.notify_one();
        return {};
    }
};

CApeEncoder::CApeEncoder(int compressionLevel, bool verify)
    : level_(std::clamp((compressionLevel + 500) / 1000, 1, 4) * 1000), verify_(verify)
{
}

CApeEncoder::~CApeEncoder() { Abort(); }

bool CApeEncoder::Fail(std::string message)
{
    Abort();
    error_ = std::move(message);
    return false;
}

bool CApeEncoder::Open(const std::filesystem::path& path, int sampleRate, int bitsPerSample, int channels,
                       uint64_t totalFramesEstimate, const EncoderTags& tags)
{
    Abort();
    error_.clear();
    if (bitsPerSample != 16 && bitsPerSample != 24)
        return Fail("Monkey's Audio files can be written with 16 or 24 bits per sample only.");
    if (channels != 1 && channels != 2) return Fail("Monkey's Audio files can be written in mono or stereo only.");
    if (sampleRate <= 0)
        return Fail("The sample rate of " + std::to_string(sampleRate) + " Hz cannot be stored in a Monkey's Audio file.");
    for (const auto& [name, value] : tags) {
        if (std::string problem = TagProblem(name, value); !problem.empty()) return Fail(problem);
    }

    auto s = std::make_unique<State>();
    s->target = path;
    s->tags = tags;
    s->channels = channels;
    s->bits = bitsPerSample;
    s->sampleRate = sampleRate;
    s->blocksPerFrame = ape::BlocksPerFrame(level_);
    // The table gets its final size at the end; an estimate that is right
    // saves moving the frames then.
    const uint64_t estimatedFrames = (totalFramesEstimate + s->blocksPerFrame - 1) / s->blocksPerFrame;
    s->seekEntries = static_cast<uint32_t>(std::min<uint64_t>(estimatedFrames, uint64_t{1} << 20));
    s->maxSample = (int32_t{1} << (bitsPerSample - 1)) - 1;
    s->minSample = -s->maxSample - 1;
    s->dataStart = ape::kDescriptorBytes + ape::kHeaderBytes + uint64_t{s->seekEntries} * 4;
    try {
        s->coder = std::make_unique<ape::FrameEncoder>(level_, channels, bitsPerSample);
        s->pending.reserve(size_t{1} << 20);
    } catch (const std::bad_alloc&) {
        return Fail("Out of memory while starting the Monkey's Audio encoder.");
    }
    s->md5.reset(av_md5_alloc());
    if (!s->md5) return Fail("Out of memory while starting the Monkey's Audio encoder.");
    av_md5_init(s->md5.get());

    const PartialPath partial = CreatePartialFile(path.string());
    if (!partial) return Fail("The file \"" + path.string() + "\" could not be created: " + partial.error + ".");
    s->temp = partial.path;
    s->file = std::fopen(s->temp.c_str(), "w+b");
    if (!s->file) {
        const std::string why = std::strerror(errno);
        std::error_code ec;
        std::filesystem::remove(s->temp, ec);
        return Fail("The file \"" + path.string() + "\" could not be created: " + why + ".");
    }
    // From here on Abort owns the temporary file.
    state_ = std::move(s);
    State& st = *state_;
    std::setvbuf(st.file, nullptr, _IOFBF, size_t{1} << 16);
    // Room for the descriptor, header and seek table, written at the end.
    const std::vector<uint8_t> room(static_cast<size_t>(st.dataStart), 0);
    if (std::fwrite(room.data(), 1, room.size(), st.file) != room.size())
        return Fail(std::string("The Monkey's Audio file could not be written: ") + kDiskFull + ".");

    if (verify_) {
        st.verifier = std::make_unique<CApeVerifier>(level_, channels, bitsPerSample, sampleRate);
        if (!st.verifier->Start()) return Fail("The Monkey's Audio encoder could not start its verification.");
        st.tamper = packetTamper_;
    }
    try {
        st.worker = std::thread([&st] { st.Run(); });
    } catch (const std::system_error&) {
        return Fail("The Monkey's Audio encoder could not start its encoding thread.");
    }
    return true;
}

bool CApeEncoder::Write(const int32_t* interleaved, size_t frames)
{
    if (!state_) return Fail("The Monkey's Audio file is not open.");
    if (frames == 0) return true;
    State& s = *state_;
    if (std::string why = s.WorkerError(); !why.empty()) return Fail(std::move(why));
    const size_t ch = static_cast<size_t>(s.channels);
    while (frames > 0) {
        if (!s.filling.samples) {
            try {
                s.filling.samples = std::make_shared_for_overwrite<int32_t[]>(s.blocksPerFrame * ch);
            } catch (const std::bad_alloc&) {
                return Fail("Out of memory while encoding the Monkey's Audio file.");
            }
        }
        const size_t n = std::min<size_t>(frames, s.blocksPerFrame - s.filling.blocks);
        const size_t count = n * ch;
        int32_t* to = s.filling.samples.get() + s.filling.blocks * ch;
        std::memcpy(to, interleaved, count * sizeof(int32_t));
        // A value outside the depth would be coded into a stream that
        // decodes to something else; saying so here is clearer than the
        // verifier's complaint.
        int32_t lo = 0;
        int32_t hi = 0;
        for (size_t i = 0; i < count; ++i) {
            lo = std::min(lo, to[i]);
            hi = std::max(hi, to[i]);
        }
        if (lo < s.minSample || hi > s.maxSample)
            return Fail("A sample lies outside the range of the Monkey's Audio file's bit depth.");
        s.filling.blocks += n;
        interleaved += count;
        frames -= n;
        if (s.filling.blocks == s.blocksPerFrame) {
            if (std::string why = s.Submit(); !why.empty()) return Fail(std::move(why));
        }
    }
    return true;
}

bool CApeEncoder::Finish()
{
    if (!state_) return Fail("The Monkey's Audio file is not open.");
    State& s = *state_;
    if (s.filling.blocks > 0) {
        if (std::string why = s.Submit(); !why.empty()) return Fail(std::move(why));
    }
    {
        std::lock_guard lock(s.mutex);
        s.closing = true;
    }
    s.ready.notify_one();
    if (s.worker.joinable()) s.worker.join();
    if (std::string why = s.WorkerError(); !why.empty()) return Fail(std::move(why));
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
        if (fileTamper_) fileTamper_(s.temp);
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
            if (std::string why = CApeVerifier::CheckWrittenFile(s.temp.string(), expected); !why.empty())
                return Fail(incomplete + why + ".");
        }
    }
    const bool closed = std::fclose(s.file) == 0;
    s.file = nullptr;
    if (!closed) return Fail(notWritten);
    std::string why;
    const Placement placed = PlaceFile(s.temp.string(), s.target.string(), ReplaceExisting(), &why);
    if (placed == Placement::Exists) return Fail(why);
    if (placed != Placement::Placed)
        return Fail("The Monkey's Audio file \"" + s.target.string() + "\" could not be written: " + why + ".");
    state_.reset();
    error_.clear();
    return true;
}

void CApeEncoder::Abort()
{
    if (!state_) return;
    State& s = *state_;
    {
        std::lock_guard lock(s.mutex);
        s.stopping = true;
    }
    s.ready.notify_one();
    // A worker waiting to hand a frame to the verifier is let go first.
    if (s.verifier) s.verifier->Stop();
    if (s.worker.joinable()) s.worker.join();
    if (s.file) std::fclose(s.file);
    s.file = nullptr;
    std::error_code ec;
    if (!s.temp.empty()) std::filesystem::remove(s.temp, ec);
    state_.reset();
}

}  // namespace kelvane
