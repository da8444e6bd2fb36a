#include "output/CThreadedEncoder.h"

#include "output/DurableFiles.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace kelvane {

namespace {

// Full blocks that may wait for the worker: enough that it never runs dry
// while the caller reads and processes, few enough to keep memory small.
constexpr size_t kBlocksAhead = 2;

// Fixed-size sample blocks, made on first use and then reused, so a long
// side needs no more memory (and no more fresh pages) than a short one. A
// block comes back when its last user, the worker or the checker, lets go.
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

}  // namespace

struct CThreadedEncoder::Session {
    // First, so it outlives every block the members below still hold.
    std::unique_ptr<BlockPool> pool;
    std::filesystem::path target;
    std::filesystem::path temp;
    std::FILE* file = nullptr;
    size_t blockFrames = 0;

    Block filling;  // caller's thread only: the block Write copies into

    // The hand-over to the worker, under mutex.
    std::mutex mutex;
    std::condition_variable ready;  // the worker waits here
    std::deque<Block> queue;
    bool closing = false;     // Finish: no more blocks come
    bool stopping = false;    // Abort: stop at once
    std::string workerError;  // why the worker stopped early; empty while it is fine
    std::thread worker;       // last: joined before anything above goes

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

    // The worker: codes the blocks in order until Finish has handed over the
    // last one, Abort says stop, or something fails. The caller learns of a
    // failure from workerError; the pool is interrupted so a Write waiting
    // for a block learns of it at once.
    void Run(CThreadedEncoder& encoder)
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
            try {
                why = encoder.EncodeBlock(block);
            } catch (const std::bad_alloc&) {
                why = "Out of memory while encoding the " + encoder.format_ + " file.";
            }
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

CThreadedEncoder::CThreadedEncoder(std::string format, bool verify) : format_(std::move(format)), verify_(verify) {}

// A format's destructor has aborted already; this only frees what is left.
CThreadedEncoder::~CThreadedEncoder() = default;

bool CThreadedEncoder::Fail(std::string message)
{
    Abort();
    error_ = std::move(message);
    return false;
}

std::FILE* CThreadedEncoder::File() const { return session_->file; }

const std::filesystem::path& CThreadedEncoder::PartialName() const { return session_->temp; }

bool CThreadedEncoder::Prepare(int sampleRate, int bitsPerSample, int channels, const EncoderTags& tags,
                               bool rateStorable)
{
    Abort();
    error_.clear();
    if (bitsPerSample != 16 && bitsPerSample != 24)
        return Fail(format_ + " files can be written with 16 or 24 bits per sample only.");
    if (channels != 1 && channels != 2) return Fail(format_ + " files can be written in mono or stereo only.");
    if (sampleRate <= 0 || !rateStorable)
        return Fail("The sample rate of " + std::to_string(sampleRate) + " Hz cannot be stored in a " + format_ +
                    " file.");
    for (const auto& [name, value] : tags) {
        if (std::string problem = TagProblem(name, value); !problem.empty()) return Fail(problem);
    }
    channels_ = channels;
    maxSample_ = (int32_t{1} << (bitsPerSample - 1)) - 1;
    minSample_ = -maxSample_ - 1;
    return true;
}

std::FILE* CThreadedEncoder::CreatePartial(const std::filesystem::path& path, const char* mode)
{
    const PartialPath partial = CreatePartialFile(path.string());
    if (!partial) {
        Fail("The file \"" + path.string() + "\" could not be created: " + partial.error + ".");
        return nullptr;
    }
    std::FILE* file = std::fopen(partial.path.c_str(), mode);
    if (!file) {
        const std::string why = std::strerror(errno);
        std::error_code ec;
        std::filesystem::remove(partial.path, ec);
        Fail("The file \"" + path.string() + "\" could not be created: " + why + ".");
        return nullptr;
    }
    // From here on Abort owns the partial file.
    session_ = std::make_unique<Session>();
    session_->target = path;
    session_->temp = partial.path;
    session_->file = file;
    std::setvbuf(file, nullptr, _IOFBF, size_t{1} << 16);
    return file;
}

bool CThreadedEncoder::StartWorker(size_t blockFrames, size_t heldByChecker)
{
    Session& s = *session_;
    s.blockFrames = blockFrames;
    // Room for what the checker may hold, the block being coded, those
    // waiting for it and the one being filled; blocks are made only as needed.
    try {
        s.pool = std::make_unique<BlockPool>(blockFrames * static_cast<size_t>(channels_),
                                             heldByChecker + kBlocksAhead + 2);
    } catch (const std::bad_alloc&) {
        return Fail("Out of memory while starting the " + format_ + " encoder.");
    }
    try {
        s.worker = std::thread([&s, this] { s.Run(*this); });
    } catch (const std::system_error&) {
        return Fail("The " + format_ + " encoder could not start its encoding thread.");
    }
    return true;
}

bool CThreadedEncoder::Write(const int32_t* interleaved, size_t frames)
{
    if (!session_) return Fail("The " + format_ + " file is not open.");
    if (frames == 0) return true;
    Session& s = *session_;
    if (CheckFailed()) return Fail(format_ + " encoding failed: " + kMismatch + ".");
    if (std::string why = s.WorkerError(); !why.empty()) return Fail(std::move(why));
    const size_t ch = static_cast<size_t>(channels_);
    while (frames > 0) {
        if (!s.filling.samples) {
            // Waits while the worker and the checker are behind.
            bool outOfMemory = false;
            s.filling.samples = s.pool->Acquire(&outOfMemory);
            if (!s.filling.samples) {
                if (outOfMemory) return Fail("Out of memory while encoding the " + format_ + " file.");
                std::string why = s.WorkerError();
                return Fail(why.empty() ? format_ + " encoding failed." : std::move(why));
            }
        }
        const size_t n = std::min(frames, s.blockFrames - s.filling.frames);
        const size_t count = n * ch;
        int32_t* to = s.filling.samples.get() + s.filling.frames * ch;
        std::memcpy(to, interleaved, count * sizeof(int32_t));
        // Out-of-range values would be coded into a stream that decodes to
        // something else; catching them here gives a clearer message than
        // the checker would. The scan runs over the copy, still in cache,
        // and is trivially vectorised.
        int32_t lo = 0;
        int32_t hi = 0;
        for (size_t i = 0; i < count; ++i) {
            lo = std::min(lo, to[i]);
            hi = std::max(hi, to[i]);
        }
        if (lo < minSample_ || hi > maxSample_)
            return Fail("A sample lies outside the range of the " + format_ + " file's bit depth.");
        s.filling.frames += n;
        interleaved += count;
        frames -= n;
        if (s.filling.frames == s.blockFrames) s.Submit();
    }
    return true;
}

bool CThreadedEncoder::Finish()
{
    if (!session_) return Fail("The " + format_ + " file is not open.");
    Session& s = *session_;
    if (s.filling.frames > 0) s.Submit();
    s.filling = {};
    {
        std::lock_guard lock(s.mutex);
        s.closing = true;
    }
    s.ready.notify_one();
    // The worker codes what is queued and ends; the coder is then this
    // thread's again.
    if (s.worker.joinable()) s.worker.join();
    if (std::string why = s.WorkerError(); !why.empty()) return Fail(std::move(why));
    if (!CompleteStream()) return false;
    // Buffered bytes reach the disk only here; a full disk shows up now.
    const bool closed = std::fclose(s.file) == 0;
    s.file = nullptr;
    if (!closed) return Fail("The " + format_ + " file could not be completed: " + kDiskFull + ".");
    std::string why;
    const Placement placed = PlaceFile(s.temp.string(), s.target.string(), ReplaceExisting(), &why);
    if (placed == Placement::Exists) return Fail(why);
    if (placed != Placement::Placed)
        return Fail("The " + format_ + " file \"" + s.target.string() + "\" could not be written: " + why + ".");
    // The format's state first: its checker may still hold blocks of the pool.
    Release();
    session_.reset();
    error_.clear();
    return true;
}

void CThreadedEncoder::Abort()
{
    if (!session_) return;
    Session& s = *session_;
    // Every wait the worker can be in ends before it is joined: its own for
    // blocks, and the format's (the hand-over to the checker).
    {
        std::lock_guard lock(s.mutex);
        s.stopping = true;
    }
    s.ready.notify_one();
    Interrupt();
    if (s.worker.joinable()) s.worker.join();
    Release();
    if (s.file) std::fclose(s.file);
    s.file = nullptr;
    std::error_code ec;
    if (!s.temp.empty()) std::filesystem::remove(s.temp, ec);
    session_.reset();
}

}  // namespace kelvane
