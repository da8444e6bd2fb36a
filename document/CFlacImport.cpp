#include "CFlacImport.h"

#include "document/CImporter.h"
#include "document/CProgressScope.h"
#include "document/CQuillon3Doc.h"
#include "document/Interaction.h"
#include "document/WavHeader.h"

#include <FLAC++/decoder.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <cerrno>
#include <climits>
#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

namespace kelvane {

namespace {

class CFlacToWav final : public FLAC::Decoder::File {
public:
    CFlacToWav(CQuillon3Doc& doc, std::FILE* out, CProgressWnd* progress)
        : doc_(doc), out_(out), progress_(progress)
    {
    }

    bool failed = false;      // a message has been shown; the decode was aborted
    FailKind failKind = FailKind::None;
    std::string failText;

protected:
    void metadata_callback(const FLAC__StreamMetadata* metadata) override
    {
        if (metadata->type == FLAC__METADATA_TYPE_STREAMINFO) {
            const auto& info = metadata->data.stream_info;
            totalSamples_ = info.total_samples;
            sampleRate_ = info.sample_rate;
            channels_ = info.channels;
            bits_ = info.bits_per_sample;
        } else if (metadata->type == FLAC__METADATA_TYPE_VORBIS_COMMENT) {
            ReadComments(metadata->data.vorbis_comment);
        }
    }

    ::FLAC__StreamDecoderWriteStatus write_callback(const ::FLAC__Frame* frame,
                                                    const FLAC__int32* const buffer[]) override
    {
        if (!headerWritten_) {
            if (totalSamples_ == 0)
                return Abort(FailKind::BadInput,
                             "ERROR: this example only works for FLAC files that have a total_samples count in "
                             "STREAMINFO\n");
            // Only stereo 16/24-bit audio can be processed; finding that out
            // after decoding the whole file would waste the user's time, and a
            // multi-channel stream would otherwise pass as 24-bit stereo.
            const bool rateOk = sampleRate_ == 44100 || sampleRate_ == 48000 || sampleRate_ == 88200 ||
                                sampleRate_ == 96000;
            if (channels_ != 2 || (bits_ != 16 && bits_ != 24) || !rateOk) return Abort(FailKind::BadInput, kMsgBadFormat);
            const uint64_t dataBytes = totalSamples_ * (bits_ / 8) * channels_;
            const uint64_t limit = bits_ == 24 ? kMaxBytes24 : kMaxBytes16;
            if (dataBytes + 44 > limit) return Abort(FailKind::BadInput, kMsgTooLong);
            uint8_t header[44];
            MakeWavHeader(header, static_cast<int>(sampleRate_), static_cast<int>(bits_), static_cast<int>(channels_),
                          static_cast<uint32_t>(dataBytes));
            if (std::fwrite(header, 1, 44, out_) != 44) return Abort(FailKind::Environment, "ERROR: write error\n");
            headerWritten_ = true;
            if (progress_) progress_->SetRange(0, static_cast<int32_t>(totalSamples_ > INT32_MAX ? INT32_MAX : totalSamples_));
        }
        if (progress_) {
            const uint64_t first = frame->header.number.sample_number;
            progress_->SetPos(static_cast<int32_t>(first > INT32_MAX ? INT32_MAX : first));
            if (progress_->Cancelled() &&
                doc_.Ui().MessageBox("Really Cancel?", kAppCaption, MbButtons::YesNo, MbIcon::Question) == MbAnswer::Yes) {
                failed = true;
                failKind = FailKind::Cancelled;
                failText = "Really Cancel?";
                return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
            }
        }
        const unsigned blocksize = frame->header.blocksize;
        const unsigned bytesPer = bits_ == 16 ? 2 : 3;
        pcm_.resize(static_cast<size_t>(blocksize) * channels_ * bytesPer);
        uint8_t* p = pcm_.data();
        for (unsigned i = 0; i < blocksize; ++i) {
            for (unsigned c = 0; c < channels_; ++c) {
                const auto v = static_cast<uint32_t>(buffer[c][i]);
                *p++ = static_cast<uint8_t>(v);
                *p++ = static_cast<uint8_t>(v >> 8);
                if (bytesPer == 3) *p++ = static_cast<uint8_t>(v >> 16);
            }
        }
        if (std::fwrite(pcm_.data(), 1, pcm_.size(), out_) != pcm_.size())
            return Abort(FailKind::Environment, "ERROR: write error\n");
        return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
    }

    void error_callback(::FLAC__StreamDecoderErrorStatus status) override
    {
        // Lost sync or a bad frame: libFLAC goes on decoding; the user hears
        // of it but the import is not stopped for it. A damaged file can
        // raise the same error thousands of times: each kind is told once.
        const unsigned bit = 1u << (static_cast<unsigned>(status) & 31u);
        if (reported_ & bit) return;
        reported_ |= bit;
        char text[160];
        std::snprintf(text, sizeof text, "Got error callback: %s\n", FLAC__StreamDecoderErrorStatusString[status]);
        doc_.Ui().MessageBox(text, kAppCaption, MbButtons::Ok, MbIcon::Warning);
    }

private:
    ::FLAC__StreamDecoderWriteStatus Abort(FailKind kind, const std::string& text)
    {
        failed = true;
        failKind = kind;
        failText = text;
        doc_.Ui().MessageBox(text, kAppCaption, MbButtons::Ok, MbIcon::Warning);
        return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
    }

