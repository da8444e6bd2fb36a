#pragma once
// Writes one track of the processed recording to its own file: pre-silence,
// the track's audio from the working file with its fades and level applied,
// post-silence. WAV is written here; FLAC and Ogg Vorbis go through the
// IAudioEncoder implementations. Every output is first written beside its
// target under a name no other process can hold and only moved onto it once
// complete and on disk (DurableFiles.h), so a cancelled or failed track never
// leaves a half-written file or harms an earlier one.
//
// The working file is only read; the source recording is never opened.
// Single threaded, on the thread that owns the document.

#include "document/CancelQuestions.h"
#include "output/CResampler.h"
#include "output/IAudioEncoder.h"
#include "tracks/CFadeLaw.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace kelvane {

class CQuillon3Doc;
class CProgressWnd;
class ISettingsStore;

// What the user chose for the output, as the save dialog leaves it.
struct ExportOptions {
    int fileType = 1239;        // a kFileType* value of OutputNames.h
    bool external = false;      // write a WAV for an external encoder
    int flacLevelIndex = 1;     // index into FlacLevels()
    int oggQualityIndex = 5;    // index into OggQualities()
    int apeLevelIndex = 2;      // index into ApeLevels()
    bool normalise = false;     // peak of each track to gainDb
    bool scale = false;         // each track multiplied by gainDb
    double gainDb = 0.0;        // used only with normalise or scale
    FadeShape fade = FadeShape::Logarithmic;
    // With external: the encoder program and its command-line template
    // ("Encoder" and "Parameters"), the template holding %IN, %OUT, %A, %T,
    // %L, %G and %N.
    std::string encoderPath;
    std::string parameters;
    int externalIndex = -1;     // the chosen line of the encoder list, -1 none
    // "Re-Sample": every output but Ogg Vorbis is first written as a WAV,
    // converted to resampleTo's rate and depth, and then encoded from it.
    bool resample = false;
    ResampleSettings resampleTo;

    // The stored choices: "File Type", "External Encoder", "Flac Level",
    // "Ogg Quality", "Ape Level", "Normalise", "Scale", "NormGain", "Fade Linear",
    // "External Index", "Encoder" and "Parameters", "Resample" and the five
    // values of the resample settings.
    // An unreadable "NormGain" counts as -1 dB; the level is clamped to
    // -30 .. 0 dB for Normalise and -30 .. 10 dB for Scale.
    static ExportOptions FromSettings(const ISettingsStore& store);
    // Stores the choices on "OK": format, external flag and index, encoder
    // and its command line always, whatever the format, so the encoder
    // chosen once is still chosen when the user comes back to it; the level
    // options (and "Resample") only when keepLevels ("Save Settings"),
    // otherwise they are reset to off and -1 dB for the next run.
    // "SaveSettings" records keepLevels. The resample settings themselves are
    // the "Resample Settings" dialog's to store.
    void Store(ISettingsStore& store, bool keepLevels) const;
};

enum class WriteResult {
    Written,    // the file is complete at its path
    Cancelled,  // the user confirmed "Really Abort?"; nothing left on disk
    NotOpened,  // the output could not be created (the user was told)
    Failed,     // reading or writing broke off (the user was told); nothing left on disk
};

class CTrackExporter {
public:
    // The texts the exporter shows.
    static constexpr const char* kReallyAbort = cancel::kReallyAbort.data();
    static constexpr const char* kCouldNotSave = "The file %s could not be saved";
    static constexpr const char* kEncoderStart = "Error starting encoder.\n";
    static constexpr const char* kOggWriteError = "Ogg Encoder Error. End of Stream found.";
    static constexpr const char* kOggFinishError = "Ogg Encoder Error. End of Stream not found.";
    static constexpr const char* kEncoderFinish = "Error finishing encoder.\n";
    static constexpr const char* kAllocatingEncoder = "ERROR: allocating encoder\n";
    static constexpr const char* kNoEncoder = "No external encoder is chosen.";

    // Makes the encoder for a format other than WAV, or nullptr when the
    // format has none in this build. The default knows FLAC and Ogg Vorbis;
    // APE and later formats plug in here.
    using EncoderFactory = std::function<std::unique_ptr<IAudioEncoder>(const ExportOptions&)>;

