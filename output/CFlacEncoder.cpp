#include "output/CFlacEncoder.h"

#include "output/CFlacVerifier.h"
#include "output/DurableFiles.h"

#include <FLAC++/encoder.h>
#include <FLAC/metadata.h>

#include <algorithm>
#include <cerrno>
#include <atomic>
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

// libFLAC keeps pointers to the metadata until the encoder is finished, so
// the blocks live exactly as long as the encoder state that uses them.
struct MetadataDeleter {
    void operator()(FLAC__StreamMetadata* block) const { FLAC__metadata_object_delete(block); }
};
using MetadataPtr = std::unique_ptr<FLAC__StreamMetadata, MetadataDeleter>;

// The caller's samples are copied into blocks of this many frames, which
// a worker thread encodes while the caller prepares the next ones. The
// verifier checks straight from the same blocks, so one copy serves both.
constexpr size_t kBlockFrames = CFlacVerifier::kMaxFramesPerAdd;
// Full blocks that may wait for the worker: enough that it never runs dry
// while the caller reads and processes, few enough to keep memory small.
constexpr size_t kBlocksAhead = 2;

constexpr const char* kMismatch = "the encoded audio did not decode to the original samples";
constexpr const char* kDiskFull = "the file could not be written (is the disk full?)";

// The stream goes to our own file rather than libFLAC's so that every byte
// written can also be handed to the verifier. The callbacks run on whichever
// thread drives libFLAC at the time: the caller's during init and finish, the
// worker's in between, never two at once.
class FlacStream final : public FLAC::Encoder::Stream {
public:
    std::FILE* file = nullptr;
    CFlacVerifier* verifier = nullptr;
    CFlacEncoder::VerifierTamper tamper;  // tests only
    // Set while abandoning the stream: libFLAC's finish() still flushes the
    // last block, which nobody wants any more. Set from the caller's thread
    // while the worker may be encoding, which then stops at its next write.
    std::atomic<bool> aborting{false};

protected:
    FLAC__StreamEncoderWriteStatus write_callback(const FLAC__byte buffer[], size_t bytes, uint32_t samples,
                                                  uint32_t /*currentFrame*/) override
    {
        if (aborting.load(std::memory_order_relaxed) || !file || std::fwrite(buffer, 1, bytes, file) != bytes)
            return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
        position_ += bytes;
        // libFLAC seeks only at the end, to rewrite the header with the final
        // totals; the verifier reads the stream as first written.
        if (verifier && !rewriting_) {
            bool ok;
            if (tamper) {
                std::vector<uint8_t> copy(buffer, buffer + bytes);
                tamper(copy, samples);
                ok = verifier->AddBytes(copy.data(), copy.size());
            } else {
                ok = verifier->AddBytes(buffer, bytes);
            }
            if (!ok) return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
        }
        return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
    }

    FLAC__StreamEncoderSeekStatus seek_callback(FLAC__uint64 offset) override
    {
        if (!file || fseeko(file, static_cast<off_t>(offset), SEEK_SET) != 0)
            return FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR;
        position_ = offset;
        rewriting_ = true;
        return FLAC__STREAM_ENCODER_SEEK_STATUS_OK;
    }

    // Asked for after every frame; counting is cheaper than asking stdio.
    FLAC__StreamEncoderTellStatus tell_callback(FLAC__uint64* offset) override
    {
        *offset = position_;
        return FLAC__STREAM_ENCODER_TELL_STATUS_OK;
    }

private:
    FLAC__uint64 position_ = 0;
    bool rewriting_ = false;
};

std::string StateText(const FLAC::Encoder::Stream& encoder)
{
    const auto state = encoder.get_state();
    if (state == FLAC__STREAM_ENCODER_VERIFY_MISMATCH_IN_AUDIO_DATA) return kMismatch;
    if (state == FLAC__STREAM_ENCODER_IO_ERROR || state == FLAC__STREAM_ENCODER_CLIENT_ERROR) return kDiskFull;
    return state.as_cstring();
}

// Fixed-size sample blocks, made on first use and then reused, so a long
// side needs no more memory (and no more fresh pages) than a short one. A
// block comes back when its last user, the worker or the verifier, lets go.
class BlockPool {
public:
    // values: int32_t values per block; most: blocks that may exist at once.
    // Throws std::bad_alloc.
    BlockPool(size_t values, size_t most) : values_(values), most_(most)
    {
        blocks_.reserve(most);
        free_.reserve(most);  // so giving a block back never allocates
    }

