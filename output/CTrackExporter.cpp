#include "output/CTrackExporter.h"

#include "document/CChunkedPass.h"
#include "document/CImporter.h"
#include "document/CProgressScope.h"
#include "document/WavHeader.h"
#include "document/CQuillon3Doc.h"
#include "document/Interaction.h"
#include "output/CApeEncoder.h"
#include "output/CFlacEncoder.h"
#include "output/COggEncoder.h"
#include "output/DurableFiles.h"
#include "output/EncoderLevels.h"
#include "output/ExternalEncoderRun.h"
#include "output/OutputNames.h"
#include "output/TrackTags.h"
#include "settings/SettingsStore.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

namespace kelvane {

namespace fs = std::filesystem;

namespace {

constexpr int64_t kChunkUnits = kSegmentBytes;
constexpr int64_t kSectorFrames = kSectorBytes / 4;

std::string FileNameOf(const std::string& path)
{
    const size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

}  // namespace

// Where the processed frames go; one call per chunk.
class CTrackExporter::Sink {
public:
    virtual ~Sink() = default;
    virtual bool Write(const int32_t* interleaved, size_t frames) = 0;
    virtual bool Finish() = 0;
    virtual void Abort() = 0;
    virtual std::string Error() const = 0;
};

// WAV written to a partial file and moved onto the target when complete.
// The sizes are known before the first sample, so the header goes first.
class CTrackExporter::WavSink final : public Sink {
public:
    WavSink(std::string path, int bits, int channels, bool replace)
        : path_(std::move(path)), bits_(bits), channels_(channels), replace_(replace)
    {
    }
    ~WavSink() override { Abort(); }

    bool Open(int32_t rate, int32_t dataAlign, int64_t dataBytes)
    {
        const PartialPath partial = CreatePartialFile(path_);
        if (!partial) {
            error_ = partial.error;
            return false;
        }
        temp_ = partial.path;
        if (!file_.Open(temp_, CWaveFile::Mode::ReadWrite)) {
            error_ = file_.LastError();
            std::error_code ignored;
            fs::remove(temp_, ignored);
            temp_.clear();
            return false;
        }
        // The audio keeps the working file's alignment within a frame.
        const std::vector<uint8_t> h =
            WavHeaderBytes(rate, bits_, channels_, static_cast<uint32_t>(dataBytes), dataAlign == 2 ? 2 : 0);
        open_ = file_.WriteRaw(h.data(), static_cast<int64_t>(h.size()));
        return open_;
    }

    bool Write(const int32_t* interleaved, size_t frames) override
    {
        const size_t bytesPer = static_cast<size_t>(bits_ / 8);
        const size_t n = frames * static_cast<size_t>(channels_);
        bytes_.resize(n * bytesPer);
        uint8_t* out = bytes_.data();
        for (size_t i = 0; i < n; ++i) {
            const auto v = static_cast<uint32_t>(interleaved[i]);
            for (size_t b = 0; b < bytesPer; ++b) *out++ = static_cast<uint8_t>(v >> (8 * b));
        }
        return file_.WriteRaw(bytes_.data(), static_cast<int64_t>(bytes_.size()));
    }

    bool Finish() override
    {
        file_.Close();
        if (PlaceFile(temp_, path_, replace_, &error_) != Placement::Placed) {
            Abort();
            return false;
        }
        open_ = false;
        temp_.clear();
        return true;
    }

    void Abort() override
    {
        if (!open_ && temp_.empty()) return;
        file_.Close();
        std::error_code ignored;
        if (open_ || fs::exists(temp_, ignored)) fs::remove(temp_, ignored);
        open_ = false;
        temp_.clear();
    }

