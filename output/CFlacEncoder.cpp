#include "output/CFlacEncoder.h"

#include "output/CFlacVerifier.h"

#include <FLAC++/encoder.h>
#include <FLAC/metadata.h>

#include <algorithm>
#include <atomic>
#include <cstdio>

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
    if (state == FLAC__STREAM_ENCODER_VERIFY_MISMATCH_IN_AUDIO_DATA) return CFlacEncoder::kMismatch;
    if (state == FLAC__STREAM_ENCODER_IO_ERROR || state == FLAC__STREAM_ENCODER_CLIENT_ERROR)
        return CFlacEncoder::kDiskFull;
    return state.as_cstring();
}

}  // namespace

struct CFlacEncoder::State {
    // Declared before the encoder, which points at it, so it is destroyed
    // after the encoder.
    std::unique_ptr<CFlacVerifier> verifier;
    FlacStream encoder;
    MetadataPtr comments;
    MetadataPtr padding;
    bool started = false;  // init succeeded: finish() must run before delete

    // A failure while encoding is a verification failure when the verifier
    // says so; libFLAC then only sees its write refused.
    std::string WhyFailed() const
    {
        return verifier && verifier->Failed() ? std::string(kMismatch) : StateText(encoder);
    }
};

CFlacEncoder::CFlacEncoder(int compressionLevel, bool verify)
    : CThreadedEncoder("FLAC", verify), level_(std::clamp(compressionLevel, 0, 8))
{
}

CFlacEncoder::~CFlacEncoder() { Abort(); }

bool CFlacEncoder::Open(const std::filesystem::path& path, int sampleRate, int bitsPerSample,
                        int channels, uint64_t totalFramesEstimate, const EncoderTags& tags)
{
    const bool storable = sampleRate > 0 && FLAC__format_sample_rate_is_valid(static_cast<unsigned>(sampleRate));
    if (!Prepare(sampleRate, bitsPerSample, channels, tags, storable)) return false;

    auto s = std::make_unique<State>();
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

    std::FILE* file = CreatePartial(path, "wb");
    if (!file) return false;
    state_ = std::move(s);
    auto& st = *state_;
    st.encoder.file = file;

    if (Verifying()) {
        // libFLAC writes the header during init, so the verifier runs first.
        st.verifier = std::make_unique<CFlacVerifier>(channels, st.encoder.get_blocksize());
        if (!st.verifier->Start()) return Fail("The FLAC encoder could not start its verification.");
        st.encoder.verifier = st.verifier.get();
        st.encoder.tamper = tamper_;
    }

    const auto status = st.encoder.init();
    if (status != FLAC__STREAM_ENCODER_INIT_STATUS_OK) {
        if (status == FLAC__STREAM_ENCODER_INIT_STATUS_ENCODER_ERROR)
            return Fail("The FLAC encoder could not start: " + st.WhyFailed() + ".");
        return Fail(std::string("The FLAC encoder could not start: ") + FLAC__StreamEncoderInitStatusString[status] + ".");
    }
    st.started = true;
    // Started only now: init wrote the header on this thread.
    const size_t held = st.verifier ? (st.verifier->HoldFrames() - 1) / kBlockFrames + 1 : 0;
    return StartWorker(kBlockFrames, held);
}

std::string CFlacEncoder::EncodeBlock(const Block& block)
{
    State& s = *state_;
    // The verifier gets the samples first: it must never wait for them.
    if (s.verifier && !s.verifier->AddSamples(block.samples, block.frames))
        return std::string("FLAC encoding failed: ") + kMismatch + ".";
    if (!s.encoder.process_interleaved(block.samples.get(), static_cast<unsigned>(block.frames)))
        return "FLAC encoding failed: " + s.WhyFailed() + ".";
    return {};
}

bool CFlacEncoder::CheckFailed() const { return state_ && state_->verifier && state_->verifier->Failed(); }

bool CFlacEncoder::CompleteStream()
{
    State& s = *state_;
    s.started = false;
    const bool encoded = s.encoder.finish();
    const bool verified = !s.verifier || s.verifier->Finish();
    if (!verified) return Fail(std::string("The FLAC file could not be completed: ") + kMismatch + ".");
    if (!encoded) return Fail("The FLAC file could not be completed: " + StateText(s.encoder) + ".");
    return true;
}

void CFlacEncoder::Interrupt()
{
    if (!state_) return;
    // A block being encoded stops at its next write, which is refused.
    state_->encoder.aborting = true;
    if (state_->verifier) state_->verifier->Stop();
}

void CFlacEncoder::Release()
{
    if (!state_) return;
    // finish() releases libFLAC's state; its result no longer matters.
    if (state_->started) state_->encoder.finish();
    state_->started = false;
    state_->encoder.file = nullptr;
    state_.reset();
}

}  // namespace kelvane