    // A free block, waiting while all blocks exist and are in use. Null
    // after Interrupt, or with *outOfMemory set when memory runs out.
    std::shared_ptr<int32_t> Acquire(bool* outOfMemory)
    {
        int32_t* block = nullptr;
        {
            std::unique_lock lock(mutex_);
            freed_.wait(lock, [&] { return interrupted_ || !free_.empty() || blocks_.size() < most_; });
            if (interrupted_) return nullptr;
            if (free_.empty()) {
                try {
                    blocks_.push_back(std::make_unique_for_overwrite<int32_t[]>(values_));
                } catch (const std::bad_alloc&) {
                    *outOfMemory = true;
                    return nullptr;
                }
                free_.push_back(blocks_.back().get());
            }
            block = free_.back();
            free_.pop_back();
        }
        // Outside the lock: should the shared_ptr fail to allocate, it hands
        // the block straight back through its deleter.
        try {
            return std::shared_ptr<int32_t>(block, [this](int32_t* b) { GiveBack(b); });
        } catch (const std::bad_alloc&) {
            *outOfMemory = true;
            return nullptr;
        }
    }

    // Makes a waiting Acquire, and every later one, return null.
    void Interrupt()
    {
        std::lock_guard lock(mutex_);
        interrupted_ = true;
        freed_.notify_all();
    }

private:
    void GiveBack(int32_t* block)
    {
        std::lock_guard lock(mutex_);
        free_.push_back(block);
        freed_.notify_one();
    }

    const size_t values_;
    const size_t most_;
    std::mutex mutex_;
    std::condition_variable freed_;
    std::vector<std::unique_ptr<int32_t[]>> blocks_;
    std::vector<int32_t*> free_;
    bool interrupted_ = false;
};

struct Block {
    std::shared_ptr<int32_t> samples;  // interleaved, kBlockFrames frames of room
    size_t frames = 0;
};

}  // namespace

struct CFlacEncoder::State {
    // First, so it outlives every block the members below still hold.
    std::unique_ptr<BlockPool> pool;
    // Declared before the encoder, which points at it, so it is destroyed
    // after the encoder.
    std::unique_ptr<CFlacVerifier> verifier;
    FlacStream encoder;
    MetadataPtr comments;
    MetadataPtr padding;
    std::filesystem::path target;
    std::filesystem::path temp;
    int channels = 0;
    int32_t minSample = 0;
    int32_t maxSample = 0;
    bool started = false;  // init succeeded: finish() must run before delete

    Block filling;  // caller's thread only: the block Write copies into

    // The hand-over to the worker, under mutex.
    std::mutex mutex;
    std::condition_variable ready;  // the worker waits here
    std::deque<Block> queue;
    bool closing = false;     // Finish: no more blocks come
    bool stopping = false;    // Abort: stop at once
    std::string workerError;  // why the worker stopped early; empty while it is fine
    std::thread worker;       // last: joined before anything above goes

    // A failure while encoding is a verification failure when the verifier
    // says so; libFLAC then only sees its write refused.
    std::string WhyFailed() const
    {
        return verifier && verifier->Failed() ? std::string(kMismatch) : StateText(encoder);
    }

    std::string WorkerError()
    {
        std::lock_guard lock(mutex);
        return workerError;
    }

    void Submit()
    {
        {
            std::lock_guard lock(mutex);
            queue.push_back(std::move(filling));
        }
        filling = {};
        ready.notify_one();
    }

    // The worker: encodes the blocks in order until Finish has handed over
    // the last one, Abort says stop, or something fails. The caller learns
    // of a failure from workerError; the pool is interrupted so a Write
    // waiting for a block learns of it at once.
    void Run()
    {
        for (;;) {
            Block block;
            {
                std::unique_lock lock(mutex);
                ready.wait(lock, [&] { return stopping || closing || !queue.empty(); });
                if (stopping || queue.empty()) return;
                block = std::move(queue.front());
                queue.pop_front();
            }
            std::string why;
            // The verifier gets the samples first: it must never wait for them.
            if (verifier && !verifier->AddSamples(block.samples, block.frames))
                why = std::string("FLAC encoding failed: ") + kMismatch + ".";
            else if (!encoder.process_interleaved(block.samples.get(), static_cast<unsigned>(block.frames)))
                why = "FLAC encoding failed: " + WhyFailed() + ".";
            block.samples.reset();
            if (!why.empty()) {
                {
                    std::lock_guard lock(mutex);
                    workerError = std::move(why);
                }
                pool->Interrupt();
                return;
            }
        }
    }
};

CFlacEncoder::CFlacEncoder(int compressionLevel, bool verify)
    : level_(std::clamp(compressionLevel, 0, 8)), verify_(verify)
{
}

CFlacEncoder::~CFlacEncoder() { Abort(); }

bool CFlacEncoder::Fail(std::string message)
{
    Abort();
    error_ = std::move(message);
    return false;
}

