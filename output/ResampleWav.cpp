#include "output/ResampleWav.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kelvane {

namespace {

uint32_t Le16(const unsigned char* p) { return static_cast<uint32_t>(p[0] | p[1] << 8); }
uint32_t Le32(const unsigned char* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

void PutLe(unsigned char* p, uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

std::string WithReason(const char* text, const std::string& path, int error)
{
    return std::string(text) + "\n" + path + ": " + std::strerror(error);
}

bool Skip(std::FILE* f, uint64_t bytes)
{
    // fseek takes a long; a chunk is at most 4 GiB, which fits on every
    // platform this runs on, but be exact about it anyway.
    while (bytes > 0) {
        const long step = static_cast<long>(std::min<uint64_t>(bytes, 1u << 30));
        if (std::fseek(f, step, SEEK_CUR) != 0) return false;
        bytes -= static_cast<uint64_t>(step);
    }
    return true;
}

constexpr size_t kIoBuffer = 1 << 20;

}  // namespace

std::string FwriteErrorText(WriteStage stage)
{
    return "fwrite error(" + std::to_string(static_cast<int>(stage)) + ").\n";
}

CPcmWavReader::~CPcmWavReader()
{
    if (file_) std::fclose(file_);
}

bool CPcmWavReader::Open(const std::string& path, std::string* message)
{
    auto fail = [&](std::string text) {
        if (message) *message = std::move(text);
        if (file_) std::fclose(file_);
        file_ = nullptr;
        return false;
    };
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return fail(WithReason(kResampleCannotOpenInput, path, errno));
    if (S_ISDIR(st.st_mode)) return fail(WithReason(kResampleCannotOpenInput, path, EISDIR));
    file_ = std::fopen(path.c_str(), "rb");
    if (!file_) return fail(WithReason(kResampleCannotOpenInput, path, errno));
    std::setvbuf(file_, nullptr, _IOFBF, kIoBuffer);

    unsigned char riff[12];
    if (std::fread(riff, 1, sizeof riff, file_) != sizeof riff || std::memcmp(riff, "RIFF", 4) != 0 ||
        std::memcmp(riff + 8, "WAVE", 4) != 0)
        return fail(kResampleOnlyPcm);
    uint64_t position = sizeof riff;
    bool haveFormat = false;
    for (;;) {
        unsigned char head[8];
        if (std::fread(head, 1, sizeof head, file_) != sizeof head)
            return fail(haveFormat ? kResampleNoDataChunk : kResampleOnlyPcm);
        position += sizeof head;
        const uint32_t size = Le32(head + 4);
        if (std::memcmp(head, "fmt ", 4) == 0) {
            unsigned char fmt[16];
            if (size < sizeof fmt || std::fread(fmt, 1, sizeof fmt, file_) != sizeof fmt) return fail(kResampleOnlyPcm);
            if (Le16(fmt) != 1) return fail(kResampleOnlyPcm);
            channels_ = static_cast<int>(Le16(fmt + 2));
            const uint32_t rate = Le32(fmt + 4);
            const uint32_t byteRate = Le32(fmt + 8);
            if (channels_ < 1 || rate < 1 || rate > INT32_MAX) return fail(kResampleOnlyPcm);
            rate_ = static_cast<int>(rate);
            const uint64_t bytes = byteRate / (uint64_t{rate} * static_cast<uint64_t>(channels_));
            if (bytes < 1 || bytes > 4) return fail(kResampleOnlyPcm);
            bytes_ = static_cast<int>(bytes);
            haveFormat = true;
            if (!Skip(file_, uint64_t{size} - sizeof fmt + (size & 1))) return fail(kResampleNoDataChunk);
            position += uint64_t{size} + (size & 1);
        } else if (std::memcmp(head, "data", 4) == 0) {
            if (!haveFormat) return fail(kResampleOnlyPcm);
            uint64_t data = size;
            if (S_ISREG(st.st_mode)) {
                const uint64_t rest = static_cast<uint64_t>(st.st_size) > position
                                          ? static_cast<uint64_t>(st.st_size) - position
                                          : 0;
                data = std::min(data, rest);
            }
            frames_ = static_cast<int64_t>(data / (static_cast<uint64_t>(channels_) * static_cast<uint64_t>(bytes_)));
            left_ = frames_;
            return true;
        } else {
            if (!Skip(file_, uint64_t{size} + (size & 1))) return fail(haveFormat ? kResampleNoDataChunk : kResampleOnlyPcm);
            position += uint64_t{size} + (size & 1);
        }
    }
}

size_t CPcmWavReader::Read(double* out, size_t frames)
{
    if (!file_ || failed_) return 0;
    frames = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(frames), left_));
    if (frames == 0) return 0;
    const size_t frameBytes = static_cast<size_t>(channels_) * static_cast<size_t>(bytes_);
    buffer_.resize(frames * frameBytes);
    const size_t got = std::fread(buffer_.data(), 1, buffer_.size(), file_) / frameBytes;
    if (got < frames) failed_ = true;
    left_ -= static_cast<int64_t>(got);
    const auto* p = reinterpret_cast<const unsigned char*>(buffer_.data());
    const size_t n = got * static_cast<size_t>(channels_);
    switch (bytes_) {
    case 1:
        for (size_t i = 0; i < n; ++i) out[i] = (static_cast<int>(p[i]) - 128) / 127.0;
        break;
    case 2:
        for (size_t i = 0; i < n; ++i, p += 2) out[i] = static_cast<int16_t>(Le16(p)) / 32767.0;
        break;
    case 3:
        for (size_t i = 0; i < n; ++i, p += 3)
            out[i] = (static_cast<int32_t>((static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                                            static_cast<uint32_t>(p[2]) << 16)
                                           << 8) >>
                      8) /
                     8388607.0;
        break;
    default:
        for (size_t i = 0; i < n; ++i, p += 4) out[i] = static_cast<int32_t>(Le32(p)) / 2147483647.0;
        break;
    }
    return got;
}