    std::string Error() const override { return error_.empty() ? file_.LastError() : error_; }

private:
    std::string path_;
    std::string temp_;
    int bits_;
    int channels_;
    bool replace_;
    CWaveFile file_;
    std::vector<uint8_t> bytes_;
    bool open_ = false;
    std::string error_;
};

class CTrackExporter::EncoderSink final : public Sink {
public:
    explicit EncoderSink(std::unique_ptr<IAudioEncoder> encoder) : encoder_(std::move(encoder)) {}
    bool Write(const int32_t* interleaved, size_t frames) override { return encoder_->Write(interleaved, frames); }
    bool Finish() override { return encoder_->Finish(); }
    void Abort() override { encoder_->Abort(); }
    std::string Error() const override { return encoder_->LastError(); }

private:
    std::unique_ptr<IAudioEncoder> encoder_;
};

ExportOptions ExportOptions::FromSettings(const ISettingsStore& store)
{
    ExportOptions o;
    o.fileType = store.Get(settings::FileType);
    o.external = store.Get(settings::ExternalEncoder) != 0;
    o.flacLevelIndex = StoredFlacLevelIndex(store);
    o.oggQualityIndex = StoredOggQualityIndex(store);
    o.apeLevelIndex = StoredApeLevelIndex(store);
    o.normalise = store.Get(settings::Normalise) != 0;
    o.scale = !o.normalise && store.Get(settings::Scale) != 0;
    const std::string text = store.Get(settings::NormGain);
    char* end = nullptr;
    double db = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || !std::isfinite(db)) db = -1.0;
    o.gainDb = std::clamp(db, -30.0, o.scale ? 10.0 : 0.0);
    o.fade = CFadeLaw::FromSetting(store.Get(settings::FadeLinear)).Shape();
    o.encoderPath = store.Get(settings::Encoder);
    o.parameters = store.Get(settings::Parameters);
    o.externalIndex = store.Get(settings::ExternalIndex);
    o.resample = store.Get(settings::Resample) != 0;
    o.resampleTo = ResampleSettings::FromSettings(store);
    return o;
}

void ExportOptions::Store(ISettingsStore& store, bool keepLevels) const
{
    ISettingsStore::Batch batch(store);
    store.Set(settings::FileType, fileType);
    store.Set(settings::ExternalEncoder, external ? 1 : 0);
    store.Set(settings::ExternalIndex, externalIndex);
    store.Set(settings::Encoder, encoderPath);
    store.Set(settings::Parameters, parameters);
    store.Set(settings::Normalise, keepLevels && normalise ? 1 : 0);
    store.Set(settings::Scale, keepLevels && scale ? 1 : 0);
    store.Set(settings::Resample, keepLevels && resample ? 1 : 0);
    char text[32] = "-1";
    if (keepLevels) std::snprintf(text, sizeof text, "%g", gainDb);
    store.Set(settings::NormGain, text);
    store.Set(settings::SaveSettings, keepLevels ? 1 : 0);
}

CTrackExporter::CTrackExporter(CQuillon3Doc& doc, const ExportOptions& options)
    : doc_(doc), options_(options), factory_(&CTrackExporter::DefaultEncoder)
{
}

std::unique_ptr<IAudioEncoder> CTrackExporter::DefaultEncoder(const ExportOptions& options)
{
    if (options.fileType == kFileTypeFlac)
        return std::make_unique<CFlacEncoder>(FlacCompressionLevelAt(options.flacLevelIndex));
    if (options.fileType == kFileTypeOgg) return std::make_unique<COggEncoder>(OggQualityAt(options.oggQualityIndex));
    if (options.fileType == kFileTypeApe) return std::make_unique<CApeEncoder>(ApeCompressionLevelAt(options.apeLevelIndex));
    return nullptr;
}

EncoderTags CTrackExporter::TagsFor(int32_t track, int32_t number) const
{
    if (options_.fileType == kFileTypeOgg) return OggTags(doc_, track, number);
    if (options_.fileType == kFileTypeApe) return ApeTags(doc_, track, number);
    return FlacTags(doc_, track, number);
}

void CTrackExporter::Report(const std::string& text)
{
    doc_.Ui().MessageBox(text, kAppCaption, MbButtons::Ok, MbIcon::Error);
}

bool CTrackExporter::AskAbort(CProgressWnd* progress)
{
    if (!CancelConfirmed(doc_.Ui(), *progress, cancel::kReallyAbort)) return false;
    cancelled_ = true;
    return true;
}

// The normalising factor needs the track's peak before the first byte is
// written. A silent track has no peak to scale to and keeps its level.
double CTrackExporter::TrackGain(int32_t start, int32_t length)
{
    const double level = std::pow(10.0, options_.gainDb * 0.05);
    if (options_.scale) return level;
    if (!options_.normalise) return 1.0;
    // A quick read ahead of the save's own progress and cancel question. A
    // file that cannot be read is left to the writing that follows, which
    // reads the same samples and says why the file could not be saved.
    PassPlan plan;
    plan.range = {start, static_cast<int32_t>(int64_t{start} + length)};
    plan.cancel = PassCancel::Deferred;
    plan.progress = PassProgress::Still;
    plan.quiet = true;
    int32_t peak = 0;
    CChunkedPass(doc_).Run(plan, [&](PassChunk& chunk) {
        for (int32_t i = 0; i < chunk.units / 2; ++i) peak = std::max(peak, std::abs(int32_t{chunk.view[i]}));
        return true;
    });
    return peak == 0 ? 1.0 : level * 32767.0 / peak;
}

std::unique_ptr<CTrackExporter::Sink> CTrackExporter::OpenSink(int32_t track, int32_t number,
                                                               const std::string& path, const std::string& shown,
                                                               int bits, int channels, int64_t frames,
                                                               int64_t dataBytes)
{
    const bool resampling = options_.resample && (options_.external || options_.fileType != kFileTypeOgg);
    const bool wav = options_.external || options_.fileType == kFileTypeWav || resampling;
    if (wav) {
        // The WAV for an external encoder or the resampler is a fresh scratch
        // name: nothing of the user's is there to replace.
        auto sink = std::make_unique<WavSink>(path, bits, channels,
                                              replaceExisting_ && !options_.external && !resampling);
        if (!sink->Open(doc_.sampleRate, doc_.dataAlign, dataBytes)) {
            Report(WithText(kCouldNotSave, shown) + "\n" + sink->Error());
            return nullptr;
        }
        return sink;
    }
    std::unique_ptr<IAudioEncoder> encoder = factory_ ? factory_(options_) : nullptr;
    if (!encoder) {
        Report(kAllocatingEncoder);
        return nullptr;
    }
    encoder->SetReplaceExisting(replaceExisting_);
    const EncoderTags tags = TagsFor(track, number);
    if (!encoder->Open(path, doc_.sampleRate, bits, channels, static_cast<uint64_t>(frames), tags)) {
        Report(StartFailureText(shown, encoder->LastError()));
        return nullptr;
    }
    return std::make_unique<EncoderSink>(std::move(encoder));
}

// The compressor of Monkey's Audio has texts of its own for a start and a
// finish that fail; the other formats name the file they could not save.
std::string CTrackExporter::StartFailureText(const std::string& path, const std::string& why) const
{
    if (options_.fileType == kFileTypeApe) return std::string(kEncoderStart) + why;
    return WithText(kCouldNotSave, path) + "\n" + why;
}

std::string CTrackExporter::FinishFailureText(const std::string& path, const std::string& why) const
{
    if (options_.fileType == kFileTypeApe) return std::string(kEncoderFinish) + why;
    if (options_.fileType == kFileTypeOgg) return std::string(kOggFinishError) + "\n" + why;
    return WithText(kCouldNotSave, path) + "\n" + why;
}

WriteResult CTrackExporter::WriteTrack(int32_t track, int32_t number, const std::string& path, bool gaplessBefore,
                                       bool gaplessAfter)
{
    outputOpened_ = false;
    if (track < 0 || track >= doc_.tracks.Size() || !doc_.workingFile.IsOpen() || path.empty()) {
        Report(WithText(kCouldNotSave, path));
        return WriteResult::NotOpened;
    }
    const TrackRecord t = doc_.tracks.At(track);
    // Whole frames only: a stray byte at the end would shift every channel.
    const int64_t length = std::max<int64_t>(0, static_cast<int64_t>(t.end) - t.start) & ~int64_t{3};

    const int64_t pre = gaplessBefore ? 0 : t.preSilence / kSectorBytes * kSectorBytes;
    const int64_t fadeIn = gaplessBefore ? 0 : CFadeLaw::Span(t.fadeIn);
    const int64_t post = gaplessAfter ? 0 : t.postSilence / kSectorBytes * kSectorBytes;
    const int64_t fadeOut = gaplessAfter ? 0 : CFadeLaw::Span(t.fadeOut);
    const CFadeLaw law(options_.fade);

    // Only a WAV file of a widened mono source goes back to one channel; the
    // FLAC and Vorbis encoders are always driven with two.
    const bool mono = doc_.sourceKind == kSourceMono && !options_.external && options_.fileType == kFileTypeWav;
    const bool ogg = !options_.external && options_.fileType == kFileTypeOgg;
    // Ogg takes 16-bit input whatever the recording's depth.
    const bool full = doc_.bitsPerSample == 24 && !ogg;
    const int bits = full ? 24 : 16;
    const int channels = mono ? 1 : 2;
    const int64_t totalFrames = (std::max<int64_t>(pre, 0) + length + std::max<int64_t>(post, 0)) / 4;
    const int64_t dataBytes = totalFrames * channels * (bits / 8);

    CProgressScope scope(doc_);
    CProgressWnd* progress = scope.get();
    const std::string name = FileNameOf(path);
    if (options_.normalise || options_.scale) {
        progress->SetMessage((options_.normalise ? "Normalising File " : "Scaling File ") + name);
    }
    const double gain = TrackGain(t.start, static_cast<int32_t>(length));
    const bool levelled = options_.normalise || options_.scale;
    progress->SetMessage("Saving File " + name);
    progress->SetRange(0, static_cast<int32_t>(mono ? length / 2 : length));

    std::error_code ignored;
    const fs::path folder = fs::path(path).parent_path();
    if (!folder.empty()) {
        std::error_code error;
        fs::create_directories(folder, error);
        if (error) {
            Report(WithText(kCouldNotSave, path) + "\n" + folder.string() + ": " + error.message());
            return WriteResult::NotOpened;
        }
    }

    // An external encoder gets a WAV beside its output, made like any WAV.
    // A track to be resampled is first written as a WAV into a private
    // folder beside its output and converted there; only the result moves on.
    const bool resampling = options_.resample && !ogg;
    struct RemoveFolder {
        std::string path;
        ~RemoveFolder()
        {
            std::error_code ignored;
            if (!path.empty()) fs::remove_all(path, ignored);
        }
    } scratch;
    std::string target = options_.external ? TemporaryWavPath(path) : path;
    if (resampling) {
        const PartialPath made = CreatePartialFolder(path);
        if (!made) {
            Report(WithText(kCouldNotSave, path) + "\n" + made.error);
            return WriteResult::NotOpened;
        }
        scratch.path = made.path;
        target = made.path + "/" + FileNameOf(path) + ".wav";
    }
    std::unique_ptr<Sink> sink = OpenSink(track, number, target, path, bits, channels, length / 4, dataBytes);
    if (!sink) return WriteResult::NotOpened;
    outputOpened_ = true;

    auto fail = [&](const std::string& why) {
        sink->Abort();
        Report(WithText(kCouldNotSave, path) + (why.empty() ? "" : "\n" + why));
        return WriteResult::Failed;
    };
    // The Vorbis stream has texts of its own for a broken stream.
    auto writeFailed = [&]() {
        return fail(ogg ? std::string(kOggWriteError) + "\n" + sink->Error() : sink->Error());
    };

    const std::vector<int32_t> silence(static_cast<size_t>(kSectorFrames * channels), 0);
    auto writeSilence = [&](int64_t units) {
        for (int64_t s = 0; s < units / kSectorBytes; ++s)
            if (!sink->Write(silence.data(), static_cast<size_t>(kSectorFrames))) return false;
        return true;
    };
    if (!writeSilence(pre)) return writeFailed();

    const int32_t top = full ? 8388607 : 32767;
    const int32_t bottom = -top - 1;
    std::vector<int16_t> narrow(static_cast<size_t>(kChunkUnits / 2));
    std::vector<int32_t> samples(static_cast<size_t>(kChunkUnits / 2));
    double e = 1.0;
    for (int64_t done = 0; done < length;) {
        progress->SetPos(static_cast<int32_t>(mono ? done / 2 : done));
        if (AskAbort(progress)) {
            sink->Abort();
            return WriteResult::Cancelled;
        }
        const int64_t units = std::min<int64_t>(kChunkUnits, length - done);
        const int64_t frames = units / 4;
        const size_t n = static_cast<size_t>(frames * 2);
        doc_.workingFile.Seek(t.start + done);
        if (full) {
            if (doc_.workingFile.Read24(samples.data(), frames * 2) != frames * 2)
                return fail(doc_.workingFile.LastError());
        } else {
            if (doc_.workingFile.Read(narrow.data(), units) != units) return fail(doc_.workingFile.LastError());
            for (size_t i = 0; i < n; ++i) samples[i] = narrow[i];
        }
        // Most chunks lie between the fades: with no level change their
        // samples pass unchanged, and the gain steps need not be walked.
        const int64_t firstStep = done / 4 / CFadeLaw::kGainStepFrames * CFadeLaw::kGainStepFrames;
        const int64_t lastStep = (done / 4 + frames - 1) / CFadeLaw::kGainStepFrames * CFadeLaw::kGainStepFrames;
        const bool unfaded = firstStep * 4 >= fadeIn && (fadeOut <= 0 || lastStep * 4 - (length - fadeOut) <= 0);
        if (unfaded) e = 1.0;
        for (int64_t f = 0; f < frames && (levelled || !unfaded); ++f) {
            const int64_t frame = done / 4 + f;
            if (frame % CFadeLaw::kGainStepFrames == 0) {
                // Output position relative to the first audio byte.
                const int64_t g = frame * 4;
                e = 1.0;
                const int64_t r = fadeIn - g;
                if (r > 0) e = law.Gain(r, fadeIn);
                const int64_t q = g - (length - fadeOut);
                if (fadeOut > 0 && q > 0) e = law.Gain(q, fadeOut);
            }
            if (e < 1.0 || levelled) {
                for (size_t c = 0; c < 2; ++c) {
                    int32_t& s = samples[static_cast<size_t>(f * 2) + c];
                    const double v = std::trunc(s * e * gain);
                    s = v > top ? top : v < bottom ? bottom : static_cast<int32_t>(v);
                }
            }
        }
        if (mono)
            for (int64_t f = 0; f < frames; ++f) samples[static_cast<size_t>(f)] = samples[static_cast<size_t>(f * 2)];
        if (!sink->Write(samples.data(), static_cast<size_t>(frames))) return writeFailed();
        done += units;
    }

    if (!writeSilence(post)) return writeFailed();
    progress->SetPos(static_cast<int32_t>(mono ? length / 2 : length));
    if (!sink->Finish()) {
        const std::string why = sink->Error();
        const bool plainFile = options_.external || options_.fileType == kFileTypeWav || why == TakenMeanwhileText(path);
        Report(plainFile ? WithText(kCouldNotSave, path) + "\n" + why : FinishFailureText(path, why));
        return WriteResult::Failed;
    }
    if (resampling) {
        const WriteResult converted = ResampleWav(target, progress);
        if (converted != WriteResult::Written) return converted;
        if (!options_.external && options_.fileType != kFileTypeWav)
            return EncodeWaveFile(track, number, path, target);
        if (!options_.external) {
            std::string why;
            if (PlaceFile(target, path, replaceExisting_, &why) == Placement::Placed) return WriteResult::Written;
            Report(WithText(kCouldNotSave, path) + "\n" + why);
            return WriteResult::Failed;
        }
    }
    if (!options_.external) return WriteResult::Written;
    const WriteResult encoded = RunExternalEncoder(track, number, target, path);
    fs::remove(target, ignored);
    return encoded;
}

std::string CTrackExporter::TemporaryWavPath(const std::string& path) { return UnusedName(path + ".wav"); }

WriteResult CTrackExporter::ResampleWav(const std::string& wav, CProgressWnd* progress)
{
    progress->SetMessage(CResampler::kResampling);
    bool stopped = false;
    const ResampleRun run{&doc_.Ui(), progress, [&] { return stopped = AskAbort(progress); }};
    const std::string converted = wav + CResampler::kOutputSuffix;
    std::error_code error;
    if (ConvertWaveFile(wav, options_.resampleTo, run) != 0) {
        fs::remove(converted, error);
        return stopped ? WriteResult::Cancelled : WriteResult::Failed;
    }
    fs::rename(converted, wav, error);
    if (error) {
        Report(WithText(kCouldNotSave, wav) + "\n" + error.message());
        fs::remove(converted, error);
        return WriteResult::Failed;
    }
    return WriteResult::Written;
}

WriteResult CTrackExporter::RunExternalEncoder(int32_t track, int32_t number, const std::string& inputWav,
                                               const std::string& path)
{
    if (options_.encoderPath.empty()) {
        Report(kNoEncoder);
        return WriteResult::NotOpened;
    }
    std::string problem;
    const std::vector<std::string> words = SplitCommandTemplate(options_.parameters, &problem);
    if (!problem.empty()) {
        Report(problem);
        return WriteResult::NotOpened;
    }
    const EncoderTags tagValues = ExternalEncoderValues(doc_, track, number);
    ExternalValues values;
    for (const auto& [key, value] : tagValues) {
        if (key == "%A") values.artist = value;
        else if (key == "%T") values.title = value;
        else if (key == "%L") values.album = value;
        else if (key == "%G") values.genre = value;
        else if (key == "%N") values.number = value;
    }
    // The encoder writes into a private folder beside the output, under the
    // output's own file name (some encoders go by its extension), so a
    // failing encoder cannot harm an earlier file of that name; the finished
    // file is then moved into place as the built-in encoders' files are.
    const PartialPath folder = CreatePartialFolder(path);
    if (!folder) {
        Report(WithText(kCouldNotSave, path) + "\n" + folder.error);
        return WriteResult::NotOpened;
    }
    struct RemoveFolder {
        std::string path;
        ~RemoveFolder()
        {
            std::error_code ignored;
            fs::remove_all(path, ignored);
        }
    } removeFolder{folder.path};
    const std::string made = folder.path + "/" + FileNameOf(path);
    values.in = inputWav;
    values.out = made;
    const std::vector<std::string> noComments;
    const std::vector<std::string> arguments =
        BuildEncoderArguments(words, doc_.sourceKind == kSourceFlac ? doc_.passedOnComments : noComments, values);

    // The progress window stays up while the encoder runs: it is how an
    // interrupt reaches this loop, which then stops the encoder.
    CProgressScope scope(doc_);
    CProgressWnd* progress = scope.get();
    progress->SetMessage("Encoding File " + FileNameOf(path));
    const ProgramRun run = RunProgram(options_.encoderPath, arguments, [&] { return AskAbort(progress); });
    if (run.stopped) return WriteResult::Cancelled;
    std::error_code error;
    if (run.started && run.exitStatus == 0 && fs::symlink_status(made, error).type() == fs::file_type::regular) {
        std::string why;
        if (PlaceFile(made, path, replaceExisting_, &why) == Placement::Placed) return WriteResult::Written;
        Report(WithText(kCouldNotSave, path) + "\n" + why);
        return WriteResult::Failed;
    }
    // An encoder that dies of the same interrupt as this program was
    // stopped, not broken.
    if (AskAbort(progress)) return WriteResult::Cancelled;
    std::string why = run.error;
    if (why.empty() && run.exitStatus != 0) why = DescribeFailure(run, options_.encoderPath);
    if (why.empty()) why = "The encoder " + options_.encoderPath + " did not create the file.";
    Report(WithText(kCouldNotSave, path) + "\n" + why);
    return run.started ? WriteResult::Failed : WriteResult::NotOpened;
}

WriteResult CTrackExporter::EncodeWaveFile(int32_t track, int32_t number, const std::string& path,
                                           const std::string& wavPath)
{
    outputOpened_ = false;
    struct RemoveWav {
        std::string path;
        ~RemoveWav()
        {
            std::error_code ignored;
            fs::remove(path, ignored);
        }
    } removeWav{wavPath};

    CWaveFile wav;
    int rate = 0, bits = 16, channels = 2;
    int64_t dataStart = 0, dataSize = 0;
    if (wav.Open(wavPath, CWaveFile::Mode::Read)) {
        WavLayout layout;
        if (ReadWavHeader(wav, layout) == HeaderStatus::Ok) {
            rate = layout.sampleRate;
            bits = layout.bitsPerSample;
            dataStart = layout.dataStart;
            dataSize = layout.dataSize;
        } else {
            MonoLayout mono;
            if (ReadMonoHeader(wav, mono)) {
                rate = mono.sampleRate;
                channels = 1;
                dataStart = mono.dataStart;
                dataSize = mono.dataSize;
            }
        }
    }
    if (rate == 0 || track < 0 || track >= doc_.tracks.Size()) {
        Report(WithText(kCouldNotSave, path));
        return WriteResult::NotOpened;
    }
    const int bytesPer = bits / 8;
    const int64_t frameBytes = int64_t{bytesPer} * channels;
    const int64_t frames = dataSize / frameBytes;

    CProgressScope scope(doc_);
    CProgressWnd* progress = scope.get();
    progress->SetMessage("Saving File " + path);
    progress->SetRange(0, static_cast<int32_t>(std::min<int64_t>(dataSize, INT32_MAX)));
    std::unique_ptr<IAudioEncoder> encoder = factory_ ? factory_(options_) : nullptr;
    if (!encoder) {
        Report(kAllocatingEncoder);
        return WriteResult::NotOpened;
    }
    encoder->SetReplaceExisting(replaceExisting_);
    if (!encoder->Open(path, rate, bits, channels, static_cast<uint64_t>(frames), TagsFor(track, number))) {
        Report(StartFailureText(path, encoder->LastError()));
        return WriteResult::NotOpened;
    }
    outputOpened_ = true;
    const int64_t chunk = CWaveFile::BytesOf(kSegmentBytes, bits);
    std::vector<uint8_t> bytes(static_cast<size_t>(chunk));
    std::vector<int32_t> samples(static_cast<size_t>(chunk / bytesPer));
    wav.Seek(dataStart);
    for (int64_t done = 0; done < frames * frameBytes;) {
        progress->SetPos(static_cast<int32_t>(std::min<int64_t>(done, INT32_MAX)));
        if (AskAbort(progress)) {
            encoder->Abort();
            return WriteResult::Cancelled;
        }
        const int64_t want = std::min<int64_t>(chunk, frames * frameBytes - done) / frameBytes * frameBytes;
        if (wav.ReadRaw(bytes.data(), want) != want) {
            encoder->Abort();
            Report(WithText(kCouldNotSave, path) + "\n" + wav.LastError());
            return WriteResult::Failed;
        }
        const size_t n = static_cast<size_t>(want / bytesPer);
        for (size_t i = 0; i < n; ++i) {
            const uint8_t* b = bytes.data() + i * static_cast<size_t>(bytesPer);
            samples[i] = bits == 24 ? static_cast<int32_t>(static_cast<uint32_t>(b[0]) << 8 |
                                                           static_cast<uint32_t>(b[1]) << 16 |
                                                           static_cast<uint32_t>(b[2]) << 24) >> 8
                                    : static_cast<int16_t>(static_cast<uint16_t>(b[0] | b[1] << 8));
        }
        if (!encoder->Write(samples.data(), n / static_cast<size_t>(channels))) {
            Report(WithText(kCouldNotSave, path) + "\n" + encoder->LastError());
            return WriteResult::Failed;
        }
        done += want;
    }
    if (!encoder->Finish()) {
        const std::string why = encoder->LastError();
        Report(why == TakenMeanwhileText(path) ? WithText(kCouldNotSave, path) + "\n" + why
                                              : FinishFailureText(path, why));
        return WriteResult::Failed;
    }
    return WriteResult::Written;
}

}  // namespace kelvane
