#include "output/CApeVerifier.h"

#include "output/ApeFormat.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/crc.h>
#include <libavutil/dict.h>
}

#include <algorithm>
#include <cstring>
#include <system_error>

namespace kelvane {

namespace {

uint32_t ReadLe32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

// libavcodec's decoder, set up as the demuxer would set it up for the file.
class CApeVerifier::Decoder {
public:
    ~Decoder()
    {
        av_frame_free(&frame_);
        av_packet_free(&packet_);
        avcodec_free_context(&context_);
    }

    bool Open(int level, int channels, int bits, int sampleRate)
    {
        const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_APE);
        if (!codec) return false;
        context_ = avcodec_alloc_context3(codec);
        packet_ = av_packet_alloc();
        frame_ = av_frame_alloc();
        if (!context_ || !packet_ || !frame_) return false;
        // What the demuxer passes on from the header: version, level, flags.
        context_->extradata = static_cast<uint8_t*>(av_mallocz(6 + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!context_->extradata) return false;
        context_->extradata_size = 6;
        const uint16_t extra[3] = {ape::kFileVersion, static_cast<uint16_t>(level), ape::kFormatCreateWavHeader};
        for (int i = 0; i < 3; ++i) {
            context_->extradata[2 * i] = static_cast<uint8_t>(extra[i]);
            context_->extradata[2 * i + 1] = static_cast<uint8_t>(extra[i] >> 8);
        }
        context_->bits_per_coded_sample = bits;
        context_->sample_rate = sampleRate;
        av_channel_layout_default(&context_->ch_layout, channels);
        // The frame CRCs are checked too, where the decoder knows how.
        context_->err_recognition = AV_EF_CRCCHECK | AV_EF_EXPLODE;
        return avcodec_open2(context_, codec, nullptr) == 0;
    }