CPcmWavWriter::~CPcmWavWriter() { Discard(); }

bool CPcmWavWriter::Create(const std::string& path, int channels, int rate, int bits, std::string* message)
{
    Discard();
    path_ = path;
    bytes_ = bits / 8;
    file_ = std::fopen(path.c_str(), "wb");
    if (!file_) {
        if (message) *message = WithReason(kResampleCannotOpenOutput, path, errno);
        path_.clear();
        return false;
    }
    std::setvbuf(file_, nullptr, _IOFBF, kIoBuffer);
    unsigned char h[44] = {};
    std::memcpy(h, "RIFF", 4);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    PutLe(h + 16, 16, 4);
    PutLe(h + 20, 1, 2);
    PutLe(h + 22, static_cast<uint32_t>(channels), 2);
    PutLe(h + 24, static_cast<uint32_t>(rate), 4);
    PutLe(h + 28, static_cast<uint32_t>(channels * bytes_ * rate), 4);
    PutLe(h + 32, static_cast<uint32_t>(bytes_ * channels), 2);
    PutLe(h + 34, static_cast<uint32_t>(bytes_ * 8), 2);
    std::memcpy(h + 36, "data", 4);
    if (std::fwrite(h, 1, sizeof h, file_) != sizeof h) {
        if (message) *message = FwriteErrorText(WriteStage::Header);
        Discard();
        return false;
    }
    return true;
}

bool CPcmWavWriter::Write(const int32_t* samples, size_t count)
{
    if (!file_) return false;
    buffer_.resize(count * static_cast<size_t>(bytes_));
    auto* p = reinterpret_cast<unsigned char*>(buffer_.data());
    switch (bytes_) {
    case 1:
        for (size_t i = 0; i < count; ++i) p[i] = static_cast<unsigned char>(samples[i] + 128);
        break;
    case 2:
        for (size_t i = 0; i < count; ++i, p += 2) PutLe(p, static_cast<uint32_t>(samples[i]), 2);
        break;
    default:
        for (size_t i = 0; i < count; ++i, p += 3) PutLe(p, static_cast<uint32_t>(samples[i]), 3);
        break;
    }
    return std::fwrite(buffer_.data(), 1, buffer_.size(), file_) == buffer_.size();
}

bool CPcmWavWriter::Finish(std::string* message)
{
    auto fail = [&](WriteStage stage) {
        if (message) *message = FwriteErrorText(stage);
        Discard();
        return false;
    };
    if (!file_) return fail(WriteStage::Closing);
    if (std::fflush(file_) != 0) return fail(WriteStage::Samples);
    if (std::fseek(file_, 0, SEEK_END) != 0) return fail(WriteStage::RiffSize);
    const long length = std::ftell(file_);
    if (length < 44 || static_cast<uint64_t>(length) - 8 > UINT32_MAX) return fail(WriteStage::RiffSize);
    unsigned char v[4];
    PutLe(v, static_cast<uint32_t>(length - 8), 4);
    if (std::fseek(file_, 4, SEEK_SET) != 0 || std::fwrite(v, 1, 4, file_) != 4) return fail(WriteStage::RiffSize);
    PutLe(v, static_cast<uint32_t>(length - 44), 4);
    if (std::fseek(file_, 40, SEEK_SET) != 0 || std::fwrite(v, 1, 4, file_) != 4) return fail(WriteStage::DataSize);
    std::FILE* f = file_;
    file_ = nullptr;
    if (std::fclose(f) != 0) {
        file_ = nullptr;
        if (message) *message = FwriteErrorText(WriteStage::Closing);
        std::remove(path_.c_str());
        path_.clear();
        return false;
    }
    path_.clear();
    return true;
}

void CPcmWavWriter::Discard()
{
    if (file_) std::fclose(file_);
    file_ = nullptr;
    if (!path_.empty()) std::remove(path_.c_str());
    path_.clear();
}

}  // namespace kelvane