bool CFlacEncoder::Open(const std::filesystem::path& path, int sampleRate, int bitsPerSample,
                        int channels, uint64_t totalFramesEstimate, const EncoderTags& tags)
{
    Abort();
    error_.clear();
    if (bitsPerSample != 16 && bitsPerSample != 24)
        return Fail("FLAC files can be written with 16 or 24 bits per sample only.");
    if (channels != 1 && channels != 2) return Fail("FLAC files can be written in mono or stereo only.");
    if (sampleRate <= 0 || !FLAC__format_sample_rate_is_valid(static_cast<unsigned>(sampleRate)))
        return Fail("The sample rate of " + std::to_string(sampleRate) + " Hz cannot be stored in a FLAC file.");
    for (const auto& [name, value] : tags) {
        if (std::string problem = TagProblem(name, value); !problem.empty()) return Fail(problem);
    }

    auto s = std::make_unique<State>();
    s->target = path;
    s->channels = channels;
    s->maxSample = (int32_t{1} << (bitsPerSample - 1)) - 1;
    s->minSample = -s->maxSample - 1;

    s->comments.reset(FLAC__metadata_object_new(FLAC__METADATA_TYPE_VORBIS_COMMENT));
    s->padding.reset(FLAC__metadata_object_new(FLAC__METADATA_TYPE_PADDING));
    if (!s->comments || !s->padding) return Fail("Out of memory while starting the FLAC encoder.");
    s->padding->length = kPaddingBytes;
    for (const auto& [name, value] : tags) {
        FLAC__StreamMetadata_VorbisComment_Entry entry;
        if (!FLAC__metadata_object_vorbiscomment_entry_from_name_value_pair(&entry, name.c_str(), value.c_str()) ||
            !FLAC__metadata_object_vorbiscomment_append_comment(s->comments.get(), entry, /*copy=*/false)) {
            return Fail("The tag " + name + " could not be stored in the FLAC file.");
        }
    }

    // libFLAC's own check stays off either way: it would run on this thread.
    auto& e = s->encoder;
    FLAC__StreamMetadata* blocks[2] = {s->comments.get(), s->padding.get()};
    const bool configured = e.set_verify(false) && e.set_compression_level(static_cast<unsigned>(level_)) &&
                            e.set_channels(static_cast<unsigned>(channels)) &&
                            e.set_bits_per_sample(static_cast<unsigned>(bitsPerSample)) &&
                            e.set_sample_rate(static_cast<unsigned>(sampleRate)) &&
                            e.set_total_samples_estimate(totalFramesEstimate) && e.set_metadata(blocks, 2);
    if (!configured) return Fail("The FLAC encoder could not be set up: " + StateText(e) + ".");

    const PartialPath partial = CreatePartialFile(path.string());
    if (!partial) return Fail("The file \"" + path.string() + "\" could not be created: " + partial.error + ".");
    s->temp = partial.path;
    e.file = std::fopen(s->temp.c_str(), "wb");
    if (!e.file) {
        const std::string why = std::strerror(errno);
        std::error_code ec;
        std::filesystem::remove(s->temp, ec);
        return Fail("The file \"" + path.string() + "\" could not be created: " + why + ".");
    }
    // From here on Abort owns the temporary file.
    state_ = std::move(s);
    auto& st = *state_;
    std::setvbuf(st.encoder.file, nullptr, _IOFBF, size_t{1} << 16);

    if (verify_) {
        // libFLAC writes the header during init, so the verifier runs first.
        st.verifier = std::make_unique<CFlacVerifier>(channels, st.encoder.get_blocksize());
        if (!st.verifier->Start()) return Fail("The FLAC encoder could not start its verification.");
        st.encoder.verifier = st.verifier.get();
        st.encoder.tamper = tamper_;
    }

    // Room for what the verifier may hold, the block being encoded, those
    // waiting for it and the one being filled; blocks are made only as needed.
    const size_t held = st.verifier ? (st.verifier->HoldFrames() - 1) / kBlockFrames + 1 : 0;
    try {
        st.pool = std::make_unique<BlockPool>(kBlockFrames * static_cast<size_t>(channels), held + kBlocksAhead + 2);
    } catch (const std::bad_alloc&) {
        return Fail("Out of memory while starting the FLAC encoder.");
    }

    const auto status = st.encoder.init();
    if (status != FLAC__STREAM_ENCODER_INIT_STATUS_OK) {
        if (status == FLAC__STREAM_ENCODER_INIT_STATUS_ENCODER_ERROR)
            return Fail("The FLAC encoder could not start: " + st.WhyFailed() + ".");
        return Fail(std::string("The FLAC encoder could not start: ") + FLAC__StreamEncoderInitStatusString[status] + ".");
    }
    st.started = true;
    // Started only now: init wrote the header on this thread.
    try {
        st.worker = std::thread([&st] { st.Run(); });
    } catch (const std::system_error&) {
        return Fail("The FLAC encoder could not start its encoding thread.");
    }
    return true;
}