    void ReadComments(const FLAC__StreamMetadata_VorbisComment& vc)
    {
        doc_.passedOnComments.clear();
        for (FLAC__uint32 i = 0; i < vc.num_comments; ++i) {
            const auto& entry = vc.comments[i];
            std::string text(reinterpret_cast<const char*>(entry.entry), entry.length);
            const size_t eq = text.find('=');
            std::string name = text.substr(0, eq);
            std::string value = eq == std::string::npos ? std::string() : text.substr(eq + 1);
            for (char& ch : name) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
            if (name == "TITLE") doc_.inputTags.title = value;
            else if (name == "ARTIST") doc_.inputTags.artist = value;
            else if (name == "ALBUM") doc_.inputTags.album = value;
            else if (name == "GENRE") doc_.inputTags.genre = value;
            else if (name == "TRACKNUMBER") doc_.inputTrackNumber = value;
            else doc_.passedOnComments.push_back(name + "=\"" + value + "\"");
        }
    }

    CQuillon3Doc& doc_;
    std::FILE* out_;
    CProgressWnd* progress_;
    uint64_t totalSamples_ = 0;
    unsigned sampleRate_ = 0, channels_ = 0, bits_ = 0;
    bool headerWritten_ = false;
    unsigned reported_ = 0;
    std::vector<uint8_t> pcm_;
};

void RemoveQuietly(const std::string& path)
{
    std::error_code ec;
    std::filesystem::remove(path, ec);
}

}  // namespace

OpResult DecodeFlacToWav(CQuillon3Doc& doc, const std::string& flacPath, const std::string& tmpPath)
{
    std::FILE* out = std::fopen(tmpPath.c_str(), "wb");
    if (!out) {
        std::string text = tmpPath + ": " + std::strerror(errno);
        doc.Ui().MessageBox(text, kAppCaption, MbButtons::Ok, MbIcon::Error);
        return OpResult::Fail(FailKind::Environment, text);
    }
    std::vector<char> outBuffer(1 << 20);
    std::setvbuf(out, outBuffer.data(), _IOFBF, outBuffer.size());

    CProgressScope scope(doc);
    CProgressWnd* progress = scope.get();

    CFlacToWav decoder(doc, out, progress);
    decoder.set_md5_checking(true);
    decoder.set_metadata_respond(FLAC__METADATA_TYPE_VORBIS_COMMENT);
    const FLAC__StreamDecoderInitStatus init = decoder.init(flacPath);
    if (init != FLAC__STREAM_DECODER_INIT_STATUS_OK) {
        char text[200];
        std::snprintf(text, sizeof text, "ERROR: initializing decoder: %s\n", FLAC__StreamDecoderInitStatusString[init]);
        doc.Ui().MessageBox(text, kAppCaption, MbButtons::Ok, MbIcon::Warning);
        std::fclose(out);
        RemoveQuietly(tmpPath);
        return OpResult::Fail(FailKind::BadInput, text);
    }

    if (progress) {
        progress->SetCaption("Loading Flac file...");
        progress->SetStageName(0, "Decode Flac File");
        progress->SetStage(0, -1);
    }
    bool ok = decoder.process_until_end_of_stream();
    const FLAC__StreamDecoderState state = decoder.get_state();
    ok = ok && !decoder.failed && state != FLAC__STREAM_DECODER_ABORTED &&
         state != FLAC__STREAM_DECODER_MEMORY_ALLOCATION_ERROR && state != FLAC__STREAM_DECODER_SEEK_ERROR;
    const bool md5Ok = decoder.finish();
    const bool closeOk = std::fclose(out) == 0;
    if (ok && !closeOk) {
        doc.Ui().MessageBox("ERROR: write error\n", kAppCaption, MbButtons::Ok, MbIcon::Warning);
        RemoveQuietly(tmpPath);
        return OpResult::Fail(FailKind::Environment, "ERROR: write error\n");
    }
    if (!ok) {
        RemoveQuietly(tmpPath);
        if (decoder.failed) return OpResult::Fail(decoder.failKind, decoder.failText);
        std::string text = std::string("ERROR: decoding failed: ") + FLAC__StreamDecoderStateString[state] + "\n";
        doc.Ui().MessageBox(text, kAppCaption, MbButtons::Ok, MbIcon::Warning);
        return OpResult::Fail(FailKind::BadInput, text);
    }
    if (!md5Ok) {
        doc.Ui().MessageBox("The decoded audio does not match the MD5 signature stored in the FLAC file.",
                            kAppCaption, MbButtons::Ok, MbIcon::Warning);
    }
    return OpResult::Success();
}

}  // namespace kelvane
