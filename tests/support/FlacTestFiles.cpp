#include "FlacTestFiles.h"

#include <FLAC++/decoder.h>
#include <FLAC++/encoder.h>
#include <FLAC++/metadata.h>

#include <cstdio>
#include <strings.h>

namespace kelvane::test {

bool WriteFlac(const std::filesystem::path& path, const FlacOptions& opts, const std::vector<int32_t>& samples)
{
    FLAC::Encoder::File encoder;
    encoder.set_channels(static_cast<unsigned>(opts.channels));
    encoder.set_bits_per_sample(static_cast<unsigned>(opts.bits));
    encoder.set_sample_rate(static_cast<unsigned>(opts.sampleRate));
    encoder.set_compression_level(5);
    if (opts.declareTotalSamples) encoder.set_total_samples_estimate(samples.size() / opts.channels);

    FLAC::Metadata::VorbisComment comment;
    for (const auto& [name, value] : opts.comments) {
        FLAC::Metadata::VorbisComment::Entry entry(name.c_str(), value.c_str());
        comment.append_comment(entry);
    }
    ::FLAC__StreamMetadata* blocks[1] = {const_cast<::FLAC__StreamMetadata*>(static_cast<const ::FLAC__StreamMetadata*>(comment))};
    if (!opts.comments.empty()) encoder.set_metadata(blocks, 1);

    if (encoder.init(path.string()) != FLAC__STREAM_ENCODER_INIT_STATUS_OK) return false;
    const size_t frames = samples.size() / static_cast<size_t>(opts.channels);
    bool ok = encoder.process_interleaved(samples.data(), static_cast<unsigned>(frames));
    ok = encoder.finish() && ok;
    if (ok && !opts.declareTotalSamples) {
        // The encoder fills in the real count when it finishes; a stream
        // from a live source would not have it, so zero the field again.
        std::FILE* f = std::fopen(path.string().c_str(), "r+b");
        if (!f) return false;
        // STREAMINFO starts at byte 8; total samples are the low 36 bits of
        // the 64-bit field at offset 8 + 10.
        unsigned char b[8];
        std::fseek(f, 18, SEEK_SET);
        ok = std::fread(b, 1, 8, f) == 8;
        b[3] &= 0xF0;
        b[4] = b[5] = b[6] = b[7] = 0;
        std::fseek(f, 18, SEEK_SET);
        ok = ok && std::fwrite(b, 1, 8, f) == 8;
        std::fclose(f);
    }
    return ok;
}

namespace {

class ContentsDecoder final : public FLAC::Decoder::File {
public:
    FlacContents result;

protected:
    FLAC__StreamDecoderWriteStatus write_callback(const FLAC__Frame* frame, const FLAC__int32* const buffer[]) override
    {
        for (unsigned i = 0; i < frame->header.blocksize; ++i)
            for (unsigned c = 0; c < frame->header.channels; ++c) result.samples.push_back(buffer[c][i]);
        return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
    }
    void metadata_callback(const FLAC__StreamMetadata* m) override
    {
        if (m->type == FLAC__METADATA_TYPE_STREAMINFO) {
            result.sampleRate = static_cast<int>(m->data.stream_info.sample_rate);
            result.channels = static_cast<int>(m->data.stream_info.channels);
            result.bits = static_cast<int>(m->data.stream_info.bits_per_sample);
            result.maxBlock = m->data.stream_info.max_blocksize;
            result.totalSamples = m->data.stream_info.total_samples;
        } else if (m->type == FLAC__METADATA_TYPE_VORBIS_COMMENT) {
            const auto& vc = m->data.vorbis_comment;
            for (FLAC__uint32 i = 0; i < vc.num_comments; ++i) {
                const std::string entry(reinterpret_cast<const char*>(vc.comments[i].entry), vc.comments[i].length);
                const size_t eq = entry.find('=');
                result.comments.emplace_back(entry.substr(0, eq), eq == std::string::npos ? "" : entry.substr(eq + 1));
            }
        }
    }
    void error_callback(FLAC__StreamDecoderErrorStatus status) override
    {
        result.ok = false;
        result.error = FLAC__StreamDecoderErrorStatusString[status];
    }
};

}  // namespace

std::string FlacContents::comment(const std::string& name) const
{
    for (const auto& [n, v] : comments)
        if (strcasecmp(n.c_str(), name.c_str()) == 0) return v;
    return {};
}

FlacContents DecodeFlac(const std::filesystem::path& path)
{
    ContentsDecoder d;
    d.set_metadata_respond(FLAC__METADATA_TYPE_VORBIS_COMMENT);
    if (d.init(path.string()) != FLAC__STREAM_DECODER_INIT_STATUS_OK) {
        d.result.error = "cannot open " + path.string();
        return d.result;
    }
    d.result.ok = true;
    const bool done = d.process_until_end_of_stream();
    if (!done && d.result.error.empty()) d.result.error = d.get_state().as_cstring();
    d.result.ok = d.result.ok && done;
    d.finish();
    return d.result;
}

}  // namespace kelvane::test
