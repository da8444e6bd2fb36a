#include "tests/support/WavWriter.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

namespace kelvane::test {

namespace {

void Put16(std::vector<uint8_t>& out, uint32_t v)
{
    out.push_back(static_cast<uint8_t>(v & 0xFF));
    out.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
}

void Put32(std::vector<uint8_t>& out, uint32_t v)
{
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

void Patch32(std::vector<uint8_t>& out, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i) out[at + static_cast<size_t>(i)] = static_cast<uint8_t>((v >> (8 * i)) & 0xFF);
}

void PutId(std::vector<uint8_t>& out, std::string id)
{
    id.resize(4, ' ');
    out.insert(out.end(), id.begin(), id.end());
}

void PutChunk(std::vector<uint8_t>& out, const std::string& id, const std::string& payload)
{
    PutId(out, id);
    Put32(out, static_cast<uint32_t>(payload.size()));
    out.insert(out.end(), payload.begin(), payload.end());
    if (payload.size() % 2) out.push_back(0);
}

std::string CaseId(const WavOptions& opts, std::string id)
{
    for (char& c : id) {
        if (opts.lowerCaseIds && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (opts.upperCaseIds && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return id;
}

// KSDATAFORMAT_SUBTYPE_PCM as it lies on disk.
constexpr std::array<uint8_t, 16> kPcmGuid = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                              0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

uint32_t Get16(const std::vector<uint8_t>& b, size_t at)
{
    return static_cast<uint32_t>(b[at]) | (static_cast<uint32_t>(b[at + 1]) << 8);
}

uint32_t Get32(const std::vector<uint8_t>& b, size_t at)
{
    return Get16(b, at) | (Get16(b, at + 2) << 16);
}

}  // namespace

std::vector<uint8_t> WavBytes(const WavOptions& opts, const std::vector<int32_t>& samples)
{
    const int bytesPerSample = std::max(1, (opts.bits + 7) / 8);
    const int channels = std::max(0, opts.channels);

    std::vector<uint8_t> fmt;
    Put16(fmt, opts.formatTag);
    Put16(fmt, static_cast<uint32_t>(channels));
    Put32(fmt, static_cast<uint32_t>(opts.sampleRate));
    Put32(fmt, static_cast<uint32_t>(opts.sampleRate) * static_cast<uint32_t>(channels * bytesPerSample));
    Put16(fmt, static_cast<uint32_t>(channels * bytesPerSample));
    Put16(fmt, static_cast<uint32_t>(opts.bits));
    if (opts.fmtSize >= 18) {
        const bool extensible = opts.formatTag == 0xFFFE && opts.fmtSize >= 40;
        Put16(fmt, extensible ? 22u : static_cast<uint32_t>(opts.fmtSize - 18));
        if (extensible) {
            Put16(fmt, static_cast<uint32_t>(opts.bits));  // valid bits
            Put32(fmt, channels == 1 ? 0x4u : channels == 2 ? 0x3u : 0u);
            fmt.insert(fmt.end(), kPcmGuid.begin(), kPcmGuid.end());
        }
    }
    fmt.resize(static_cast<size_t>(std::max(0, opts.fmtSize)), 0);

    std::vector<uint8_t> data;
    data.reserve(samples.size() * static_cast<size_t>(bytesPerSample));
    for (int32_t s : samples) {
        // 8-bit WAV is unsigned with 128 as silence.
        auto u = static_cast<uint32_t>(bytesPerSample == 1 ? s + 128 : s);
        for (int i = 0; i < bytesPerSample; ++i) data.push_back(static_cast<uint8_t>((u >> (8 * i)) & 0xFF));
    }

    std::vector<uint8_t> out;
    PutId(out, CaseId(opts, "RIFF"));
    Put32(out, 0);  // patched below
    PutId(out, CaseId(opts, "WAVE"));
    for (const auto& [id, payload] : opts.chunksBeforeFmt) PutChunk(out, id, payload);
    PutId(out, CaseId(opts, "fmt "));
    Put32(out, static_cast<uint32_t>(fmt.size()));
    out.insert(out.end(), fmt.begin(), fmt.end());
    if (fmt.size() % 2) out.push_back(0);
    for (const auto& [id, payload] : opts.chunksBetween) PutChunk(out, id, payload);
    PutId(out, CaseId(opts, "data"));
    Put32(out, opts.dataSizeOverride.value_or(static_cast<uint32_t>(data.size())));
    out.insert(out.end(), data.begin(), data.end());
    if (data.size() % 2) out.push_back(0);
    for (const auto& [id, payload] : opts.chunksAfterData) PutChunk(out, id, payload);

    Patch32(out, 4, opts.riffSizeOverride.value_or(static_cast<uint32_t>(out.size() - 8)));
    if (opts.truncateAt != 0 && opts.truncateAt < out.size()) out.resize(opts.truncateAt);
    return out;
}

bool WriteWav(const std::filesystem::path& path, const WavOptions& opts, const std::vector<int32_t>& samples)
{
    const std::vector<uint8_t> bytes = WavBytes(opts, samples);
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    if (!f) return false;
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    f.close();
    return static_cast<bool>(f);
}

WavContents ParseWavSamples(const std::vector<uint8_t>& b)
{
    WavContents w;
    auto fail = [&](std::string why) {
        w.error = std::move(why);
        return w;
    };
    if (b.size() < 12 || std::memcmp(b.data(), "RIFF", 4) != 0 || std::memcmp(b.data() + 8, "WAVE", 4) != 0)
        return fail("not a RIFF/WAVE file");

    bool haveFmt = false;
    size_t pos = 12;
    while (pos + 8 <= b.size()) {
        const uint32_t size = Get32(b, pos + 4);
        const size_t body = pos + 8;
        if (size > b.size() - body) return fail("chunk runs past the end of the file");
        if (std::memcmp(b.data() + pos, "fmt ", 4) == 0) {
            if (size < 16) return fail("fmt chunk too short");
            uint32_t tag = Get16(b, body);
            if (tag == 0xFFFE) {
                if (size < 40 || std::memcmp(b.data() + body + 24, kPcmGuid.data(), kPcmGuid.size()) != 0)
                    return fail("extensible header without PCM subformat");
                tag = 1;
            }
            if (tag != 1) return fail("format tag " + std::to_string(tag) + " is not PCM");
            w.channels = static_cast<int>(Get16(b, body + 2));
            w.rate = static_cast<int>(Get32(b, body + 4));
            w.bits = static_cast<int>(Get16(b, body + 14));
            if (w.channels <= 0) return fail("no channels");
            if (w.bits != 8 && w.bits != 16 && w.bits != 24 && w.bits != 32)
                return fail("unsupported sample size " + std::to_string(w.bits));
            haveFmt = true;
        } else if (std::memcmp(b.data() + pos, "data", 4) == 0) {
            if (!haveFmt) return fail("data chunk before fmt chunk");
            const size_t bps = static_cast<size_t>(w.bits / 8);
            const size_t frameBytes = bps * static_cast<size_t>(w.channels);
            if (size % frameBytes) return fail("data size is not a whole number of frames");
            w.dataOffset = body;
            w.samples.reserve(size / bps);
            for (size_t at = body; at < body + size; at += bps) {
                uint32_t u = 0;
                for (size_t i = 0; i < bps; ++i) u |= static_cast<uint32_t>(b[at + i]) << (8 * i);
                int32_t v;
                if (bps == 1) {
                    v = static_cast<int32_t>(u) - 128;
                } else {
                    const unsigned shift = 32u - 8u * static_cast<unsigned>(bps);
                    v = static_cast<int32_t>(u << shift) >> shift;
                }
                w.samples.push_back(v);
            }
            return w;
        }
        pos = body + size + (size % 2);
    }
    return fail(haveFmt ? "no data chunk" : "no fmt chunk");
}

WavContents ReadWavSamples(const std::filesystem::path& path)
{
    std::ifstream f(path, std::ios::binary);
    if (!f) {
        WavContents w;
        w.error = "cannot open " + path.string();
        return w;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    return ParseWavSamples(bytes);
}

}  // namespace kelvane::test
