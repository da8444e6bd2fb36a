#include "ScanOptions.h"

#include "document/CQuillon3Doc.h"
#include "settings/SettingsStore.h"

#include <algorithm>
#include <cstdio>

namespace kelvane {

namespace {

constexpr int32_t kDefaultThreshold = 3;
constexpr int32_t kDefaultHiss = 2;

std::string Format(const char* pattern, int32_t value)
{
    char text[64];
    std::snprintf(text, sizeof text, pattern, static_cast<int>(value));
    return text;
}

}  // namespace

bool ScanOptionsValues::Tape() const { return source == settings::kSourceTape; }

ScanOptionsValues ScanOptionsValues::FromDocument(const CQuillon3Doc& doc)
{
    ScanOptionsValues v;
    v.source = doc.source;
    v.sensitivity = doc.sensitivity == -1 ? kDefaultThreshold : doc.sensitivity;
    v.subtractor = doc.subtractor == -1 ? kDefaultHiss : doc.subtractor;
    v.splitTracks = doc.splitTracks;
    v.gapless = doc.gapless;
    v.agc = doc.agc;
    v.discriminator = doc.discriminator;
    v.minMagnitude = doc.minMagnitude;
    v.mode = doc.mode;
    v.corWidth = doc.corWidth;
    return v;
}

void ScanOptionsValues::StoreInDocument(CQuillon3Doc& doc) const
{
    doc.source = source;
    doc.sensitivity = sensitivity;
    doc.subtractor = subtractor;
    doc.splitTracks = splitTracks;
    doc.gapless = gapless;
    doc.agc = agc;
    doc.discriminator = discriminator;
    doc.minMagnitude = minMagnitude;
    doc.mode = mode;
    doc.corWidth = corWidth;
    doc.StoreScanSettings();
}

SliderRange MainSlider(const ScanOptionsValues& values)
{
    if (values.Tape()) return {0, 3, std::clamp(values.subtractor, 0, 3)};
    return {0, 5, std::clamp(values.sensitivity, 0, 5)};
}

void SetMainSlider(ScanOptionsValues& values, int32_t position)
{
    const SliderRange range = MainSlider(values);
    const int32_t value = std::clamp(position, range.low, range.high);
    (values.Tape() ? values.subtractor : values.sensitivity) = value;
}

std::string MainSliderLabel(const ScanOptionsValues& values)
{
    const int32_t value = MainSlider(values).value;
    if (values.Tape()) return value == 0 ? " Hiss Reduction: Off " : Format(" Hiss Reduction: %ddB ", 6 * value + 2);
    return value == 0 ? " Click Threshold: Off " : Format(" Click Threshold = %d ", value);
}

std::string AgcLabel(int32_t agc) { return Format(" AGC Setting = %d ", agc); }
std::string DiscriminatorLabel(int32_t discriminator) { return Format(" Noise Discriminator = %d ", discriminator); }
std::string MinMagnitudeLabel(int32_t minMagnitude) { return Format(" Min. Magnitude = %d ", minMagnitude); }

bool DetectorControlsEnabled(const ScanOptionsValues& values) { return !values.Tape(); }

bool AdvancedAtDefault(const ScanOptionsValues& values)
{
    const bool normal = values.corWidth == settings::kCorWidthNormal;
    if (values.Tape()) return normal;
    return normal && values.agc == 0 && values.discriminator == 0 && values.minMagnitude == 0 &&
           values.mode == settings::kModePerChannel;
}

std::string AdvancedNote(const ScanOptionsValues& values)
{
    return AdvancedAtDefault(values) ? scanoptions::kNoteDefault : scanoptions::kNoteWarning;
}

bool MainSliderHighlighted(const ScanOptionsValues& values)
{
    return values.Tape() ? values.subtractor != kDefaultHiss : values.sensitivity != kDefaultThreshold;
}

void RestoreBasicDefaults(ScanOptionsValues& values)
{
    values.sensitivity = kDefaultThreshold;
    values.subtractor = kDefaultHiss;
}

void RestoreAdvancedDefaults(ScanOptionsValues& values)
{
    values.agc = 0;
    values.discriminator = 0;
    values.minMagnitude = 0;
    values.mode = settings::kModePerChannel;
    values.corWidth = settings::kCorWidthNormal;
}

}  // namespace kelvane
