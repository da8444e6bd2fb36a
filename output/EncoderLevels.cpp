#include "output/EncoderLevels.h"

#include "settings/SettingsStore.h"

#include <array>

namespace kelvane {
namespace {

constexpr std::array<FlacLevelChoice, 3> kFlacLevels{{
    {"Fast (0)", 0},
    {"Optimum (5)", 5},
    {"Extra High (8)", 8},
}};

constexpr std::array<OggQualityChoice, 7> kOggQualities{{
    {"Minimum (56k)", 0.0f},
    {"Low (72k)", 0.15f},
    {"Medium Low (96k)", 0.30f},
    {"Medium (120k)", 0.45f},
    {"Medium High (160k)", 0.60f},
    {"High (210k)", 0.80f},
    {"Maximum (400k)", 1.0f},
}};

constexpr std::array<ApeLevelChoice, 4> kApeLevels{{
    {"Fast", 1000},
    {"Normal", 2000},
    {"High", 3000},
    {"Extra High", 4000},
}};

// The settings' defaults are the tables' default indices; checked here so a
// change on either side cannot silently point outside a table.
static_assert(settings::FlacLevel.defaultValue >= 0 && settings::FlacLevel.defaultValue < int(kFlacLevels.size()));
static_assert(settings::OggQuality.defaultValue >= 0 && settings::OggQuality.defaultValue < int(kOggQualities.size()));
static_assert(settings::ApeLevel.defaultValue >= 0 && settings::ApeLevel.defaultValue < int(kApeLevels.size()));

int ValidIndex(int index, size_t size, int fallback)
{
    return index >= 0 && static_cast<size_t>(index) < size ? index : fallback;
}

}  // namespace

std::span<const FlacLevelChoice> FlacLevels() { return kFlacLevels; }
std::span<const OggQualityChoice> OggQualities() { return kOggQualities; }
std::span<const ApeLevelChoice> ApeLevels() { return kApeLevels; }

int FlacCompressionLevelAt(int index)
{
    return kFlacLevels[ValidIndex(index, kFlacLevels.size(), settings::FlacLevel.defaultValue)].compressionLevel;
}

float OggQualityAt(int index)
{
    return kOggQualities[ValidIndex(index, kOggQualities.size(), settings::OggQuality.defaultValue)].quality;
}

int ApeCompressionLevelAt(int index)
{
    return kApeLevels[ValidIndex(index, kApeLevels.size(), settings::ApeLevel.defaultValue)].compressionLevel;
}

int StoredFlacLevelIndex(const ISettingsStore& store)
{
    return ValidIndex(store.Get(settings::FlacLevel), kFlacLevels.size(), settings::FlacLevel.defaultValue);
}

int StoredOggQualityIndex(const ISettingsStore& store)
{
    return ValidIndex(store.Get(settings::OggQuality), kOggQualities.size(), settings::OggQuality.defaultValue);
}

int StoredApeLevelIndex(const ISettingsStore& store)
{
    return ValidIndex(store.Get(settings::ApeLevel), kApeLevels.size(), settings::ApeLevel.defaultValue);
}

void StoreFlacLevelIndex(ISettingsStore& store, int index)
{
    store.Set(settings::FlacLevel, ValidIndex(index, kFlacLevels.size(), settings::FlacLevel.defaultValue));
}

void StoreOggQualityIndex(ISettingsStore& store, int index)
{
    store.Set(settings::OggQuality, ValidIndex(index, kOggQualities.size(), settings::OggQuality.defaultValue));
}

void StoreApeLevelIndex(ISettingsStore& store, int index)
{
    store.Set(settings::ApeLevel, ValidIndex(index, kApeLevels.size(), settings::ApeLevel.defaultValue));
}

}  // namespace kelvane
