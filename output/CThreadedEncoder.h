#pragma once
// What the FLAC and Monkey's Audio encoders have in common: Write copies the
// samples into one of a few fixed-size blocks and returns, so the caller
// reads and processes the next ones while the last are encoded; a worker
// thread hands the blocks in order to the format's coder, which writes the
// stream into a partial file beside the target and, with verification, gives
// it to a checker on a thread of its own; Finish completes the stream and
// moves the file onto the target. Memory does not grow with the length of
// the file: a block comes back when its last user, the worker or the
// checker, lets go, and Write waits only while they are behind. A failure on
// the worker shows at the next Write or at Finish. One thread at a time may
// use the object.
//
// A format supplies Open (which calls Prepare, CreatePartial and StartWorker
// in that order), the coding of one block, the end of the stream, and how
// to stop its checker. Its destructor calls Abort, since the hooks are its.

#include "output/IAudioEncoder.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

namespace kelvane {

class CThreadedEncoder : public IAudioEncoder {
public:
    ~CThreadedEncoder() override;

    CThreadedEncoder(const CThreadedEncoder&) = delete;
    CThreadedEncoder& operator=(const CThreadedEncoder&) = delete;

    bool Write(const int32_t* interleaved, size_t frames) final;
    bool Finish() final;
    void Abort() final;
    const std::string& LastError() const final { return error_; }

    // The reasons the formats give alike, inside their sentences.
    static constexpr const char* kMismatch = "the encoded audio did not decode to the original samples";
    static constexpr const char* kDiskFull = "the file could not be written (is the disk full?)";

protected:
    // Interleaved samples with room for the block size given to StartWorker.
    // Shared, so the checker can hold on to them without a copy.
    struct Block {
        std::shared_ptr<int32_t> samples;
        size_t frames = 0;
    };

    // format: the format's name in the user's messages ("FLAC"). verify:
    // whether the format checks what it writes (see Verifying).
    CThreadedEncoder(std::string format, bool verify);

    // Open, first: ends any stream still open and refuses what no format
    // here can write (depth, channels, tags) and a sample rate the format
    // cannot store (rateStorable false). False with LastError set.
    bool Prepare(int sampleRate, int bitsPerSample, int channels, const EncoderTags& tags, bool rateStorable);

    // Open, next: creates the partial file beside path and opens it with
    // mode. Null with LastError set when it cannot; from then on Abort
    // closes and removes it.
    std::FILE* CreatePartial(const std::filesystem::path& path, const char* mode);

    // Open, last: makes room for blocks of blockFrames frames (the checker
    // holding up to heldByChecker of them) and starts the worker. False
    // with LastError set.
    bool StartWorker(size_t blockFrames, size_t heldByChecker);

    // Aborts, sets LastError and returns false, for the callers' returns.
    bool Fail(std::string message);

    const std::string& Format() const { return format_; }
    bool Verifying() const { return verify_; }
    // The open partial file and its path; only while a stream is open.
    std::FILE* File() const;
    const std::filesystem::path& PartialName() const;

    // On the worker, for every block in order: codes and writes it. Returns
    // why it failed (a sentence for the user), or nothing.
    virtual std::string EncodeBlock(const Block& block) = 0;

    // In Finish, on the caller's thread once the worker has coded every
    // block: completes the stream in File(). False after Fail.
    virtual bool CompleteStream() = 0;

    // In Abort, before the worker is joined: ends every wait it can be in
    // inside EncodeBlock (the hand-over to the checker).
    virtual void Interrupt() = 0;

    // Once the worker has ended, after a finished stream or in Abort before
    // the partial file is closed: lets go of the format's state.
    virtual void Release() = 0;

    // Whether the checker has already found a difference; Write then fails
    // at once rather than at the next hand-over.
    virtual bool CheckFailed() const { return false; }

private:
    struct Session;

    const std::string format_;
    const bool verify_;
    int channels_ = 0;
    int32_t minSample_ = 0;
    int32_t maxSample_ = 0;
    std::unique_ptr<Session> session_;
    std::string error_;
};

}  // namespace kelvane
