#include "output/COggEncoder.h"

#include "output/DurableFiles.h"

#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <system_error>

namespace kelvane {

namespace {

// The analysis buffer is fed in slices of this many frames: libvorbis moves
// the rest of its buffer down after every block it takes out, so one huge
// slice would cost far more copying than many small ones.
constexpr size_t kSliceFrames = 1024;

constexpr size_t kFileBufferBytes = size_t{1} << 20;

}  // namespace

struct COggEncoder::State {
    std::filesystem::path target;
    std::filesystem::path temp;
    std::FILE* file = nullptr;
    int channels = 0;
    float scale = 0.0f;  // sample value -> float in [-1, 1)
    bool eos = false;

    vorbis_info info;
    vorbis_comment comment;
    vorbis_dsp_state dsp;
    vorbis_block block;
    ogg_stream_state stream;
    bool infoReady = false;
    bool commentReady = false;
    bool dspReady = false;
    bool blockReady = false;
    bool streamReady = false;

    ~State()
    {
        // libvorbis wants its structures torn down in reverse order.
        if (streamReady) ogg_stream_clear(&stream);
        if (blockReady) vorbis_block_clear(&block);
        if (dspReady) vorbis_dsp_clear(&dsp);
        if (commentReady) vorbis_comment_clear(&comment);
        if (infoReady) vorbis_info_clear(&info);
        if (file) std::fclose(file);
    }