    // Decodes one frame's packet and compares what comes out with samples.
    bool Matches(const std::vector<uint8_t>& bytes, const int32_t* samples, size_t blocks, int channels)
    {
        if (av_new_packet(packet_, static_cast<int>(bytes.size())) != 0) return false;
        std::memcpy(packet_->data, bytes.data(), bytes.size());
        const int sent = avcodec_send_packet(context_, packet_);
        av_packet_unref(packet_);
        if (sent != 0) return false;
        size_t done = 0;
        for (;;) {
            const int got = avcodec_receive_frame(context_, frame_);
            if (got == AVERROR(EAGAIN)) break;
            if (got != 0) return false;
            const size_t n = static_cast<size_t>(frame_->nb_samples);
            bool same = done + n <= blocks && frame_->ch_layout.nb_channels == channels;
            for (int c = 0; same && c < channels; ++c) {
                const int32_t* want = samples + done * static_cast<size_t>(channels) + c;
                const size_t step = static_cast<size_t>(channels);
                if (frame_->format == AV_SAMPLE_FMT_S16P) {
                    const auto* got16 = reinterpret_cast<const int16_t*>(frame_->extended_data[c]);
                    for (size_t i = 0; i < n; ++i) same &= got16[i] == want[i * step];
                } else if (frame_->format == AV_SAMPLE_FMT_S32P) {
                    // 24-bit samples arrive in the top of 32.
                    const auto* got32 = reinterpret_cast<const int32_t*>(frame_->extended_data[c]);
                    for (size_t i = 0; i < n; ++i) same &= (got32[i] >> 8) == want[i * step];
                } else {
                    same = false;
                }
            }
            av_frame_unref(frame_);
            if (!same) return false;
            done += n;
        }
        return done == blocks;
    }

private:
    AVCodecContext* context_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
};

CApeVerifier::CApeVerifier(int level, int channels, int bits, int sampleRate)
    : decoder_(std::make_unique<Decoder>()), channels_(channels)
{
    if (!decoder_->Open(level, channels, bits, sampleRate)) decoder_.reset();
}

CApeVerifier::~CApeVerifier() { Stop(); }

bool CApeVerifier::Start()
{
    if (!decoder_) return false;
    try {
        worker_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

bool CApeVerifier::Add(std::shared_ptr<const int32_t> samples, size_t blocks, std::vector<uint8_t> packet)
{
    std::unique_lock lock(mutex_);
    room_.wait(lock, [&] { return failed_ || stopped_ || queue_.size() < kMaxPending; });
    if (failed_ || stopped_) return false;
    queue_.push_back({std::move(samples), blocks, std::move(packet)});
    ready_.notify_one();
    return true;
}

void CApeVerifier::Run()
{
    for (;;) {
        Pending frame;
        {
            std::unique_lock lock(mutex_);
            ready_.wait(lock, [&] { return stopped_ || ended_ || !queue_.empty(); });
            if (stopped_ || queue_.empty()) return;
            frame = std::move(queue_.front());
            queue_.pop_front();
            busy_ = true;
        }
        const bool same = Check(frame);
        // The samples go back to their owner outside the lock.
        frame = {};
        std::lock_guard lock(mutex_);
        busy_ = false;
        if (!same) failed_ = true;
        room_.notify_all();
        if (!same) return;
    }
}

bool CApeVerifier::Check(const Pending& frame)
{
    if (frame.packet.size() < 8 || ReadLe32(frame.packet.data()) != frame.blocks) return false;
    return decoder_->Matches(frame.packet, frame.samples.get(), frame.blocks, channels_);
}

bool CApeVerifier::Finish()
{
    if (!worker_.joinable()) return false;
    {
        std::unique_lock lock(mutex_);
        ended_ = true;
        ready_.notify_all();
    }
    worker_.join();
    std::lock_guard lock(mutex_);
    return !failed_ && !stopped_ && queue_.empty();
}

void CApeVerifier::Stop()
{
    {
        std::lock_guard lock(mutex_);
        stopped_ = true;
        ready_.notify_all();
        room_.notify_all();
    }
    if (worker_.joinable()) worker_.join();
}

std::string CApeVerifier::CheckWrittenFile(const std::string& path, const Expected& expected)
{
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) != 0) return "the file cannot be read back";
    struct Close {
        AVFormatContext*& f;
        ~Close() { avformat_close_input(&f); }
    } close{format};
    AVPacket* packet = av_packet_alloc();
    if (!packet) return "out of memory";
    struct Free {
        AVPacket*& p;
        ~Free() { av_packet_free(&p); }
    } free{packet};

    if (format->nb_streams != 1) return "the file does not read back as one audio stream";
    const AVStream* stream = format->streams[0];
    const AVCodecParameters* par = stream->codecpar;
    if (par->codec_id != AV_CODEC_ID_APE || par->sample_rate != expected.sampleRate ||
        par->ch_layout.nb_channels != expected.channels || par->bits_per_coded_sample != expected.bits ||
        static_cast<uint64_t>(stream->duration) != expected.totalBlocks)
        return "the file's header does not read back as written";

    for (const auto& [key, value] : expected.tags) {
        const AVDictionaryEntry* e = av_dict_get(format->metadata, key.c_str(), nullptr, 0);
        if (!e || value != e->value) return "the tag " + key + " does not read back as written";
    }

    static const AVCRC* const table = av_crc_get_table(AV_CRC_32_IEEE_LE);
    const uint64_t first = expected.frames.empty() ? 0 : expected.frames.front().offset;
    std::vector<uint8_t> words;
    for (const ExpectedFrame& f : expected.frames) {
        if (av_read_frame(format, packet) != 0) return "a frame is missing when the file is read back";
        const uint32_t skip = static_cast<uint32_t>((f.offset - first) & 3);
        const bool fits = packet->size >= 8 && ReadLe32(packet->data) == f.blocks &&
                          ReadLe32(packet->data + 4) == skip &&
                          static_cast<uint64_t>(packet->size - 8) >= uint64_t{skip} + f.length;
        if (fits) {
            words.assign(packet->data + 8, packet->data + packet->size);
            words.resize((words.size() + 3) & ~size_t{3});
            ape::SwapWords(words.data(), words.size());
        }
        av_packet_unref(packet);
        if (!fits || (av_crc(table, 0xFFFFFFFFu, words.data() + skip, f.length) ^ 0xFFFFFFFFu) != f.crc)
            return "a frame does not read back as written";
    }
    if (av_read_frame(format, packet) == 0) {
        av_packet_unref(packet);
        return "the file reads back with more frames than were written";
    }
    return {};
}

}  // namespace kelvane
