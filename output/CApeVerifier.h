#pragma once
// Proves a Monkey's Audio stream while it is being written, on a second
// thread: the encoder hands over each frame as the import's demuxer will cut
// it from the file (the frame's 32-bit words, with the frame's block count
// and its offset into the first word in front) together with the samples it
// encodes; the worker decodes the frame with libavcodec's decoder, the one
// the import uses, and compares every sample. The frames decode on their
// own, so the check keeps pace with the encoder on the other core.
//
// Once the file is complete, CheckWrittenFile reads it back through
// libavformat without decoding: the header, the seek table's frame
// positions, the bytes of every frame and the tag must be what was written.
//
// Memory stays bounded: a hand-over waits while kMaxPending frames are
// unchecked. One thread (the encoder's) calls Add and Finish; Stop may come
// from another thread while Add waits, which then returns false.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace kelvane {

class CApeVerifier {
public:
    static constexpr size_t kMaxPending = 3;

    // The stream as the file's header declares it.
    CApeVerifier(int level, int channels, int bits, int sampleRate);
    ~CApeVerifier();
    CApeVerifier(const CApeVerifier&) = delete;
    CApeVerifier& operator=(const CApeVerifier&) = delete;

    // Opens the decoder and starts the worker. False, with nothing running,
    // when either cannot be made.
    bool Start();

    // Hands over one frame: blocks interleaved samples (shared, not copied;
    // nobody may change them until the verifier lets go) and the packet:
    // block count and word offset as two little-endian 32-bit values, then
    // the frame's words as stored. Waits while kMaxPending frames are
    // unchecked. False once a frame has failed (or Stop ran).
    bool Add(std::shared_ptr<const int32_t> samples, size_t blocks, std::vector<uint8_t> packet);

    // Waits for the frames handed over and stops the worker. True when
    // every one decoded to exactly its samples.
    bool Finish();

    // Stops the worker wherever it is. Safe at any time and more than once.
    void Stop();

    bool Failed() const { return failed_.load(std::memory_order_relaxed); }

    // What the complete file at path must show a reader.
    struct ExpectedFrame {
        uint32_t blocks = 0;
        uint64_t offset = 0;  // file offset of the frame's first byte
        uint32_t length = 0;  // bytes, in stream order
        uint32_t crc = 0;     // CRC-32 of those bytes before their words were reversed
    };
    struct Expected {
        int level = 0;
        int channels = 0;
        int bits = 0;
        int sampleRate = 0;
        uint64_t totalBlocks = 0;
        std::vector<ExpectedFrame> frames;
        std::vector<std::pair<std::string, std::string>> tags;
    };
    // Empty when the file reads back as expected, otherwise why not.
    static std::string CheckWrittenFile(const std::string& path, const Expected& expected);

private:
    struct Pending {
        std::shared_ptr<const int32_t> samples;
        size_t blocks = 0;
        std::vector<uint8_t> packet;
    };
    class Decoder;

    void Run();
    bool Check(const Pending& frame);

    std::unique_ptr<Decoder> decoder_;
    const int channels_;
    std::thread worker_;
    std::mutex mutex_;
    std::condition_variable ready_;  // the worker waits here
    std::condition_variable room_;   // Add and Finish wait here
    std::deque<Pending> queue_;
    bool busy_ = false;  // the worker holds a frame it has not finished
    bool ended_ = false;
    bool stopped_ = false;
    std::atomic<bool> failed_{false};
};

}  // namespace kelvane
