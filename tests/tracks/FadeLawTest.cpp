// The two fade curves and the program-wide choice between them.

#include "document/CQuillon3Doc.h"
#include "document/CommandState.h"
#include "settings/SettingsStore.h"
#include "tests/support/ScriptedInteraction.h"
#include "tracks/CFadeLaw.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

namespace kelvane {
namespace {

double Decibels(double gain)
{
    return 20.0 * std::log10(gain);
}

TEST(CFadeLaw, Linear_FullAtTheJoinSilentAtTheFarEndHalfBetween)
{
    const CFadeLaw law(FadeShape::Linear);
    const int64_t span = CFadeLaw::Span(44100 * 4);
    EXPECT_DOUBLE_EQ(law.Gain(0, span), 1.0);
    EXPECT_DOUBLE_EQ(law.Gain(span / 2, span), 0.5);
    EXPECT_DOUBLE_EQ(law.Gain(span, span), 0.0);
    EXPECT_DOUBLE_EQ(law.Gain(span / 4, span), 0.75);
}

TEST(CFadeLaw, Logarithmic_StraightInDecibelsFromMinusSixty)
{
    const CFadeLaw law(FadeShape::Logarithmic);
    const int64_t span = 4000;
    EXPECT_DOUBLE_EQ(law.Gain(0, span), 1.0);
    EXPECT_DOUBLE_EQ(law.Gain(span, span), 0.001);
    EXPECT_NEAR(law.Gain(span / 2, span), 0.0316227766016838, 1e-15);
    EXPECT_NEAR(Decibels(law.Gain(span / 4, span)), -15.0, 1e-9);
    EXPECT_NEAR(Decibels(law.Gain(3 * span / 4, span)), -45.0, 1e-9);
}

TEST(CFadeLaw, Span_AddsOneSectorAndAnEmptySpanMeansNoFade)
{
    EXPECT_EQ(CFadeLaw::Span(0), 2352);
    EXPECT_EQ(CFadeLaw::Span(-2352), 0);
    EXPECT_EQ(CFadeLaw::Span(std::numeric_limits<int32_t>::max()), 2147483647LL + 2352);
    for (FadeShape shape : {FadeShape::Linear, FadeShape::Logarithmic}) {
        const CFadeLaw law(shape);
        EXPECT_EQ(law.Gain(0, CFadeLaw::Span(-2352)), 1.0);
        EXPECT_EQ(law.Gain(100, CFadeLaw::Span(-5000)), 1.0);
        // Outside the fade the gain stays at the fade's own ends.
        EXPECT_EQ(law.Gain(-10, 2352), 1.0);
        EXPECT_EQ(law.Gain(5000, 2352), law.Gain(2352, 2352));
    }
}

TEST(CFadeLaw, Setting_DefaultsToLogarithmicAndRoundTrips)
{
    CMemorySettings settings;
    EXPECT_FALSE(CFadeLaw::Load(settings).IsLinear());

    CFadeLaw(FadeShape::Linear).Store(settings);
    EXPECT_EQ(settings.Get(settings::FadeLinear), 1);
    EXPECT_TRUE(CFadeLaw::Load(settings).IsLinear());

    CFadeLaw(FadeShape::Logarithmic).Store(settings);
    EXPECT_EQ(settings.Get(settings::FadeLinear), 0);
    EXPECT_EQ(CFadeLaw::Load(settings).Shape(), FadeShape::Logarithmic);

    // Only 1 means linear, as only 1 checks the "Linear" command.
    settings.Set(settings::FadeLinear, 2);
    EXPECT_FALSE(CFadeLaw::Load(settings).IsLinear());
}

TEST(CFadeLaw, Setting_ChecksTheMatchingFadeTypeCommand)
{
    CMemorySettings settings;
    test::ScriptedInteraction ui;
    CQuillon3Doc doc{settings, ui};
    const ViewState view;
    for (FadeShape shape : {FadeShape::Linear, FadeShape::Logarithmic}) {
        CFadeLaw(shape).Store(settings);
        const int stored = CFadeLaw::Load(settings).SettingValue();
        EXPECT_EQ(QueryCommand(Command::FadeLinear, doc, view, stored).checked, shape == FadeShape::Linear);
        EXPECT_EQ(QueryCommand(Command::FadeLogarithmic, doc, view, stored).checked,
                  shape == FadeShape::Logarithmic);
    }
    // A stored value the store never wrote still fades logarithmically, and
    // the mark says so: one of the two items is always checked.
    for (int odd : {2, -1, 1303}) {
        EXPECT_FALSE(QueryCommand(Command::FadeLinear, doc, view, odd).checked) << odd;
        EXPECT_TRUE(QueryCommand(Command::FadeLogarithmic, doc, view, odd).checked) << odd;
    }
}

}  // namespace
}  // namespace kelvane
