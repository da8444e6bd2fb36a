// The compression tables: the values each library gets, and how stored
// indices a user may have edited are read back.

#include <gtest/gtest.h>

#include "output/EncoderLevels.h"
#include "settings/SettingsStore.h"

namespace kelvane {
namespace {

TEST(EncoderLevels, Tables_HoldTheOfferedChoices)
{
    ASSERT_EQ(FlacLevels().size(), 3u);
    EXPECT_EQ(FlacLevels()[0].label, "Fast (0)");
    EXPECT_EQ(FlacLevels()[2].label, "Extra High (8)");
    EXPECT_EQ(FlacCompressionLevelAt(0), 0);
    EXPECT_EQ(FlacCompressionLevelAt(1), 5);
    EXPECT_EQ(FlacCompressionLevelAt(2), 8);

    const float qualities[] = {0.0f, 0.15f, 0.30f, 0.45f, 0.60f, 0.80f, 1.0f};
    ASSERT_EQ(OggQualities().size(), 7u);
    for (int i = 0; i < 7; ++i) EXPECT_FLOAT_EQ(OggQualityAt(i), qualities[i]) << i;
    EXPECT_EQ(OggQualities()[5].label, "High (210k)");

    ASSERT_EQ(ApeLevels().size(), 4u);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(ApeCompressionLevelAt(i), 1000 * (i + 1)) << i;
    EXPECT_EQ(ApeLevels()[3].label, "Extra High");
}

TEST(EncoderLevels, OutOfTableIndex_UsesTheDefaultChoice)
{
    for (int bad : {-1, 3, 99}) EXPECT_EQ(FlacCompressionLevelAt(bad), 5) << bad;
    for (int bad : {-1, 7}) EXPECT_FLOAT_EQ(OggQualityAt(bad), 0.80f) << bad;
    for (int bad : {-5, 4}) EXPECT_EQ(ApeCompressionLevelAt(bad), 3000) << bad;
}

TEST(EncoderLevels, StoredIndices_DefaultsEditedValuesAndRoundTrip)
{
    CMemorySettings store;
    EXPECT_EQ(StoredFlacLevelIndex(store), 1);
    EXPECT_EQ(StoredOggQualityIndex(store), 5);
    EXPECT_EQ(StoredApeLevelIndex(store), 2);

    store.Set(settings::FlacLevel, 42);
    store.Set(settings::OggQuality, -3);
    store.Set(settings::ApeLevel, 4);
    EXPECT_EQ(StoredFlacLevelIndex(store), 1);
    EXPECT_EQ(StoredOggQualityIndex(store), 5);
    EXPECT_EQ(StoredApeLevelIndex(store), 2);

    StoreFlacLevelIndex(store, 2);
    StoreOggQualityIndex(store, 0);
    StoreApeLevelIndex(store, 3);
    EXPECT_EQ(StoredFlacLevelIndex(store), 2);
    EXPECT_EQ(StoredOggQualityIndex(store), 0);
    EXPECT_EQ(StoredApeLevelIndex(store), 3);

    StoreFlacLevelIndex(store, 9);
    EXPECT_EQ(store.Get(settings::FlacLevel), 1);
}

}  // namespace
}  // namespace kelvane
