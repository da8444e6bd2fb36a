#pragma once
// Ogg Vorbis output through libvorbisenc in VBR mode. Each file gets a
// stream serial number drawn from a generator seeded with the current time,
// so tracks exported one after another can be chained without clashing.

#include "output/IAudioEncoder.h"

#include <chrono>
#include <functional>
#include <memory>

namespace kelvane {

class COggEncoder final : public IAudioEncoder {
public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;

    // The text the writer shows when the Vorbis library refuses the format.
    static constexpr std::string_view kStartError = "error starting Ogg";

    // quality: Vorbis VBR base quality 0.0..1.0 (see OggQualityAt); values
    // outside are clamped. clock supplies the time that seeds the serial
    // number; empty means the system clock (tests inject their own).
    explicit COggEncoder(float quality, Clock clock = {});
    ~COggEncoder() override;

    COggEncoder(const COggEncoder&) = delete;
    COggEncoder& operator=(const COggEncoder&) = delete;

    bool Open(const std::filesystem::path& path, int sampleRate, int bitsPerSample, int channels,
              uint64_t totalFramesEstimate, const EncoderTags& tags) override;
    bool Write(const int32_t* interleaved, size_t frames) override;
    // Ends the stream; succeeds only once the end-of-stream page is on disk.
    bool Finish() override;
    void Abort() override;
    const std::string& LastError() const override { return error_; }

    // The serial number of the stream being written (of the last one opened).
    int SerialNumber() const { return serial_; }

    // The serial number a stream opened at time t gets.
    static int SerialFor(std::chrono::system_clock::time_point t);

private:
    struct State;
    bool Fail(std::string message);
    bool Drain();

    float quality_;
    Clock clock_;
    std::unique_ptr<State> state_;
    std::string error_;
    int serial_ = 0;
};

}  // namespace kelvane
