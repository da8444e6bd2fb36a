#include "output/CFlacEncoder.h"

#include "output/CFlacVerifier.h"

#include <FLAC++/encoder.h>
#include <FLAC/metadata.h>

#include <algorithm>
#include <cstdio>
#include <system_error>

namespace kelvane {

namespace {

// libFLAC keeps pointers to the metadata until the encoder is finished, so
// the blocks live exactly as long as the encoder state that uses them.
struct MetadataDeleter {
    void operator()(FLAC__StreamMetadata* block) const { FLAC__metadata_object_delete(block); }
};
using MetadataPtr = std::unique_ptr<FLAC__StreamMetadata, MetadataDeleter>;

// libFLAC takes the frame count as unsigned; larger blocks go in pieces.
constexpr size_t kMaxFramesPerCall = size_t{1} << 20;

constexpr const char* kMismatch = "the encoded audio did not decode to the original samples";
constexpr const char* kDiskFull = "the file could not be written (is the disk full?)";

// The stream goes to our own file rather than libFLAC's so that every byte
// written can also be handed to the verifier.
class FlacStream final : public FLAC::Encoder::Stream {
public:
    std::FILE* file = nullptr;
    CFlacVerifier* verifier = nullptr;
    CFlacEncoder::VerifierTamper tamper;  // tests only
    // Set while abandoning the stream: libFLAC's finish() still flushes the
    // last block, which nobody wants any more.
    bool aborting = false;

protected:
    FLAC__StreamEncoderWriteStatus write_callback(const FLAC__byte buffer[], size_t bytes, uint32_t samples,
                                                  uint32_t /*currentFrame*/) override
    {
        if (aborting || !file || std::fwrite(buffer, 1, bytes, file) != bytes)
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

}  // namespace

struct CFlacEncoder::State {
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

    // A failure while encoding is a verification failure when the verifier
    // says so; libFLAC then only sees its write refused.
    std::string WhyFailed() const
    {
        return verifier && verifier->Failed() ? std::string(kMismatch) : StateText(encoder);
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
    s->temp = EncoderTempPath(path);
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

    e.file = std::fopen(s->temp.c_str(), "wb");
    if (!e.file) return Fail("The file \"" + path.string() + "\" could not be created.");
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

    const auto status = st.encoder.init();
    if (status != FLAC__STREAM_ENCODER_INIT_STATUS_OK) {
        if (status == FLAC__STREAM_ENCODER_INIT_STATUS_ENCODER_ERROR)
            return Fail("The FLAC encoder could not start: " + st.WhyFailed() + ".");
        return Fail(std::string("The FLAC encoder could not start: ") + FLAC__StreamEncoderInitStatusString[status] + ".");
    }
    st.started = true;
    return true;
}

bool CFlacEncoder::Write(const int32_t* interleaved, size_t frames)
{
    if (!state_) return Fail("The FLAC file is not open.");
    if (frames == 0) return true;
    auto& s = *state_;
    if (s.verifier && s.verifier->Failed()) return Fail(std::string("FLAC encoding failed: ") + kMismatch + ".");
    // Out-of-range values would be encoded into a stream that decodes to
    // something else; catching them here gives a clearer message than the
    // verifier would. The scan is trivially vectorised.
    const size_t count = frames * static_cast<size_t>(s.channels);
    int32_t lo = 0;
    int32_t hi = 0;
    for (size_t i = 0; i < count; ++i) {
        lo = std::min(lo, interleaved[i]);
        hi = std::max(hi, interleaved[i]);
    }
    if (lo < s.minSample || hi > s.maxSample)
        return Fail("A sample lies outside the range of the FLAC file's bit depth.");

    const size_t piece = s.verifier ? CFlacVerifier::kMaxFramesPerAdd : kMaxFramesPerCall;
    while (frames > 0) {
        const size_t n = std::min(frames, piece);
        // The verifier gets the samples first: it must never wait for them.
        if (s.verifier && !s.verifier->AddSamples(interleaved, n))
            return Fail(std::string("FLAC encoding failed: ") + kMismatch + ".");
        if (!s.encoder.process_interleaved(interleaved, static_cast<unsigned>(n)))
            return Fail("FLAC encoding failed: " + s.WhyFailed() + ".");
        interleaved += n * static_cast<size_t>(s.channels);
        frames -= n;
    }
    return true;
}

bool CFlacEncoder::Finish()
{
    if (!state_) return Fail("The FLAC file is not open.");
    auto& s = *state_;
    s.started = false;
    const bool encoded = s.encoder.finish();
    const bool verified = !s.verifier || s.verifier->Finish();
    if (!verified) return Fail(std::string("The FLAC file could not be completed: ") + kMismatch + ".");
    if (!encoded) return Fail("The FLAC file could not be completed: " + StateText(s.encoder) + ".");
    // Buffered bytes reach the disk only here; a full disk shows up now.
    const bool closed = std::fclose(s.encoder.file) == 0;
    s.encoder.file = nullptr;
    if (!closed) return Fail(std::string("The FLAC file could not be completed: ") + kDiskFull + ".");
    std::error_code ec;
    std::filesystem::rename(s.temp, s.target, ec);
    if (ec) return Fail("The FLAC file \"" + s.target.string() + "\" could not be written: " + ec.message() + ".");
    state_.reset();
    error_.clear();
    return true;
}

void CFlacEncoder::Abort()
{
    if (!state_) return;
    auto& s = *state_;
    // The worker goes first, so nothing below can wait on it.
    if (s.verifier) s.verifier->Stop();
    s.encoder.aborting = true;
    // finish() releases libFLAC's state; its result no longer matters.
    if (s.started) s.encoder.finish();
    s.started = false;
    if (s.encoder.file) std::fclose(s.encoder.file);
    s.encoder.file = nullptr;
    std::error_code ec;
    std::filesystem::remove(s.temp, ec);
    state_.reset();
}

}  // namespace kelvane
