#include "FlacTestFiles.h"

#include <FLAC++/encoder.h>
#include <FLAC++/metadata.h>

#include <cstdio>

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

}  // namespace kelvane::test