    CTrackExporter(CQuillon3Doc& doc, const ExportOptions& options);

    void SetEncoderFactory(EncoderFactory factory) { factory_ = std::move(factory); }

    // Whether the outputs of the next calls may replace a file found at
    // their path. Off (the default), a file there is kept and the track
    // fails; the save turns it on only for a file whose replacement the user
    // confirmed, so one that another run writes meanwhile is never lost.
    void SetReplaceExisting(bool replace) { replaceExisting_ = replace; }
    static std::unique_ptr<IAudioEncoder> DefaultEncoder(const ExportOptions& options);

    // Writes element track of the track table (0: the whole recording) to
    // path (folders on the way are created). number is the exported track
    // number for the tags (0 or less: the input's own number). gaplessBefore
    // and gaplessAfter mark joints with the neighbouring track: such an edge
    // gets neither silence nor fade; every other edge fades over at least one
    // sector. Reports progress to the document's progress window (one is made
    // for the call when none is running). Never throws for bad input: an
    // unknown track or a closed working file is reported as NotOpened.
    WriteResult WriteTrack(int32_t track, int32_t number, const std::string& path, bool gaplessBefore,
                           bool gaplessAfter);

    // Hands inputWav to the external encoder of the options to make path:
    // the command-line template is split into words first and the values
    // (the track's texts, number, inputWav and path) are put into those
    // words, so no title can add or split an argument; the program is started
    // directly, never through a shell, and waited for. When the source was a
    // FLAC file its comments are passed on as "-T NAME=value" pairs. The
    // encoder's %OUT is a file of the same name in a private folder beside
    // path; only a complete output is moved onto path, so a failing encoder
    // leaves an earlier file there as it was. Failed when the program cannot
    // be started or reports failure (the user is told). An interrupt reported
    // through the progress window while it runs ("Really Abort?" answered
    // Yes) stops the encoder: Cancelled. inputWav is not deleted here.
    WriteResult RunExternalEncoder(int32_t track, int32_t number, const std::string& inputWav,
                                   const std::string& path);

    // Second stage of an output made through a WAV (after resampling): turns
    // the exporter's WAV wavPath into the FLAC (or, once it has an encoder,
    // APE) file path of the options and deletes the WAV, also when cancelled
    // or failed. The WAV's own header gives the format and the data size; a
    // file that is not a 16/24-bit PCM WAV is refused (NotOpened).
    WriteResult EncodeWaveFile(int32_t track, int32_t number, const std::string& path,
                               const std::string& wavPath);

    // Where the WAV handed to an external encoder (or to EncodeWaveFile) is
    // written for the output path: path + ".wav", or the first free
    // "path-N.wav" (N from 2) when a file of that name exists already.
    static std::string TemporaryWavPath(const std::string& path);

    // Whether the last WriteTrack got its output open, and whether the user
    // stopped it.
    bool OutputOpened() const { return outputOpened_; }
    bool Cancelled() const { return cancelled_; }
    void ClearCancel() { cancelled_ = false; }

private:
    class Sink;
    class WavSink;
    class EncoderSink;

    // shown: the path the user knows the output by (the WAV handed to an
    // external encoder is named after its output).
    std::unique_ptr<Sink> OpenSink(int32_t track, int32_t number, const std::string& path, const std::string& shown,
                                   int bits, int channels, int64_t frames, int64_t dataBytes);
    std::string StartFailureText(const std::string& path, const std::string& why) const;
    std::string FinishFailureText(const std::string& path, const std::string& why) const;
    EncoderTags TagsFor(int32_t track, int32_t number) const;
    double TrackGain(int32_t start, int32_t length);
    bool AskAbort(CProgressWnd* progress);
    void Report(const std::string& text);
    // "Resampling...": converts the exporter's WAV wav into wav + ".rsmp",
    // which then takes the WAV's name; on failure or cancel the WAV is left
    // for the caller to remove.
    WriteResult ResampleWav(const std::string& wav, CProgressWnd* progress);

    CQuillon3Doc& doc_;
    ExportOptions options_;
    EncoderFactory factory_;
    bool outputOpened_ = false;
    bool cancelled_ = false;
    bool replaceExisting_ = false;
};

}  // namespace kelvane
