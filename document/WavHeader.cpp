#include "WavHeader.h"

#include "CWaveFile.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

namespace kelvane {

uint32_t ReadLe32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

uint16_t ReadLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

void PutLe32(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

void PutLe16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

bool ChunkIdIs(const char* bytes, const char* upperId)
{
    for (int i = 0; i < 4; ++i)
        if (std::toupper(static_cast<unsigned char>(bytes[i])) != upperId[i]) return false;
    return true;
}

void MakeWavHeader(uint8_t h[44], int sampleRate, int bitsPerSample, int channels, uint32_t dataBytes)
{
    const int blockAlign = bitsPerSample / 8 * channels;
    std::memcpy(h, "RIFF", 4);
    PutLe32(h + 4, dataBytes + 36);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    PutLe32(h + 16, 16);
    PutLe16(h + 20, 1);
    PutLe16(h + 22, static_cast<uint16_t>(channels));
    PutLe32(h + 24, static_cast<uint32_t>(sampleRate));
    PutLe32(h + 28, static_cast<uint32_t>(sampleRate * blockAlign));
    PutLe16(h + 32, static_cast<uint16_t>(blockAlign));
    PutLe16(h + 34, static_cast<uint16_t>(bitsPerSample));
    std::memcpy(h + 36, "data", 4);
    PutLe32(h + 40, dataBytes);
}

std::vector<uint8_t> WavHeaderBytes(int sampleRate, int bitsPerSample, int channels, uint32_t dataBytes,
                                    uint32_t fmtExtra)
{
    std::vector<uint8_t> h(44 + fmtExtra, 0);
    MakeWavHeader(h.data(), sampleRate, bitsPerSample, channels, dataBytes);
    if (fmtExtra == 0) return h;
    std::memmove(h.data() + 36 + fmtExtra, h.data() + 36, 8);  // "data" and its size after the extension
    std::memset(h.data() + 36, 0, fmtExtra);
    PutLe32(h.data() + 4, dataBytes + 36 + fmtExtra);
    PutLe32(h.data() + 16, 16 + fmtExtra);
    return h;
}

static bool WalkOnce(CWaveFile& file, int64_t fileLength, const char* id, int64_t& pos, uint32_t& size, bool pad)
{
    for (;;) {
        pos += size;
        if (pad && (size & 1)) ++pos;
        uint8_t hdr[8];
        file.SeekRaw(pos);
        if (file.ReadRaw(hdr, 8) != 8) return false;
        pos += 8;
        size = ReadLe32(hdr + 4);
        if (ChunkIdIs(reinterpret_cast<const char*>(hdr), id)) return true;
        // The wanted chunk itself may end exactly at the end of the file;
        // only a chunk we would have to skip must leave something after it.
        if (pos + static_cast<int64_t>(size) >= fileLength) return false;
    }
}

bool WalkToChunk(CWaveFile& file, int64_t fileLength, const char* id, int64_t& pos, uint32_t& size)
{
    // Chunk sizes are taken as written, without the RIFF pad byte after an
    // odd-sized chunk, which is what the files we were built for do. Writers
    // that follow RIFF pad odd chunks; only when the plain walk finds nothing
    // is the walk repeated with padding, so files that import either way keep
    // the same layout.
    const int64_t startPos = pos;
    const uint32_t startSize = size;
    if (WalkOnce(file, fileLength, id, pos, size, false)) return true;
    pos = startPos;
    size = startSize;
    return WalkOnce(file, fileLength, id, pos, size, true);
}

static bool ReadRiffWave(CWaveFile& file)
{
    uint8_t riff[12];
    file.SeekRaw(0);
    if (file.ReadRaw(riff, 12) != 12) return false;
    return ChunkIdIs(reinterpret_cast<const char*>(riff), "RIFF") &&
           ChunkIdIs(reinterpret_cast<const char*>(riff + 8), "WAVE");
}

bool IsSupportedRate(int64_t rate)
{
    return rate == 44100 || rate == 48000 || rate == 88200 || rate == 96000;
}

HeaderStatus ReadWavHeader(CWaveFile& file, WavLayout& layout)
{
    layout = WavLayout{};
    layout.fileLength = file.Length();
    if (layout.fileLength < 12 || !ReadRiffWave(file)) return HeaderStatus::NotWave;

    int64_t pos = 12;
    uint32_t size = 0;
    if (!WalkToChunk(file, layout.fileLength, "FMT ", pos, size)) return HeaderStatus::NotWave;
    if (size < 14) return HeaderStatus::FmtTooShort;
    // The plain fields, then (for WAVE_FORMAT_EXTENSIBLE) the valid bits,
    // channel mask and the sub-format GUID.
    uint8_t fmt[40] = {};
    file.SeekRaw(pos);
    const int64_t want = size >= 40 ? 40 : size >= 16 ? 16 : 14;
    if (file.ReadRaw(fmt, want) != want) return HeaderStatus::NotWave;
    layout.formatTag = ReadLe16(fmt);
    layout.channels = ReadLe16(fmt + 2);
    const uint32_t rate = ReadLe32(fmt + 4);
    const uint16_t blockAlign = ReadLe16(fmt + 12);
    auto refuse = [&layout](std::string reason) {
        layout.reason = std::move(reason);
        return HeaderStatus::BadFormat;
    };
    char text[160];
    if (!IsSupportedRate(rate)) {
        std::snprintf(text, sizeof text, "The sample rate is %u Hz.", rate);
        return refuse(text);
    }
    // The block alignment alone would let a three-channel 16-bit file pass as
    // 24-bit stereo, or compressed or floating-point data pass as PCM: all
    // would be processed into noise. Only PCM (plain or extensible) with two
    // channels of 16 or 24 bits is audio we can restore.
    int coding = layout.formatTag;
    if (coding == 0xFFFE) {
        // The extension must be there to say what the samples are.
        if (want < 40 || ReadLe16(fmt + 16) < 22) return refuse("The extensible format header is incomplete.");
        static const uint8_t kGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                              0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
        coding = std::memcmp(fmt + 26, kGuidTail, sizeof kGuidTail) == 0 ? ReadLe16(fmt + 24) : -1;
    }
    if (coding != 1) {
        switch (coding) {
        case 3: return refuse("The samples are floating-point numbers, not PCM integers.");
        case 6: return refuse("The samples are A-law coded, not PCM.");
        case 7: return refuse("The samples are mu-law coded, not PCM.");
        case -1: return refuse("The extensible format names a sub-format that is not PCM.");
        default:
            std::snprintf(text, sizeof text, "The audio is coded (format %d), not PCM.", coding);
            return refuse(text);
        }
    }
    if (layout.channels != 2) {
        std::snprintf(text, sizeof text, layout.channels == 1 ? "The file has %d channel." : "The file has %d channels.",
                      layout.channels);
        return refuse(text);
    }
    if (blockAlign != 4 && blockAlign != 6) {
        if (want >= 16)
            std::snprintf(text, sizeof text, "The samples have %u bits.", static_cast<unsigned>(ReadLe16(fmt + 14)));
        else
            std::snprintf(text, sizeof text, "The block alignment is %u bytes.", static_cast<unsigned>(blockAlign));
        return refuse(text);
    }
    if (want >= 16) {
        // A header whose sample size and alignment disagree cannot be
        // trusted to describe the bytes that follow.
        const uint16_t bits = ReadLe16(fmt + 14);
        const uint16_t validBits = want >= 40 && layout.formatTag == 0xFFFE ? ReadLe16(fmt + 18) : bits;
        if (bits != 4 * blockAlign || validBits > bits) {
            std::snprintf(text, sizeof text, "The header gives %u bits per sample but a block alignment of %u bytes.",
                          static_cast<unsigned>(bits), static_cast<unsigned>(blockAlign));
            return refuse(text);
        }
    }
    layout.sampleRate = static_cast<int>(rate);
    layout.bitsPerSample = 4 * blockAlign;

    if (!WalkToChunk(file, layout.fileLength, "DATA", pos, size)) return HeaderStatus::NotWave;
    layout.dataStart = pos;
    layout.dataSize = size;
    if (size == 0) {
        layout.repairedZeroSize = true;
        layout.dataSize = layout.fileLength - pos;
    } else if (pos + static_cast<int64_t>(size) > layout.fileLength) {
        return HeaderStatus::DataTruncated;
    }
    return HeaderStatus::Ok;
}

bool ReadMonoHeader(CWaveFile& file, MonoLayout& layout)
{
    const int64_t length = file.Length();
    if (length < 12 || !ReadRiffWave(file)) return false;
    uint8_t hdr[8];
    if (file.ReadRaw(hdr, 8) != 8 || !ChunkIdIs(reinterpret_cast<const char*>(hdr), "FMT ")) return false;
    const uint32_t fmtSize = ReadLe32(hdr + 4);
    if (fmtSize != 16 && fmtSize != 18) return false;
    uint8_t fmt[16];
    if (file.ReadRaw(fmt, 16) != 16) return false;
    // Words: {format 1, 1 channel}, rate, byte rate, {align 2, 16 bits}.
    const uint32_t w0 = ReadLe32(fmt), w1 = ReadLe32(fmt + 4), w2 = ReadLe32(fmt + 8), w3 = ReadLe32(fmt + 12);
    const uint32_t pcmMono = 1u | (1u << 16), align16 = 2u | (16u << 16);
    const bool is44 = w0 == pcmMono && w1 == 44100 && w2 == 88200 && w3 == align16;
    const bool is48 = w0 == pcmMono && w1 == 48000 && w2 == 96000 && w3 == align16;
    if (!is44 && !is48) return false;
    int64_t pos = 12 + 8;
    uint32_t size = fmtSize;
    if (!WalkToChunk(file, length, "DATA", pos, size)) return false;
    layout.sampleRate = static_cast<int>(w1);
    layout.dataStart = pos;
    layout.dataSize = size;
    if (size == 0) {
        layout.repairedZeroSize = true;
        layout.dataSize = length - pos;
    }
    // A mono file whose data runs past its end is not one we can widen
    // faithfully; it is refused for being cut short.
    if (pos + layout.dataSize > length) {
        layout.truncated = true;
        layout.fileLength = length;
        return false;
    }
    layout.dataSize &= ~int64_t{1};
    return true;
}

std::string TruncationText(int64_t declaredBytes, int64_t availableBytes)
{
    char buf[200];
    std::snprintf(buf, sizeof buf, "The file is truncated: its \"data\" chunk declares %lld bytes but only %lld follow.",
                  static_cast<long long>(declaredBytes), static_cast<long long>(availableBytes));
    return buf;
}

std::string HeaderStatusText(HeaderStatus status, const WavLayout& layout)
{
    std::string reason;
    switch (status) {
    case HeaderStatus::Ok: return {};
    case HeaderStatus::DataTruncated: return TruncationText(layout.dataSize, layout.fileLength - layout.dataStart);
    case HeaderStatus::BadFormat: reason = layout.reason; break;
    case HeaderStatus::NotWave:
        reason = "The file is not a readable WAV file: its RIFF/WAVE header, \"fmt \" chunk or \"data\" chunk is "
                 "missing or damaged.";
        break;
    case HeaderStatus::FmtTooShort: reason = "The file's \"fmt \" chunk is too short to describe its audio."; break;
    }
    return reason.empty() ? std::string(kMsgBadFormat) : std::string(kMsgBadFormat) + "\n" + reason;
}

}  // namespace kelvane
