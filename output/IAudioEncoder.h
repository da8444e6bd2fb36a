#pragma once
// The built-in encoders as the track writer sees them: open a file, feed
// interleaved integer samples in large blocks, finish. One virtual call per
// block, never per sample, so the encoders run at the libraries' own speed.
//
// Every encoder writes to a partial file beside the target, under a name no
// other process can hold, and moves it onto the target only when Finish
// succeeds (see DurableFiles.h). A failed or aborted export thus leaves an
// earlier file of the same name untouched and no half-written one.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kelvane {

// Tag name/value pairs in the order they should appear (NAME, value).
using EncoderTags = std::vector<std::pair<std::string, std::string>>;

class IAudioEncoder {
public:
    virtual ~IAudioEncoder() = default;

    // Starts a new file at path. sampleRate in Hz; bitsPerSample 16 or 24;
    // channels 1 or 2; totalFramesEstimate in frames (0 when unknown), used
    // for the stream header only. Tag names must be printable ASCII without
    // '='; values must be UTF-8. Returns false with LastError() set when the
    // format, the tags or the file are unusable; nothing is left on disk then.
    virtual bool Open(const std::filesystem::path& path, int sampleRate, int bitsPerSample,
                      int channels, uint64_t totalFramesEstimate, const EncoderTags& tags) = 0;

    // Encodes frames frames of interleaved samples (channels values per
    // frame, each within the signed range of bitsPerSample). The caller keeps
    // ownership of the buffer. frames == 0 is allowed and does nothing.
    // Returns false with LastError() set on failure; the encoder is then
    // aborted (partial file deleted) and further calls fail.
    virtual bool Write(const int32_t* interleaved, size_t frames) = 0;

    // Completes the stream and moves the file onto the path given to Open.
    // Returns false with LastError() set if the stream could not be completed,
    // or if a file exists at the path by then that may not be replaced; the
    // partial file is deleted then.
    virtual bool Finish() = 0;

    // Stops encoding and deletes the partial file. Safe to call at any time,
    // also when nothing is open. Destroying an unfinished encoder aborts it.
    virtual void Abort() = 0;

    // The last failure as a sentence for the user; empty after success.
    virtual const std::string& LastError() const = 0;

    // Whether Finish may replace a file found at the path. The exporter
    // allows it only for a file whose replacement the user confirmed; one
    // that appears while the stream is written (another run saving to the
    // same name) is then kept and Finish fails.
    void SetReplaceExisting(bool replace) { replaceExisting_ = replace; }
    bool ReplaceExisting() const { return replaceExisting_; }

private:
    bool replaceExisting_ = true;
};

// Why a tag cannot be written, as a sentence for the user, or empty when it
// can. Shared by the encoders so both formats refuse the same tags: names as
// Vorbis comments allow them, values as well-formed UTF-8.
inline std::string TagProblem(std::string_view name, std::string_view value)
{
    if (name.empty()) return "A tag has no name.";
    for (const char c : name) {
        if (c < 0x20 || c > 0x7D || c == '=')
            return "The tag name \"" + std::string(name) + "\" contains a character tags cannot hold.";
    }
    const auto* p = reinterpret_cast<const unsigned char*>(value.data());
    const auto* end = p + value.size();
    while (p < end) {
        const unsigned char c = *p;
        int follow = 0;
        uint32_t code = 0;
        if (c < 0x80) { ++p; continue; }
        if ((c & 0xE0) == 0xC0) { follow = 1; code = c & 0x1F; }
        else if ((c & 0xF0) == 0xE0) { follow = 2; code = c & 0x0F; }
        else if ((c & 0xF8) == 0xF0) { follow = 3; code = c & 0x07; }
        else follow = -1;
        bool ok = follow > 0 && end - p > follow;
        for (int i = 1; ok && i <= follow; ++i) {
            ok = (p[i] & 0xC0) == 0x80;
            code = (code << 6) | (p[i] & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not text.
        static constexpr uint32_t kMinimum[4] = {0, 0x80, 0x800, 0x10000};
        ok = ok && code >= kMinimum[follow] && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
        if (!ok) return "The tag " + std::string(name) + " is not valid UTF-8 text.";
        p += follow + 1;
    }
    return {};
}

}  // namespace kelvane
