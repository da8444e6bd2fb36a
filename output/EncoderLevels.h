#pragma once
// The compression choices of the built-in encoders: the labels offered by
// "Compression Settings", the value handed to each library, and the stored
// index. Stored indices come from a registry a user may have edited, so
// every lookup tolerates any integer and falls back to the default choice.

#include <span>
#include <string_view>

namespace kelvane {

class ISettingsStore;

struct FlacLevelChoice {
    std::string_view label;
    int compressionLevel;  // libFLAC compression level 0..8
};

struct OggQualityChoice {
    std::string_view label;
    float quality;  // Vorbis VBR base quality, 0.0..1.0
};

struct ApeLevelChoice {
    std::string_view label;
    int compressionLevel;  // the APE library's level constant
};

std::span<const FlacLevelChoice> FlacLevels();
std::span<const OggQualityChoice> OggQualities();
std::span<const ApeLevelChoice> ApeLevels();

// The library parameter for a table index; an index outside the table
// yields the parameter of the default index.
int FlacCompressionLevelAt(int index);
float OggQualityAt(int index);
int ApeCompressionLevelAt(int index);

// The stored index, clamped to the table: an out-of-range stored value reads
// as the default index.
int StoredFlacLevelIndex(const ISettingsStore& store);
int StoredOggQualityIndex(const ISettingsStore& store);
int StoredApeLevelIndex(const ISettingsStore& store);

// Stores an index; one outside the table stores the default instead, so a
// bad value never reaches the registry.
void StoreFlacLevelIndex(ISettingsStore& store, int index);
void StoreOggQualityIndex(ISettingsStore& store, int index);
void StoreApeLevelIndex(ISettingsStore& store, int index);

}  // namespace kelvane
