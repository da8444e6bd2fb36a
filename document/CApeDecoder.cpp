#include "document/CApeDecoder.h"

#include "document/CFlacImport.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <system_error>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
}

namespace kelvane {

namespace {

// Past this distance a libav seek (which lands at the start of a codec frame
// at or before the target) costs less than decoding straight through. The
// figure is the frame length of the common compression levels.
constexpr int64_t kForwardDecodeLimit = 73728;

// Text fields longer than this are not metadata anyone wants to see; skipping
// them keeps a hostile tag from making us allocate its size.
constexpr uint32_t kMaxTagTextBytes = 1u << 20;

void QuietLibavOnce()
{
    // libav reports every damaged frame on stderr; we report failures through
    // return values instead, so only fatal noise is let through. Never raise a
    // level someone else lowered.
    static std::once_flag once;
    std::call_once(once, [] {
        if (av_log_get_level() > AV_LOG_FATAL) av_log_set_level(AV_LOG_FATAL);
    });
}

uint32_t ReadLe32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

// Packs every block of `frame` into `out`, interleaved, little-endian, keeping
// `OutBytes` bytes of each sample after dropping `Shift` padding bits.
template <typename Sample, int OutBytes, int Shift>
void PackBlocks(const AVFrame* frame, bool planar, int channels, uint8_t* out)
{
    const int count = frame->nb_samples;
    for (int i = 0; i < count; ++i) {
        for (int c = 0; c < channels; ++c) {
            Sample s = planar ? reinterpret_cast<const Sample*>(frame->extended_data[c])[i]
                              : reinterpret_cast<const Sample*>(frame->data[0])[size_t(i) * channels + c];
            auto v = static_cast<uint32_t>(static_cast<int64_t>(s) >> Shift);
            for (int b = 0; b < OutBytes; ++b) *out++ = static_cast<uint8_t>(v >> (8 * b));
        }
    }
}

std::string LibavText(int rc)
{
    std::array<char, AV_ERROR_MAX_STRING_SIZE> text{};
    if (av_strerror(rc, text.data(), text.size()) < 0) return "error " + std::to_string(rc);
    return text.data();
}

}  // namespace

std::unique_ptr<CApeDecoder> CApeDecoder::Open(const std::string& path, int& errorCode)
{
    QuietLibavOnce();
    errorCode = 0;

    // A folder or a FIFO would either fail obscurely inside libav or block
    // it forever, so only regular files go further.
    std::error_code ec;
    auto status = std::filesystem::status(path, ec);
    if (ec || !std::filesystem::exists(status)) {
        errorCode = (ec && ec.value() > 0 && ec.value() < kErrorBase) ? ec.value() : ENOENT;
        return nullptr;
    }
    if (!std::filesystem::is_regular_file(status)) {
        errorCode = kErrNotAFile;
        return nullptr;
    }

    std::unique_ptr<CApeDecoder> decoder(new CApeDecoder());
    decoder->m_path = path;
    int rc = decoder->OpenLibav();
    if (rc != 0) {
        errorCode = rc;
        return nullptr;
    }
    decoder->ReadTag();
    return decoder;
}

std::string CApeDecoder::ErrorMessage(int errorCode)
{
    switch (errorCode) {
        case 0:
            return "No error.";
        case kErrNotApe:
            return "The file is not a Monkey's Audio (.ape) file, or its header is damaged or from a version "
                   "that cannot be read.";
        case kErrNoAudio:
            return "The Monkey's Audio file contains no audio stream.";
        case kErrUnsupported:
            return "The Monkey's Audio file uses a sample format that cannot be imported.";
        case kErrDecoderMissing:
            return "This build of libavcodec has no Monkey's Audio decoder.";
        case kErrDecoderInit:
            return "The Monkey's Audio decoder rejected the file's parameters; the file may be damaged "
                   "or made by a newer encoder.";
        case kErrNotAFile:
            return "The path names a folder or a device, not a file.";
        default:
            break;
    }
    std::array<char, AV_ERROR_MAX_STRING_SIZE> text{};
    if (av_strerror(-errorCode, text.data(), text.size()) < 0)
        return "The file could not be read (error " + std::to_string(errorCode) + ").";
    return std::string("The file could not be read: ") + text.data() + ".";
}

CApeDecoder::~CApeDecoder()
{
    CloseLibav();
}

int CApeDecoder::OpenLibav()
{
    const AVInputFormat* apeFormat = av_find_input_format("ape");
    if (!apeFormat) return kErrDecoderMissing;

    // Naming the demuxer skips probing (a damaged file must not be taken for
    // some other format), and the "file:" prefix with a file-only whitelist
    // keeps a name like "http:x.ape" from being treated as a URL.
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    const std::string url = "file:" + m_path;
    int rc = avformat_open_input(&m_format, url.c_str(), apeFormat, &options);
    av_dict_free(&options);
    if (rc < 0) {
        m_format = nullptr;
        // libav answers a header it cannot make sense of with "patches
        // welcome" as often as with "invalid data": both are a damaged file.
        return (rc == AVERROR_INVALIDDATA || rc == AVERROR_EOF || rc == AVERROR_PATCHWELCOME) ? kErrNotApe : -rc;
    }

    const AVCodec* codec = nullptr;
    m_streamIndex = av_find_best_stream(m_format, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (m_streamIndex == AVERROR_DECODER_NOT_FOUND) return kErrDecoderMissing;
    if (m_streamIndex < 0) return kErrNoAudio;
    const AVStream* stream = m_format->streams[m_streamIndex];
    if (stream->codecpar->codec_id != AV_CODEC_ID_APE) return kErrNotApe;

    m_codec = avcodec_alloc_context3(codec);
    m_packet = av_packet_alloc();
    m_frame = av_frame_alloc();
    if (!m_codec || !m_packet || !m_frame) return ENOMEM;
    if (avcodec_parameters_to_context(m_codec, stream->codecpar) < 0) return kErrDecoderInit;
    // The checksum is the only way a damaged 8/16-bit file shows itself;
    // without EXPLODE libav would log the mismatch and hand over bad samples.
    m_codec->err_recognition |= AV_EF_CRCCHECK | AV_EF_EXPLODE;
    m_codec->thread_count = 1;
    if (avcodec_open2(m_codec, codec, nullptr) < 0) return kErrDecoderInit;

    const int channels = m_codec->ch_layout.nb_channels;
    const int rate = m_codec->sample_rate;
    const AVSampleFormat fmt = m_codec->sample_fmt;
    const int containerBits = av_get_bytes_per_sample(fmt) * 8;
    int bits = stream->codecpar->bits_per_coded_sample;
    if (bits <= 0) bits = m_codec->bits_per_raw_sample > 0 ? m_codec->bits_per_raw_sample : containerBits;

    const AVSampleFormat packed = av_get_packed_sample_fmt(fmt);
    const bool layoutOk = (bits == 8 && packed == AV_SAMPLE_FMT_U8) || (bits == 16 && packed == AV_SAMPLE_FMT_S16) ||
                          ((bits == 24 || bits == 32) && packed == AV_SAMPLE_FMT_S32);
    if (!layoutOk || channels < 1 || channels > 32 || rate <= 0) return kErrUnsupported;
    if (stream->duration == AV_NOPTS_VALUE || stream->duration < 0) return kErrNotApe;

    const int64_t total = av_rescale_q(stream->duration, stream->time_base, AVRational{1, rate});
    if (m_sampleRate != 0) {
        // Reopened after a failed seek: the file must not have changed under us.
        if (rate != m_sampleRate || bits != m_bitsPerSample || channels != m_channels || total != m_totalBlocks)
            return kErrNotApe;
    }
    m_sampleRate = rate;
    m_bitsPerSample = bits;
    m_channels = channels;
    m_totalBlocks = total;

    m_cache.clear();
    m_cacheStart = m_cacheEnd = 0;
    m_cacheKnown = true;
    m_decoderDrained = false;
    m_broken = false;
    return 0;
}

void CApeDecoder::CloseLibav()
{
    av_frame_free(&m_frame);
    av_packet_free(&m_packet);
    avcodec_free_context(&m_codec);
    avformat_close_input(&m_format);
    m_streamIndex = -1;
}

bool CApeDecoder::SeekDecoder(int64_t block)
{
    m_cache.clear();
    m_decoderDrained = false;
    m_broken = false;
    if (m_format && m_codec) {
        const AVStream* stream = m_format->streams[m_streamIndex];
        const int64_t ts = av_rescale_q(block, AVRational{1, m_sampleRate}, stream->time_base);
        if (av_seek_frame(m_format, m_streamIndex, ts, AVSEEK_FLAG_BACKWARD) >= 0) {
            avcodec_flush_buffers(m_codec);
            // Where we landed is learned from the next packet's timestamp.
            m_cacheKnown = false;
            return true;
        }
    }
    // No index to seek by: start over and decode forward.
    CloseLibav();
    if (OpenLibav() != 0) {
        CloseLibav();
        Broken("the file cannot be opened again");
        m_broken = true;
        m_cacheKnown = false;
        return false;
    }
    return true;
}

bool CApeDecoder::Seek(int64_t block)
{
    if (block < 0 || block > m_totalBlocks) return false;
    if (!m_broken && m_cacheKnown && block >= m_cacheStart && block <= m_cacheEnd) {
        m_position = block;
        return true;
    }
    if (block == m_totalBlocks) {
        // Nothing to decode at the end; Decode() answers 0 from here.
        m_position = block;
        return true;
    }

    const bool decodeThrough =
        !m_broken && m_cacheKnown && block > m_cacheEnd && block - m_cacheEnd <= kForwardDecodeLimit;
    if (!decodeThrough && !SeekDecoder(block)) return false;

    bool restarted = false;
    while (!(m_cacheKnown && block >= m_cacheStart && block < m_cacheEnd)) {
        if (m_cacheKnown && m_cacheStart > block) {
            // The index put us past the target; only a fresh start is sure.
            if (restarted) break;
            restarted = true;
            CloseLibav();
            if (OpenLibav() != 0) {
                CloseLibav();
                break;
            }
            continue;
        }
        if (DecodeNextFrame() <= 0) break;
    }
    if (!(m_cacheKnown && block >= m_cacheStart && block < m_cacheEnd)) {
        Broken("the position cannot be reached");
        m_broken = true;
        return false;
    }
    m_position = block;
    return true;
}

int CApeDecoder::Broken(const std::string& why)
{
    if (m_lastError.empty())
        m_lastError = "The Monkey's Audio file is damaged: " + why + " at " +
                      FormatSampleTime(static_cast<uint64_t>(std::max<int64_t>(m_cacheEnd, 0)),
                                       static_cast<unsigned>(m_sampleRate)) +
                      ".";
    return -1;
}

int CApeDecoder::DecodeNextFrame()
{
    if (!m_codec || !m_format) return Broken("the file cannot be read again");
    for (;;) {
        int rc = avcodec_receive_frame(m_codec, m_frame);
        if (rc == 0) {
            const bool sane = m_frame->format == m_codec->sample_fmt && m_frame->ch_layout.nb_channels == m_channels &&
                              m_frame->nb_samples >= 0;
            if (!sane) {
                av_frame_unref(m_frame);
                return Broken("a frame does not have the stream's format");
            }
            AppendFrame(m_frame);
            av_frame_unref(m_frame);
            return 1;
        }
        if (rc == AVERROR_EOF) return 0;
        if (rc != AVERROR(EAGAIN)) return Broken("a frame cannot be decoded (" + LibavText(rc) + ")");
        if (m_decoderDrained) return 0;

        rc = av_read_frame(m_format, m_packet);
        if (rc == AVERROR_EOF) {
            m_decoderDrained = true;
            if (avcodec_send_packet(m_codec, nullptr) < 0) return 0;
            continue;
        }
        if (rc < 0) return Broken("the file cannot be read (" + LibavText(rc) + ")");
        if (m_packet->stream_index != m_streamIndex) {
            av_packet_unref(m_packet);
            continue;
        }
        const AVStream* stream = m_format->streams[m_streamIndex];
        const int64_t pts = m_packet->pts == AV_NOPTS_VALUE
                                ? AV_NOPTS_VALUE
                                : av_rescale_q(m_packet->pts, stream->time_base, AVRational{1, m_sampleRate});
        if (!m_cacheKnown) {
            if (pts == AV_NOPTS_VALUE) {
                av_packet_unref(m_packet);
                return Broken("a frame has no position");
            }
            m_cache.clear();
            m_cacheStart = m_cacheEnd = pts;
            m_cacheKnown = true;
        } else if (pts != AV_NOPTS_VALUE && pts != m_cacheEnd) {
            // A gap or overlap would shift every later sample: treat as damage.
            av_packet_unref(m_packet);
            return Broken("a frame is missing or out of place");
        }
        rc = avcodec_send_packet(m_codec, m_packet);
        av_packet_unref(m_packet);
        if (rc < 0) return Broken("a frame cannot be decoded (" + LibavText(rc) + ")");
    }
}

void CApeDecoder::AppendFrame(const AVFrame* frame)
{
    const size_t align = static_cast<size_t>(BlockAlign());
    // Blocks before m_cacheEnd have all been delivered or skipped, so older
    // history can go; keeping a bounded stretch makes short re-reads free.
    const int64_t keepFrom = std::max(m_cacheStart, m_cacheEnd - kHistoryBlocks);
    if (keepFrom > m_cacheStart) {
        const size_t drop = static_cast<size_t>(keepFrom - m_cacheStart) * align;
        m_cache.erase(m_cache.begin(), m_cache.begin() + static_cast<std::ptrdiff_t>(drop));
        m_cacheStart = keepFrom;
    }
    const size_t old = m_cache.size();
    m_cache.resize(old + static_cast<size_t>(frame->nb_samples) * align);
    uint8_t* out = m_cache.data() + old;

    const bool planar = av_sample_fmt_is_planar(static_cast<AVSampleFormat>(frame->format)) != 0;
    switch (m_bitsPerSample) {
        case 8:
            PackBlocks<uint8_t, 1, 0>(frame, planar, m_channels, out);
            break;
        case 16:
            PackBlocks<int16_t, 2, 0>(frame, planar, m_channels, out);
            break;
        case 24:
            // libav widens 24-bit samples into the top of an int32.
            PackBlocks<int32_t, 3, 8>(frame, planar, m_channels, out);
            break;
        default:
            PackBlocks<int32_t, 4, 0>(frame, planar, m_channels, out);
            break;
    }
    m_cacheEnd += frame->nb_samples;
}

int64_t CApeDecoder::Decode(uint8_t* buffer, int64_t nBlocks)
{
    if (!buffer || nBlocks < 0) return -1;
    if (m_position >= m_totalBlocks || nBlocks == 0) return 0;
    if (m_broken) return -1;
    const int64_t wanted = std::min(nBlocks, m_totalBlocks - m_position);
    const size_t align = static_cast<size_t>(BlockAlign());

    int64_t done = 0;
    while (done < wanted) {
        if (!m_cacheKnown || m_position < m_cacheStart || m_position > m_cacheEnd) {
            if (!Seek(m_position)) return -1;
        }
        if (m_position == m_cacheEnd) {
            // 0 here means the file ended before the header's block count:
            // it has been cut short.
            const int next = DecodeNextFrame();
            if (next <= 0) {
                if (next == 0) Broken("the file ends before its last block (it has been cut short)");
                m_broken = true;
                return -1;
            }
            continue;
        }
        const int64_t take = std::min(std::min(m_cacheEnd, m_totalBlocks) - m_position, wanted - done);
        std::memcpy(buffer + static_cast<size_t>(done) * align,
                    m_cache.data() + static_cast<size_t>(m_position - m_cacheStart) * align,
                    static_cast<size_t>(take) * align);
        done += take;
        m_position += take;
    }
    return done;
}

std::string CApeDecoder::Tag(std::string_view field) const
{
    for (const auto& [key, value] : m_tagFields)
        if (EqualsNoCase(key, field)) return value;
    return {};
}

void CApeDecoder::ReadTag()
{
    m_tagFields.clear();
    m_hasTag = ReadTagFields(m_path, m_tagFields);
}

bool CApeDecoder::ReadTagFields(const std::string& path, std::vector<std::pair<std::string, std::string>>& fields)
{
    fields.clear();
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size < 32) return false;

    auto readAt = [&in](std::streamoff pos, void* dst, size_t n) {
        in.clear();
        in.seekg(pos);
        in.read(static_cast<char*>(dst), static_cast<std::streamsize>(n));
        return static_cast<size_t>(in.gcount()) == n;
    };

    // Taggers often leave an ID3v1 tag after the APE tag.
    std::streamoff end = size;
    char id3[3];
    if (size >= 128 + 32 && readAt(size - 128, id3, 3) && std::memcmp(id3, "TAG", 3) == 0) end = size - 128;

    uint8_t footer[32];
    if (!readAt(end - 32, footer, sizeof footer) || std::memcmp(footer, "APETAGEX", 8) != 0) return false;
    const uint32_t version = ReadLe32(footer + 8);
    const uint32_t tagSize = ReadLe32(footer + 12);  // items + footer, not the header
    const uint32_t itemCount = ReadLe32(footer + 16);
    if ((version != 1000 && version != 2000) || tagSize < 32 || tagSize > end) return false;

    const std::streamoff itemsEnd = end - 32;
    std::streamoff pos = end - tagSize;
    for (uint32_t i = 0; i < itemCount && pos + 8 < itemsEnd; ++i) {
        uint8_t head[8];
        if (!readAt(pos, head, sizeof head)) return true;
        const uint32_t valueSize = ReadLe32(head);
        const uint32_t flags = ReadLe32(head + 4);

        // Keys are 2..255 printable ASCII characters, NUL-terminated.
        char keyBuf[256];
        const size_t keyRoom = static_cast<size_t>(std::min<std::streamoff>(256, itemsEnd - pos - 8));
        if (!readAt(pos + 8, keyBuf, keyRoom)) return true;
        const auto nul = std::find(keyBuf, keyBuf + keyRoom, '\0');
        if (nul == keyBuf + keyRoom) return true;
        const std::string key(keyBuf, nul);
        if (key.size() < 2 || !std::all_of(key.begin(), key.end(), [](char c) { return c >= 0x20 && c <= 0x7e; }))
            return true;

        const std::streamoff valuePos = pos + 8 + static_cast<std::streamoff>(key.size()) + 1;
        if (valueSize > itemsEnd - valuePos) return true;
        const bool isText = version == 1000 || ((flags >> 1) & 3) == 0;
        if (isText && valueSize <= kMaxTagTextBytes) {
            std::string value(valueSize, '\0');
            if (!readAt(valuePos, value.data(), valueSize)) return true;
            // One field may carry several values separated by NUL.
            std::string joined;
            size_t start = 0;
            while (start <= value.size()) {
                size_t stop = value.find('\0', start);
                if (stop == std::string::npos) stop = value.size();
                if (stop > start) {
                    if (!joined.empty()) joined += "; ";
                    joined.append(value, start, stop - start);
                }
                start = stop + 1;
            }
            fields.emplace_back(key, std::move(joined));
        }
        pos = valuePos + valueSize;
    }
    return true;
}

}  // namespace kelvane
