// The remembered naming rules: three user slots that shift when full.

#include "output/NamingRules.h"
#include "settings/SettingsStore.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kelvane {
namespace {

std::vector<std::string> Slots(const ISettingsStore& s)
{
    return {s.Get(settings::Rule1), s.Get(settings::Rule2), s.Get(settings::Rule3)};
}

TEST(NamingRules, NothingStored_StartsWithTheDefault)
{
    CMemorySettings settings;
    EXPECT_EQ(InitialNamingRule(settings), "INPUTcor#");
    EXPECT_EQ(OfferedNamingRules(settings),
              (std::vector<std::string>{"INPUTcor#", "ALBUM#", "# - TITLE", "TITLE", "ALBUM\\# - TITLE",
                                        "ALBUM\\TITLE"}));
}

TEST(NamingRules, NewRules_FillEmptySlotsThenShift)
{
    CMemorySettings settings;
    RememberRule(settings, "ARTIST - TITLE");
    RememberRule(settings, "GENRE\\TITLE");
    EXPECT_EQ(Slots(settings), (std::vector<std::string>{"ARTIST - TITLE", "GENRE\\TITLE", ""}));
    EXPECT_EQ(InitialNamingRule(settings), "GENRE\\TITLE");
    EXPECT_EQ(OfferedNamingRules(settings).size(), 8u);

    RememberRule(settings, "r3");
    RememberRule(settings, "r4");
    EXPECT_EQ(Slots(settings), (std::vector<std::string>{"GENRE\\TITLE", "r3", "r4"}));
    EXPECT_EQ(InitialNamingRule(settings), "r4");
}

TEST(NamingRules, OfferedRules_AreOnlySelected)
{
    CMemorySettings settings;
    settings.Set(settings::Rule1, "mine");
    settings.Set(settings::Rule3, "other");
    RememberRule(settings, "# - TITLE");
    RememberRule(settings, "mine");
    EXPECT_EQ(Slots(settings), (std::vector<std::string>{"mine", "", "other"}));
    EXPECT_EQ(InitialNamingRule(settings), "mine");
    // A gap in the history is filled before anything shifts.
    RememberRule(settings, "new");
    EXPECT_EQ(Slots(settings), (std::vector<std::string>{"mine", "new", "other"}));
    // Matching is exact: a rule differing in case is a new rule.
    RememberRule(settings, "title");
    EXPECT_EQ(Slots(settings), (std::vector<std::string>{"new", "other", "title"}));
}

TEST(NamingRules, EmptyRule_IsNotKept)
{
    CMemorySettings settings;
    settings.Set(settings::Rule1, "a");
    settings.Set(settings::Rule2, "b");
    settings.Set(settings::Rule3, "c");
    RememberRule(settings, "");
    EXPECT_EQ(Slots(settings), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(InitialNamingRule(settings), "INPUTcor#");
}

}  // namespace
}  // namespace kelvane
