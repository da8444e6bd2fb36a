#include "output/CFlacEncoder.h"

#include <FLAC++/encoder.h>
#include <FLAC/metadata.h>

#include <algorithm>
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

std::string StateText(const FLAC::Encoder::File& encoder)
{
    const auto state = encoder.get_state();
    if (state == FLAC__STREAM_ENCODER_VERIFY_MISMATCH_IN_AUDIO_DATA)
        return "the encoded audio did not decode to the original samples";
    if (state == FLAC__STREAM_ENCODER_IO_ERROR || state == FLAC__STREAM_ENCODER_CLIENT_ERROR)
        return "the file could not be written (is the disk full?)";
    return state.as_cstring();
}

}  // namespace

struct CFlacEncoder::State {
    FLAC::Encoder::File encoder;
    MetadataPtr comments;
    MetadataPtr padding;
    std::filesystem::path target;
    std::filesystem::path temp;
    int channels = 0;
    int32_t minSample = 0;
    int32_t maxSample = 0;
    bool started = false;  // init succeeded: finish() must run before delete
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

    auto& e = s->encoder;
    FLAC__StreamMetadata* blocks[2] = {s->comments.get(), s->padding.get()};
    const bool configured = e.set_verify(verify_) && e.set_compression_level(static_cast<unsigned>(level_)) &&
                            e.set_channels(static_cast<unsigned>(channels)) &&
                            e.set_bits_per_sample(static_cast<unsigned>(bitsPerSample)) &&
                            e.set_sample_rate(static_cast<unsigned>(sampleRate)) &&
                            e.set_total_samples_estimate(totalFramesEstimate) && e.set_metadata(blocks, 2);
    if (!configured) return Fail("The FLAC encoder could not be set up: " + StateText(e) + ".");

    state_ = std::move(s);
    const auto status = state_->encoder.init(state_->temp.string());
    if (status != FLAC__STREAM_ENCODER_INIT_STATUS_OK) {
        if (status == FLAC__STREAM_ENCODER_INIT_STATUS_ENCODER_ERROR &&
            state_->encoder.get_state() == FLAC__STREAM_ENCODER_IO_ERROR) {
            return Fail("The file \"" + path.string() + "\" could not be created.");
        }
        return Fail(std::string("The FLAC encoder could not start: ") + FLAC__StreamEncoderInitStatusString[status] + ".");
    }
    state_->started = true;
    return true;
}

bool CFlacEncoder::Write(const int32_t* interleaved, size_t frames)
{
    if (!state_) return Fail("The FLAC file is not open.");
    if (frames == 0) return true;
    // Out-of-range values would be encoded into a stream that decodes to
    // something else; catching them here gives a clearer message than the
    // verifier would. The scan is trivially vectorised.
    const size_t count = frames * static_cast<size_t>(state_->channels);
    int32_t lo = 0;
    int32_t hi = 0;
    for (size_t i = 0; i < count; ++i) {
        lo = std::min(lo, interleaved[i]);
        hi = std::max(hi, interleaved[i]);
    }
    if (lo < state_->minSample || hi > state_->maxSample)
        return Fail("A sample lies outside the range of the FLAC file's bit depth.");

    while (frames > 0) {
        const size_t n = std::min(frames, kMaxFramesPerCall);
        if (!state_->encoder.process_interleaved(interleaved, static_cast<unsigned>(n)))
            return Fail("FLAC encoding failed: " + StateText(state_->encoder) + ".");
        interleaved += n * static_cast<size_t>(state_->channels);
        frames -= n;
    }
    return true;
}

bool CFlacEncoder::Finish()
{
    if (!state_) return Fail("The FLAC file is not open.");
    state_->started = false;
    if (!state_->encoder.finish())
        return Fail("The FLAC file could not be completed: " + StateText(state_->encoder) + ".");
    std::error_code ec;
    std::filesystem::rename(state_->temp, state_->target, ec);
    if (ec) return Fail("The FLAC file \"" + state_->target.string() + "\" could not be written: " + ec.message() + ".");
    state_.reset();
    error_.clear();
    return true;
}

void CFlacEncoder::Abort()
{
    if (!state_) return;
    // finish() closes the file; its result no longer matters.
    if (state_->started) state_->encoder.finish();
    std::error_code ec;
    std::filesystem::remove(state_->temp, ec);
    state_.reset();
}

}  // namespace kelvane