bool CFlacEncoder::Write(const int32_t* interleaved, size_t frames)
{
    if (!state_) return Fail("The FLAC file is not open.");
    if (frames == 0) return true;
    auto& s = *state_;
    if (s.verifier && s.verifier->Failed()) return Fail(std::string("FLAC encoding failed: ") + kMismatch + ".");
    if (std::string why = s.WorkerError(); !why.empty()) return Fail(std::move(why));
    const size_t ch = static_cast<size_t>(s.channels);
    while (frames > 0) {
        if (!s.filling.samples) {
            // Waits while the worker and the verifier are behind.
            bool outOfMemory = false;
            s.filling.samples = s.pool->Acquire(&outOfMemory);
            if (!s.filling.samples) {
                if (outOfMemory) return Fail("Out of memory while encoding the FLAC file.");
                std::string why = s.WorkerError();
                return Fail(why.empty() ? std::string("FLAC encoding failed.") : std::move(why));
            }
        }
        const size_t n = std::min(frames, kBlockFrames - s.filling.frames);
        const size_t count = n * ch;
        int32_t* to = s.filling.samples.get() + s.filling.frames * ch;
        std::memcpy(to, interleaved, count * sizeof(int32_t));
        // Out-of-range values would be encoded into a stream that decodes to
        // something else; catching them here gives a clearer message than
        // the verifier would. The scan runs over the copy, still in cache,
        // and is trivially vectorised.
        int32_t lo = 0;
        int32_t hi = 0;
        for (size_t i = 0; i < count; ++i) {
            lo = std::min(lo, to[i]);
            hi = std::max(hi, to[i]);
        }
        if (lo < s.minSample || hi > s.maxSample)
            return Fail("A sample lies outside the range of the FLAC file's bit depth.");
        s.filling.frames += n;
        interleaved += count;
        frames -= n;
        if (s.filling.frames == kBlockFrames) s.Submit();
    }
    return true;
}

bool CFlacEncoder::Finish()
{
    if (!state_) return Fail("The FLAC file is not open.");
    auto& s = *state_;
    if (s.filling.frames > 0) s.Submit();
    s.filling = {};
    {
        std::lock_guard lock(s.mutex);
        s.closing = true;
    }
    s.ready.notify_one();
    // The worker encodes what is queued and ends; libFLAC is then this
    // thread's again.
    if (s.worker.joinable()) s.worker.join();
    if (std::string why = s.WorkerError(); !why.empty()) return Fail(std::move(why));
    s.started = false;
    const bool encoded = s.encoder.finish();
    const bool verified = !s.verifier || s.verifier->Finish();
    if (!verified) return Fail(std::string("The FLAC file could not be completed: ") + kMismatch + ".");
    if (!encoded) return Fail("The FLAC file could not be completed: " + StateText(s.encoder) + ".");
    // Buffered bytes reach the disk only here; a full disk shows up now.
    const bool closed = std::fclose(s.encoder.file) == 0;
    s.encoder.file = nullptr;
    if (!closed) return Fail(std::string("The FLAC file could not be completed: ") + kDiskFull + ".");
    std::string why;
    const Placement placed = PlaceFile(s.temp.string(), s.target.string(), ReplaceExisting(), &why);
    if (placed == Placement::Exists) return Fail(why);
    if (placed != Placement::Placed)
        return Fail("The FLAC file \"" + s.target.string() + "\" could not be written: " + why + ".");
    state_.reset();
    error_.clear();
    return true;
}

void CFlacEncoder::Abort()
{
    if (!state_) return;
    auto& s = *state_;
    // Every wait the worker can be in ends before it is joined: its own for
    // blocks, the verifier's hand-overs (Stop), and a block being encoded,
    // whose next write is refused.
    {
        std::lock_guard lock(s.mutex);
        s.stopping = true;
    }
    s.ready.notify_one();
    s.encoder.aborting = true;
    if (s.verifier) s.verifier->Stop();
    if (s.worker.joinable()) s.worker.join();
    // finish() releases libFLAC's state; its result no longer matters.
    if (s.started) s.encoder.finish();
    s.started = false;
    if (s.encoder.file) std::fclose(s.encoder.file);
    s.encoder.file = nullptr;
    std::error_code ec;
    if (!s.temp.empty()) std::filesystem::remove(s.temp, ec);
    state_.reset();
}

}  // namespace kelvane
