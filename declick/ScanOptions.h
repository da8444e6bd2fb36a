#pragma once
// The "Auto-Scan Options" and "Scan Options" dialogs without their widgets:
// the values they edit, the texts their labels show for those values, when
// the advanced settings count as changed, and the two restore buttons. A
// front end binds its sliders and radios to ScanOptionsValues and asks here
// for every text; nothing here knows a widget.

#include <cstdint>
#include <string>

namespace kelvane {

class CQuillon3Doc;

struct ScanOptionsValues {
    int32_t source = 1095;       // "Source": 1095 Vinyl, 1096 Tape
    int32_t sensitivity = 3;     // click threshold 0..5, 0 = off (Vinyl)
    int32_t subtractor = 2;      // hiss reduction 0..3, 0 = off (Tape)
    int32_t splitTracks = 1;
    int32_t gapless = 0;
    int32_t agc = 0;             // 0..3
    int32_t discriminator = 0;   // 0..3
    int32_t minMagnitude = 0;    // 0..10
    int32_t mode = 1005;         // 1004 Differential, 1005 Per Channel
    int32_t corWidth = 1303;     // 1303 Normal, 1295 Narrow

    bool Tape() const;
    bool operator==(const ScanOptionsValues&) const = default;

    // The document's automatic-scan settings; a sensitivity of -1 (never
    // set) opens as 3.
    static ScanOptionsValues FromDocument(const CQuillon3Doc& doc);
    // OK of Auto-Scan Options: the values become the document's and are
    // stored, all in one save of the settings.
    void StoreInDocument(CQuillon3Doc& doc) const;
};

struct SliderRange {
    int32_t low = 0, high = 0, value = 0;
};

// The main slider: the click threshold (0..5) for Vinyl, the hiss
// reduction (0..3) for Tape. Switching the source keeps both values.
SliderRange MainSlider(const ScanOptionsValues& values);
void SetMainSlider(ScanOptionsValues& values, int32_t position);

// " Click Threshold = %d ", " Click Threshold: Off ", " Hiss Reduction: %ddB "
// (6 x value + 2) or " Hiss Reduction: Off ".
std::string MainSliderLabel(const ScanOptionsValues& values);
std::string AgcLabel(int32_t agc);
std::string DiscriminatorLabel(int32_t discriminator);
std::string MinMagnitudeLabel(int32_t minMagnitude);

// Whether the detector controls (detect mode, AGC, discriminator, minimum
// magnitude) can be changed: not for a tape, which is not scanned for clicks.
bool DetectorControlsEnabled(const ScanOptionsValues& values);

// Vinyl: AGC, Discriminator and Min Magnitude 0, Per Channel, Normal.
// Tape: Normal width.
bool AdvancedAtDefault(const ScanOptionsValues& values);
// The note beside the Advanced button; the warning is drawn in red.
std::string AdvancedNote(const ScanOptionsValues& values);
// The threshold group is drawn highlighted when its value is not the
// default for the source.
bool MainSliderHighlighted(const ScanOptionsValues& values);

// "Restore Default": threshold 3 and hiss reduction 2.
void RestoreBasicDefaults(ScanOptionsValues& values);
// "Adv. Defaults": AGC, Discriminator, Min Magnitude 0, Per Channel, Normal.
void RestoreAdvancedDefaults(ScanOptionsValues& values);

namespace scanoptions {
inline constexpr const char* kAutoScanTitle = "Auto-Scan Options";
inline constexpr const char* kSourceGroup = "Source Recording";
inline constexpr const char* kVinyl = "Vinyl";
inline constexpr const char* kTape = "Tape";
inline constexpr const char* kTrackSplitting = "Track Splitting";
inline constexpr const char* kEnable = "Enable";
inline constexpr const char* kGapless = "Gapless Track Boundaries (Disk-At-Once)";
inline constexpr const char* kAgcGroup = "AGC Setting";
inline constexpr const char* kDiscriminatorGroup = "Music/Noise Discriminator";
inline constexpr const char* kMinMagnitudeGroup = "Minimum Click Magnitude";
inline constexpr const char* kModeGroup = "Click Detect Mode";
inline constexpr const char* kDifferential = "Differential";
inline constexpr const char* kPerChannel = "Per Channel";
inline constexpr const char* kWidthGroup = "Correction Width";
inline constexpr const char* kNormal = "Normal";
inline constexpr const char* kNarrow = "Narrow";
inline constexpr const char* kAdvancedShow = "Advanced >>";
inline constexpr const char* kAdvancedHide = "Advanced <<";
inline constexpr const char* kRestoreDefault = "Restore Default";
inline constexpr const char* kAdvDefaults = "Adv. Defaults";
inline constexpr const char* kNoteDefault = "For Advanced Options click here:\n(for expert users only):";
inline constexpr const char* kNoteWarning = "WARNING! Advanced options are set.\nClick here to change:";
inline constexpr const char* kScan = "Scan";
inline constexpr const char* kPassesTip = "enter the number of passes for the de-clicker";
inline constexpr const char* kUserCorrections = "User Corrections";
inline constexpr const char* kCuts = "Cuts";

// Tooltips, by control.
inline constexpr const char* kTipMainSlider = "Click detection sensitivity; a higher value means more clicks will be detected";
inline constexpr const char* kTipAgc = "Reduce sensitivity with increasing volume";
inline constexpr const char* kTipDiscriminator = "adjust discrimination between music and noise";
inline constexpr const char* kTipMinMagnitude = "set minimum magnitude for detected clicks";
inline constexpr const char* kTipDifferential = "only use fro mono records played on stereo equipment";
inline constexpr const char* kTipPerChannel = "use in all other cases";
inline constexpr const char* kTipNormal = "normal corrections widths";
inline constexpr const char* kTipNarrow = "reduced correction widths";
inline constexpr const char* kTipSplit = "split an album file into separate tracks";
inline constexpr const char* kTipVinyl = "source type vinyl - remove clicks from file";
inline constexpr const char* kTipTape = "source type tape/cassette - remove hiss from file";
inline constexpr const char* kTipAdvanced = "show or hide advanced controls";
inline constexpr const char* kTipRestoreDefault = "restore basic settings to their default values";
inline constexpr const char* kTipAdvDefaults = "restore advanced settings to their default values";
}  // namespace scanoptions

}  // namespace kelvane