    bool WritePage(const ogg_page& page)
    {
        const bool ok = std::fwrite(page.header, 1, static_cast<size_t>(page.header_len), file) ==
                            static_cast<size_t>(page.header_len) &&
                        std::fwrite(page.body, 1, static_cast<size_t>(page.body_len), file) ==
                            static_cast<size_t>(page.body_len);
        if (ok && ogg_page_eos(&page)) eos = true;
        return ok;
    }
};

COggEncoder::COggEncoder(float quality, Clock clock)
    : quality_(std::clamp(quality, 0.0f, 1.0f)), clock_(std::move(clock))
{
    if (!clock_) clock_ = [] { return std::chrono::system_clock::now(); };
}

COggEncoder::~COggEncoder() { Abort(); }

int COggEncoder::SerialFor(std::chrono::system_clock::time_point t)
{
    const auto ticks = static_cast<uint64_t>(t.time_since_epoch().count());
    std::seed_seq seed{static_cast<uint32_t>(ticks), static_cast<uint32_t>(ticks >> 32)};
    std::mt19937 generator(seed);
    return static_cast<int>(generator());
}

bool COggEncoder::Fail(std::string message)
{
    Abort();
    error_ = std::move(message);
    return false;
}

bool COggEncoder::Open(const std::filesystem::path& path, int sampleRate, int bitsPerSample,
                       int channels, uint64_t /*totalFramesEstimate*/, const EncoderTags& tags)
{
    Abort();
    error_.clear();
    if (bitsPerSample != 16 && bitsPerSample != 24)
        return Fail("Ogg Vorbis files can be made from 16 or 24 bit samples only.");
    if (channels != 1 && channels != 2) return Fail("Ogg Vorbis files can be written in mono or stereo only.");
    if (sampleRate <= 0) return Fail(std::string(kStartError));
    for (const auto& [name, value] : tags) {
        if (std::string problem = TagProblem(name, value); !problem.empty()) return Fail(problem);
    }

    auto s = std::make_unique<State>();
    s->target = path;
    s->channels = channels;
    s->scale = 1.0f / static_cast<float>(int32_t{1} << (bitsPerSample - 1));

    vorbis_info_init(&s->info);
    s->infoReady = true;
    if (vorbis_encode_init_vbr(&s->info, channels, sampleRate, quality_) != 0) return Fail(std::string(kStartError));

    vorbis_comment_init(&s->comment);
    s->commentReady = true;
    for (const auto& [name, value] : tags) vorbis_comment_add_tag(&s->comment, name.c_str(), value.c_str());

    if (vorbis_analysis_init(&s->dsp, &s->info) != 0) return Fail(std::string(kStartError));
    s->dspReady = true;
    if (vorbis_block_init(&s->dsp, &s->block) != 0) return Fail(std::string(kStartError));
    s->blockReady = true;

    serial_ = SerialFor(clock_());
    if (ogg_stream_init(&s->stream, serial_) != 0) return Fail(std::string(kStartError));
    s->streamReady = true;

    const PartialPath partial = CreatePartialFile(path.string());
    if (!partial) return Fail("The file \"" + path.string() + "\" could not be created: " + partial.error + ".");
    s->file = std::fopen(partial.path.c_str(), "wb");
    if (!s->file) {
        const std::string why = std::strerror(errno);
        std::error_code ec;
        std::filesystem::remove(partial.path, ec);
        return Fail("The file \"" + path.string() + "\" could not be created: " + why + ".");
    }
    s->temp = partial.path;
    std::setvbuf(s->file, nullptr, _IOFBF, kFileBufferBytes);
    state_ = std::move(s);

    ogg_packet identification;
    ogg_packet comments;
    ogg_packet codebooks;
    if (vorbis_analysis_headerout(&state_->dsp, &state_->comment, &identification, &comments, &codebooks) != 0)
        return Fail(std::string(kStartError));
    ogg_stream_packetin(&state_->stream, &identification);
    ogg_stream_packetin(&state_->stream, &comments);
    ogg_stream_packetin(&state_->stream, &codebooks);
    // Audio must start on a fresh page after the headers, so flush them out.
    ogg_page page;
    while (ogg_stream_flush(&state_->stream, &page) != 0) {
        if (!state_->WritePage(page)) return Fail("The file \"" + path.string() + "\" could not be written.");
    }
    return true;
}

bool COggEncoder::Drain()
{
    State& s = *state_;
    while (vorbis_analysis_blockout(&s.dsp, &s.block) == 1) {
        vorbis_analysis(&s.block, nullptr);
        vorbis_bitrate_addblock(&s.block);
        ogg_packet packet;
        while (vorbis_bitrate_flushpacket(&s.dsp, &packet) == 1) {
            ogg_stream_packetin(&s.stream, &packet);
            ogg_page page;
            while (!s.eos && ogg_stream_pageout(&s.stream, &page) != 0) {
                if (!s.WritePage(page)) return false;
            }
        }
    }
    return true;
}

bool COggEncoder::Write(const int32_t* interleaved, size_t frames)
{
    if (!state_) return Fail("The Ogg Vorbis file is not open.");
    State& s = *state_;
    if (s.eos) return Fail("The Ogg Vorbis stream has already ended.");
    while (frames > 0) {
        const size_t n = std::min(frames, kSliceFrames);
        float** buffer = vorbis_analysis_buffer(&s.dsp, static_cast<int>(n));
        if (s.channels == 2) {
            float* left = buffer[0];
            float* right = buffer[1];
            for (size_t i = 0; i < n; ++i) {
                left[i] = static_cast<float>(interleaved[2 * i]) * s.scale;
                right[i] = static_cast<float>(interleaved[2 * i + 1]) * s.scale;
            }
        } else {
            float* mono = buffer[0];
            for (size_t i = 0; i < n; ++i) mono[i] = static_cast<float>(interleaved[i]) * s.scale;
        }
        vorbis_analysis_wrote(&s.dsp, static_cast<int>(n));
        if (!Drain()) return Fail("The file \"" + s.target.string() + "\" could not be written (is the disk full?).");
        if (s.eos) return Fail("The Ogg Vorbis stream ended early.");
        interleaved += n * static_cast<size_t>(s.channels);
        frames -= n;
    }
    return true;
}

bool COggEncoder::Finish()
{
    if (!state_) return Fail("The Ogg Vorbis file is not open.");
    State& s = *state_;
    const std::string target = s.target.string();
    // A zero-length write tells the library the stream is over.
    vorbis_analysis_wrote(&s.dsp, 0);
    if (!Drain()) return Fail("The file \"" + target + "\" could not be written (is the disk full?).");
    // The last packet may sit in a page the library has not released yet.
    ogg_page page;
    while (!s.eos && ogg_stream_flush(&s.stream, &page) != 0) {
        if (!s.WritePage(page)) return Fail("The file \"" + target + "\" could not be written (is the disk full?).");
    }
    if (!s.eos) return Fail("The Ogg Vorbis stream of \"" + target + "\" could not be ended.");
    const bool closed = std::fclose(s.file) == 0;
    s.file = nullptr;
    if (!closed) return Fail("The file \"" + target + "\" could not be written (is the disk full?).");
    std::string why;
    const Placement placed = PlaceFile(s.temp.string(), target, ReplaceExisting(), &why);
    if (placed == Placement::Exists) return Fail(why);
    if (placed != Placement::Placed) return Fail("The Ogg Vorbis file \"" + target + "\" could not be written: " + why + ".");
    state_.reset();
    error_.clear();
    return true;
}

void COggEncoder::Abort()
{
    if (!state_) return;
    const std::filesystem::path temp = state_->temp;
    state_.reset();  // closes the file
    std::error_code ec;
    if (!temp.empty()) std::filesystem::remove(temp, ec);
}

}  // namespace kelvane
