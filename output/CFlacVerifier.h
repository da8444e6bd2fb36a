#pragma once
// Proves a FLAC stream while it is being encoded, on a second thread: the
// encoder hands over each block of samples before it encodes it and the
// stream bytes as it first writes them; a worker decodes the bytes and
// compares every decoded sample with the ones handed over. Checking inside
// libFLAC would cost the encoding thread about 40% more time; here it costs
// handing over a reference to samples the encoder holds anyway, and the
// decoding runs on the other core.
//
// Memory stays bounded however long the stream is: both hand-overs block
// while the worker is behind. The samples are handed over before the bytes
// that encode them exist, so the worker never waits for samples and the two
// waits cannot close a cycle.
//
// One thread at a time (the encoder's) calls the members; it may pass the
// role on to another thread when the change is ordered, by starting or
// joining that thread. Failed may be asked from any thread. Stop may come
// from another thread while a hand-over is under way, which then returns
// false; Stop, Finish and the destructor never run at the same time. The
// worker is internal.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace kelvane {

class CFlacVerifier {
public:
    // The most frames AddSamples takes in one call.
    static constexpr size_t kMaxFramesPerAdd = size_t{1} << 15;

    // channels: 1 or 2, as in the stream. blockFrames: the encoder's block
    // size in frames; libFLAC holds up to a block back before it encodes it,
    // and the verifier holds room for that on top of a full hand-over.
    CFlacVerifier(int channels, unsigned blockFrames);
    // Stops the worker if it still runs.
    ~CFlacVerifier();

    CFlacVerifier(const CFlacVerifier&) = delete;
    CFlacVerifier& operator=(const CFlacVerifier&) = delete;

    // Starts the worker. Returns false, with nothing running, when the
    // decoder or the thread cannot be created.
    bool Start();

    // Hands over frames (at most kMaxFramesPerAdd) interleaved samples before
    // they go to the encoder. They are not copied: the verifier shares them
    // until it has checked them, so nobody may change them meanwhile. Blocks
    // while the verifier already holds HoldFrames() frames it has not
    // checked. Returns false once the stream has failed the check (or Stop
    // ran).
    bool AddSamples(std::shared_ptr<const int32_t> interleaved, size_t frames);

    // Hands over size bytes of the stream, in the order and form they were
    // first written; they are copied. May block while the byte queue is full.
    // Returns false once the stream has failed the check (or Stop ran).
    bool AddBytes(const uint8_t* data, size_t size);

    // Marks the end of the stream, waits for the worker to decode the rest
    // and stops it. True when every sample handed over came back exactly,
    // in order, and nothing more or less was decoded.
    bool Finish();

    // Stops the worker wherever it is and waits for it. Safe at any time and
    // more than once; the result is then a failure.
    void Stop();

    // True as soon as the worker has found a difference or a damaged frame.
    bool Failed() const { return failed_.load(std::memory_order_relaxed); }

    // The most frames handed over but not yet checked the verifier holds on
    // to; a hand-over waits rather than go beyond.
    size_t HoldFrames() const { return capacityFrames_; }

private:
    class Decoder;
    friend class Decoder;

    // Worker side: the decoder's callbacks.
    bool ReadBytes(uint8_t* buffer, size_t* bytes, bool* end);
    bool CheckFrame(unsigned blockFrames, unsigned channels, const int32_t* const decoded[]);
    bool MarkFailed();        // always false, for the callers' returns
    bool MarkFailedLocked();  // the same with mutex_ held
    void Run();

    bool PushPending();

    const int channels_;
    const size_t capacityFrames_;
    std::unique_ptr<Decoder> decoder_;
    std::thread worker_;

    std::mutex mutex_;
    std::condition_variable bytesReady_;  // the worker waits here
    std::condition_variable roomFree_;    // the encoder's thread waits here

    struct Samples {
        std::shared_ptr<const int32_t> interleaved;
        size_t frames = 0;
    };

    // Under mutex_: the samples not yet checked, in order, and the byte queue.
    std::deque<Samples> held_;
    size_t filledFrames_ = 0;
    uint64_t addedFrames_ = 0;
    uint64_t checkedFrames_ = 0;
    std::deque<std::vector<uint8_t>> queue_;
    size_t queuedBytes_ = 0;
    bool ended_ = false;
    bool stopped_ = false;
    bool workerDone_ = false;
    bool workerIdle_ = false;  // waiting for bytes with all before decoded
    std::atomic<bool> failed_{false};

    // Encoder's thread only: bytes gathered until a chunk is worth a hand-over.
    std::vector<uint8_t> pending_;
    uint64_t streamOffset_ = 0;

    // Worker only: the chunk being decoded, and the frames of held_.front()
    // already checked (the worker alone removes from held_).
    std::vector<uint8_t> current_;
    size_t currentPos_ = 0;
    size_t heldOffset_ = 0;
};

}  // namespace kelvane
