#pragma once
// Sample-rate and bit-depth conversion of PCM WAV files, for tracks saved
// with "Re-Sample" and for the batch tool's `resample`.
//
// The converter reads the whole input once, through two filter stages per
// channel (ResampleRatios.h explains them), and requantises to the target
// depth with optional dither and noise shaping. In two-pass mode the first
// pass keeps the converted samples as doubles in a temporary file and
// measures their peak, and the second scales them so that the peak fits
// before requantising: a conversion can overshoot full scale (the filters
// ring at sharp edges) where the source did not.
//
// It asks and reports through the interaction interface, shows its progress
// every 0x40000 frames and stops when asked to between those steps. A
// conversion that does not finish leaves no output behind. A conversion is
// driven from one thread, which alone talks to the user and the progress
// window; the filtering of a multi-channel file is shared with one helper
// thread inside each step. Separate conversions share nothing writable.

#include "output/Dither.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace kelvane {

class CProgressWnd;
class IInteraction;
class ISettingsStore;

// "Resample Dither": the list index of the dialog less one.
enum class DitherType : int {
    Auto = -1,       // chosen from the depths, see CResampler::ResolveDither
    None = 0,        // rounding only
    Plain = 1,       // dither without noise shaping
    Triangular = 2,  // first-order shaping, whatever the rate
    Ath = 3,         // shaping after the threshold of hearing
    LessAth = 4,     // gentler shaping at 44100 and 48000, else as Ath
};

struct ResampleSettings {
    int rate = 44100;
    int bits = 16;
    DitherType dither = DitherType::None;
    DitherPdf pdf = DitherPdf::Rectangular;
    bool twoPass = false;

    // "Resample Rate", "Resample Bits", "Resample Dither", "Resample PDF" and
    // "Resample 2pass". A stored value the converter cannot use reads as its
    // default.
    static ResampleSettings FromSettings(const ISettingsStore& store);
    void Store(ISettingsStore& store) const;
};

// The batch tool's words for the choices: auto, none, plain, triangular,
// ath, less-ath; rectangular, triangular, gaussian.
std::optional<DitherType> DitherTypeFromName(std::string_view name);
std::optional<DitherPdf> DitherPdfFromName(std::string_view name);
// "RATE/BITS" as in "48000/24": true with both set when the text is two
// positive whole numbers around a slash and bits is 8, 16 or 24.
bool ParseResampleTarget(std::string_view text, int* rate, int* bits);

enum class ResampleStatus {
    Done,       // the output is complete
    Refused,    // the input or the request cannot be converted (the user was told)
    Failed,     // writing broke off (the user was told)
    Cancelled,  // stopped on request
};

// Who the converter talks to.
struct ResampleRun {
    IInteraction* ui = nullptr;         // messages; null shows nothing
    CProgressWnd* progress = nullptr;   // null: one is made through ui for the conversion
    // Asked between steps; true stops the conversion. Empty: the progress
    // window's Cancel stops it.
    std::function<bool()> stop;
};

class CResampler {
public:
    static constexpr const char* kResampling = "Resampling...";
    static constexpr const char* kAthUnavailable =
        "Warning: ATH based noise shaping for destination frequency %dHz is not available, using triangular dither\n";
    static constexpr const char* kCannotOpenTemporary = "cannot open temporary file.";
    static constexpr const char* kFailedToRemove = "Failed to remove %s\n";
    static constexpr const char* kBadDepth = "Error: Only 8, 16 and 24 bits per sample can be written.";
    static constexpr const char* kTooLarge = "Error: The converted file would exceed the 4 GB a WAV file can hold.";
    static constexpr const char* kCannotReadTemporary = "cannot read temporary file.";
    // ConvertWaveFile's output is its input's name with this appended; the
    // temporary file of two-pass mode is the output's name with kPass1.
    static constexpr const char* kOutputSuffix = ".rsmp";
    static constexpr const char* kPass1 = "pass1";

    // The dither "auto dither" stands for: plain dither when the output has
    // at least as many bytes per sample as the input, LessAth for 8-bit
    // output, else Ath. Other choices are returned unchanged.
    static DitherType ResolveDither(DitherType chosen, int inputBytes, int outputBits);

    CResampler(const ResampleSettings& settings, const ResampleRun& run);

    // Converts the WAV file in into a new WAV file out (created, or
    // truncated when it exists: callers hand over a name of their own).
    ResampleStatus Convert(const std::string& in, const std::string& out);

private:
    void Report(const std::string& text, bool warning = false) const;

    ResampleSettings settings_;
    ResampleRun run_;
};

// Converts path into path + ".rsmp": 0 on success, 1 on failure (after a
// message) or when stopped.
int ConvertWaveFile(const std::string& path, const ResampleSettings& settings, const ResampleRun& run);

// The batch tool's conversion of in into out: out is written under a partial
// name beside it and moved into place once complete. An existing out is
// replaced only with replaceExisting (otherwise Failed, with a message), and
// never when it is in itself (Refused).
ResampleStatus ResampleToFile(const std::string& in, const std::string& out, const ResampleSettings& settings,
                              const ResampleRun& run, bool replaceExisting);

}  // namespace kelvane
