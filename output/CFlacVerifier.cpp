#include "output/CFlacVerifier.h"

#include <FLAC++/decoder.h>

#include <algorithm>
#include <cstring>
#include <system_error>

namespace kelvane {

namespace {

// Bytes are gathered into chunks of about this size before the worker is
// woken: one lock per chunk instead of one per frame. The frames a chunk
// encodes stay held until it is decoded, so it is kept well below what the
// verifier may hold.
constexpr size_t kChunkBytes = size_t{64} << 10;
// How far, in frames, the check may lag behind the hand-overs (~6 s of
// audio): enough that the encoder does not wait while the worker shares its
// core with other work for a moment.
constexpr size_t kLagFrames = size_t{1} << 18;
// The byte queue's bound. The hold on samples already bounds the bytes in
// flight; this only keeps a pathological stream (huge tags) in check.
constexpr size_t kMaxQueuedBytes = size_t{8} << 20;

// Where the 36-bit total sample count sits in the stream: after "fLaC" and
// the STREAMINFO block header, 13 bytes into the block (its low nibble),
// through byte 17. libFLAC first writes the caller's estimate there, which
// may be wrong, and the true count only at the end, by seeking back. The
// worker sees the first version, so the field is cleared ("unknown") in its
// copy: a decoder is free to stop at the count it is given. The other
// fields written late (frame sizes, MD5) are zero at first, which decoders
// read as unknown; everything the frames depend on (block sizes, rate,
// channels, bits) is final from the start.
constexpr uint64_t kTotalSamplesFirstByte = 4 + 4 + 13;
constexpr uint64_t kTotalSamplesEnd = 4 + 4 + 18;

}  // namespace

class CFlacVerifier::Decoder final : public FLAC::Decoder::Stream {
public:
    explicit Decoder(CFlacVerifier& owner) : owner_(owner) {}

protected:
    FLAC__StreamDecoderReadStatus read_callback(FLAC__byte buffer[], size_t* bytes) override
    {
        bool end = false;
        if (!owner_.ReadBytes(buffer, bytes, &end)) return FLAC__STREAM_DECODER_READ_STATUS_ABORT;
        return end ? FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM : FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
    }
    FLAC__StreamDecoderWriteStatus write_callback(const FLAC__Frame* frame, const FLAC__int32* const buffer[]) override
    {
        return owner_.CheckFrame(frame->header.blocksize, frame->header.channels, buffer)
                   ? FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE
                   : FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
    }
    // Lost sync, a bad header or a CRC mismatch: the stream as written is
    // damaged even if the decoder could carry on.
    void error_callback(FLAC__StreamDecoderErrorStatus) override { owner_.MarkFailed(); }

private:
    CFlacVerifier& owner_;
};

CFlacVerifier::CFlacVerifier(int channels, unsigned blockFrames)
    : channels_(channels), capacityFrames_(std::max(kLagFrames, kMaxFramesPerAdd) + blockFrames + 1)
{
}

CFlacVerifier::~CFlacVerifier() { Stop(); }

bool CFlacVerifier::Start()
{
    try {
        pending_.reserve(kChunkBytes + (kChunkBytes >> 2));
        decoder_ = std::make_unique<Decoder>(*this);
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (!decoder_->is_valid() || decoder_->init() != FLAC__STREAM_DECODER_INIT_STATUS_OK) {
        decoder_.reset();
        return false;
    }
    try {
        worker_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        decoder_.reset();
        return false;
    }
    return true;
}

void CFlacVerifier::Run()
{
    const bool ok = decoder_->process_until_end_of_stream();
    std::lock_guard lock(mutex_);
    if (!ok && !stopped_) failed_ = true;
    workerDone_ = true;
    roomFree_.notify_all();
}

bool CFlacVerifier::AddSamples(std::shared_ptr<const int32_t> interleaved, size_t frames)
{
    if (frames == 0) return !Failed();
    if (frames > kMaxFramesPerAdd || !interleaved) return MarkFailed();  // a caller error; never silently dropped
    std::unique_lock lock(mutex_);
    if (capacityFrames_ - filledFrames_ < frames) {
        // The worker can free room only by decoding the bytes held here.
        lock.unlock();
        if (!PushPending()) return false;
        lock.lock();
        roomFree_.wait(lock, [&] {
            return failed_ || stopped_ || workerDone_ || capacityFrames_ - filledFrames_ >= frames ||
                   (workerIdle_ && queue_.empty());
        });
        if (failed_ || stopped_ || workerDone_) return false;
        // Every byte written so far has been decoded and the verifier still
        // holds too much: frames went missing without the decoder noticing.
        // Waiting on would never end.
        if (capacityFrames_ - filledFrames_ < frames) return MarkFailedLocked();
    }
    if (failed_ || stopped_ || workerDone_) return false;
    held_.push_back({std::move(interleaved), frames});
    filledFrames_ += frames;
    addedFrames_ += frames;
    return true;
}

bool CFlacVerifier::AddBytes(const uint8_t* data, size_t size)
{
    if (Failed()) return false;
    const size_t at = pending_.size();
    pending_.insert(pending_.end(), data, data + size);
    const uint64_t end = std::min(streamOffset_ + size, kTotalSamplesEnd);
    for (uint64_t o = std::max(streamOffset_, kTotalSamplesFirstByte); o < end; ++o) {
        uint8_t& b = pending_[at + (o - streamOffset_)];
        b = o == kTotalSamplesFirstByte ? static_cast<uint8_t>(b & 0xF0) : 0;
    }
    streamOffset_ += size;
    return pending_.size() < kChunkBytes || PushPending();
}

bool CFlacVerifier::PushPending()
{
    if (pending_.empty()) return !Failed();
    std::vector<uint8_t> chunk;
    chunk.reserve(kChunkBytes + (kChunkBytes >> 2));
    chunk.swap(pending_);
    std::unique_lock lock(mutex_);
    // A single chunk larger than the bound still goes through once the
    // queue is empty, or a large metadata block would wait forever.
    roomFree_.wait(lock, [&] {
        return failed_ || stopped_ || workerDone_ || queue_.empty() || queuedBytes_ + chunk.size() <= kMaxQueuedBytes;
    });
    if (failed_ || stopped_ || workerDone_) return false;
    queuedBytes_ += chunk.size();
    queue_.push_back(std::move(chunk));
    bytesReady_.notify_one();
    return true;
}

bool CFlacVerifier::ReadBytes(uint8_t* buffer, size_t* bytes, bool* end)
{
    if (currentPos_ == current_.size()) {
        std::unique_lock lock(mutex_);
        if (queue_.empty() && !ended_) {
            // Everything before this point has been decoded and checked
            // (libFLAC writes whole frames, and asks for more only when it
            // has used what it has); a waiting encoder must know that.
            workerIdle_ = true;
            roomFree_.notify_one();
            bytesReady_.wait(lock, [&] { return failed_ || stopped_ || ended_ || !queue_.empty(); });
            workerIdle_ = false;
        }
        if (failed_ || stopped_) return false;
        if (queue_.empty()) {
            *bytes = 0;
            *end = true;
            return true;
        }
        current_.swap(queue_.front());
        queue_.pop_front();
        queuedBytes_ -= current_.size();
        currentPos_ = 0;
        roomFree_.notify_one();
    }
    // Handing back fewer bytes than asked for is allowed; the decoder then
    // works on what has arrived instead of waiting for a full buffer.
    const size_t n = std::min(*bytes, current_.size() - currentPos_);
    std::memcpy(buffer, current_.data() + currentPos_, n);
    currentPos_ += n;
    *bytes = n;
    return true;
}

bool CFlacVerifier::CheckFrame(unsigned blockFrames, unsigned channels, const int32_t* const decoded[])
{
    if (channels != static_cast<unsigned>(channels_)) return MarkFailed();
    {
        std::lock_guard lock(mutex_);
        if (failed_ || stopped_) return false;
        // The samples of every frame were handed over before it was
        // encoded; a frame without them decodes to more than was given.
        if (filledFrames_ < blockFrames) return MarkFailedLocked();
    }
    // The encoder only appends to held_, so what this frame needs stays put;
    // the lock is taken just to look into the deque.
    const size_t ch = static_cast<size_t>(channels_);
    int32_t diff = 0;
    size_t done = 0;
    size_t index = 0;
    size_t offset = heldOffset_;
    while (done < blockFrames) {
        const int32_t* given = nullptr;
        size_t n = 0;
        {
            std::lock_guard lock(mutex_);
            const Samples& s = held_[index];
            given = s.interleaved.get() + offset * ch;
            n = std::min<size_t>(blockFrames - done, s.frames - offset);
            if (offset + n == s.frames) {
                ++index;
                offset = 0;
            } else {
                offset += n;
            }
        }
        if (ch == 2) {
            const int32_t* l = decoded[0] + done;
            const int32_t* r = decoded[1] + done;
            for (size_t i = 0; i < n; ++i) diff |= (given[2 * i] ^ l[i]) | (given[2 * i + 1] ^ r[i]);
        } else {
            const int32_t* m = decoded[0] + done;
            for (size_t i = 0; i < n; ++i) diff |= given[i] ^ m[i];
        }
        done += n;
    }
    if (diff != 0) return MarkFailed();
    // Checked samples go back to their owner outside the lock: letting go of
    // the last reference may wake a thread waiting for the memory.
    std::vector<std::shared_ptr<const int32_t>> checked;
    {
        std::lock_guard lock(mutex_);
        for (; index > 0; --index) {
            checked.push_back(std::move(held_.front().interleaved));
            held_.pop_front();
        }
        heldOffset_ = offset;
        filledFrames_ -= blockFrames;
        checkedFrames_ += blockFrames;
        roomFree_.notify_one();
    }
    return true;
}

bool CFlacVerifier::MarkFailed()
{
    std::lock_guard lock(mutex_);
    return MarkFailedLocked();
}

bool CFlacVerifier::MarkFailedLocked()
{
    failed_ = true;
    roomFree_.notify_all();
    bytesReady_.notify_all();
    return false;
}

bool CFlacVerifier::Finish()
{
    if (!worker_.joinable()) return false;
    const bool pushed = PushPending();
    {
        std::lock_guard lock(mutex_);
        ended_ = true;
        bytesReady_.notify_all();
    }
    worker_.join();
    decoder_->finish();
    std::lock_guard lock(mutex_);
    return pushed && !failed_ && !stopped_ && checkedFrames_ == addedFrames_;
}

void CFlacVerifier::Stop()
{
    {
        std::lock_guard lock(mutex_);
        stopped_ = true;
        bytesReady_.notify_all();
        roomFree_.notify_all();
    }
    if (worker_.joinable()) worker_.join();
    if (decoder_) decoder_->finish();
}

}  // namespace kelvane
