// The Auto-Scan Options dialog's rules: the main slider per source, the
// label texts, the advanced warning and the two restore buttons.

#include "declick/ScanOptions.h"
#include "document/CQuillon3Doc.h"
#include "settings/SettingsStore.h"
#include "tests/support/ScriptedInteraction.h"

#include <gtest/gtest.h>

namespace kelvane {
namespace {

TEST(ScanOptions, SourceSwitchKeepsBothSliderValuesAndChangesRange)
{
    ScanOptionsValues v;
    SetMainSlider(v, 5);
    EXPECT_EQ(MainSliderLabel(v), " Click Threshold = 5 ");
    v.source = settings::kSourceTape;
    const SliderRange tape = MainSlider(v);
    EXPECT_EQ(tape.high, 3);
    EXPECT_EQ(tape.value, 2);
    EXPECT_EQ(MainSliderLabel(v), " Hiss Reduction: 14dB ");
    EXPECT_FALSE(DetectorControlsEnabled(v));
    SetMainSlider(v, 9);  // clamped to the tape's range
    EXPECT_EQ(v.subtractor, 3);
    v.source = settings::kSourceVinyl;
    EXPECT_EQ(MainSlider(v).value, 5);
    EXPECT_EQ(MainSlider(v).high, 5);
    EXPECT_TRUE(DetectorControlsEnabled(v));
    SetMainSlider(v, 0);
    EXPECT_EQ(MainSliderLabel(v), " Click Threshold: Off ");
    v.source = settings::kSourceTape;
    SetMainSlider(v, 0);
    EXPECT_EQ(MainSliderLabel(v), " Hiss Reduction: Off ");
}

TEST(ScanOptions, RestoreDefaultOnTapeShowsFourteenDecibels)
{
    ScanOptionsValues v;
    v.source = settings::kSourceTape;
    v.subtractor = 0;
    v.sensitivity = 1;
    EXPECT_TRUE(MainSliderHighlighted(v));
    RestoreBasicDefaults(v);
    EXPECT_EQ(MainSlider(v).value, 2);
    EXPECT_EQ(MainSliderLabel(v), " Hiss Reduction: 14dB ");
    EXPECT_EQ(v.sensitivity, 3);
    EXPECT_FALSE(MainSliderHighlighted(v));
}

TEST(ScanOptions, AdvancedWarningPerSourceAndAdvDefaults)
{
    ScanOptionsValues v;
    EXPECT_EQ(AdvancedNote(v), "For Advanced Options click here:\n(for expert users only):");
    v.corWidth = settings::kCorWidthNarrow;
    EXPECT_EQ(AdvancedNote(v), "WARNING! Advanced options are set.\nClick here to change:");
    v.corWidth = settings::kCorWidthNormal;
    v.agc = 2;
    EXPECT_FALSE(AdvancedAtDefault(v));
    // A tape is not scanned for clicks: only the width counts.
    v.source = settings::kSourceTape;
    v.mode = settings::kModeDifferential;
    EXPECT_TRUE(AdvancedAtDefault(v));
    v.source = settings::kSourceVinyl;
    v.discriminator = 3;
    v.minMagnitude = 10;
    v.corWidth = settings::kCorWidthNarrow;
    RestoreAdvancedDefaults(v);
    EXPECT_TRUE(AdvancedAtDefault(v));
    EXPECT_EQ(AgcLabel(v.agc), " AGC Setting = 0 ");
    EXPECT_EQ(DiscriminatorLabel(3), " Noise Discriminator = 3 ");
    EXPECT_EQ(MinMagnitudeLabel(10), " Min. Magnitude = 10 ");
}

TEST(ScanOptions, NeverSetSensitivityOpensAtThreeAndOkStoresEveryValue)
{
    CMemorySettings store;
    test::ScriptedInteraction ui;
    CQuillon3Doc doc(store, ui);
    ASSERT_EQ(doc.sensitivity, -1);
    ScanOptionsValues v = ScanOptionsValues::FromDocument(doc);
    EXPECT_EQ(v.sensitivity, 3);
    v.source = settings::kSourceTape;
    v.agc = 1;
    v.splitTracks = 0;
    v.StoreInDocument(doc);
    EXPECT_EQ(store.Get(settings::Sensitivity), 3);
    EXPECT_EQ(store.Get(settings::Source), settings::kSourceTape);
    EXPECT_EQ(store.Get(settings::Agc), 1);
    EXPECT_EQ(store.Get(settings::SplitTracks), 0);
    EXPECT_EQ(store.Saves(), 1);
    EXPECT_EQ(doc.source, settings::kSourceTape);
}

}  // namespace
}  // namespace kelvane
