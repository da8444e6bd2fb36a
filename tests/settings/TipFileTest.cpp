// The Tip of the Day's file positions and its start-up rule: any stored
// "FilePos" must lead to a whole tip, and the tips come round again.

#include "settings/CTipFile.h"
#include "settings/SettingsStore.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kelvane {
namespace {

const std::string kTips = "; comment\n"
                          "First tip.\n"
                          "\n"
                          "Second tip.\r\n"
                          "; another comment\n"
                          "Third tip, no line end";

std::vector<std::string> Walk(const CTipFile& file, int64_t pos, int count)
{
    std::vector<std::string> seen;
    for (int i = 0; i < count; ++i) {
        const auto tip = file.TipAt(pos);
        if (!tip) break;
        seen.push_back(tip->text);
        pos = tip->next;
    }
    return seen;
}

TEST(CTipFile, TipsFollowEachOtherSkippingCommentsAndWrapRound)
{
    const CTipFile file(kTips);
    EXPECT_EQ(Walk(file, 0, 4),
              (std::vector<std::string>{"First tip.", "Second tip.", "Third tip, no line end", "First tip."}));
}

TEST(CTipFile, AnyStoredPositionLeadsToAWholeTip)
{
    const CTipFile file(kTips);
    const auto second = kTips.find("Second");
    // Inside "First tip." the next whole line is taken, never the rest of it.
    EXPECT_EQ(file.TipAt(14)->text, "Second tip.");
    EXPECT_EQ(file.TipAt(static_cast<int64_t>(second))->text, "Second tip.");
    EXPECT_EQ(file.TipAt(static_cast<int64_t>(second) + 1)->text, "Third tip, no line end");
    // Past the last tip, at the very end, beyond it, or negative: the first.
    EXPECT_EQ(file.TipAt(static_cast<int64_t>(kTips.size()) - 3)->text, "First tip.");
    EXPECT_EQ(file.TipAt(static_cast<int64_t>(kTips.size()))->text, "First tip.");
    EXPECT_EQ(file.TipAt(100000)->text, "First tip.");
    EXPECT_EQ(file.TipAt(-5)->text, "First tip.");
}

TEST(CTipFile, FileWithoutTipsGivesNone)
{
    EXPECT_FALSE(CTipFile("").TipAt(0));
    EXPECT_FALSE(CTipFile("; only\n\n; comments\n").TipAt(3));
}

TEST(CTipFile, StartUpShowsTipsUntilSwitchedOffAndNeverWithAFile)
{
    CMemorySettings store;
    EXPECT_TRUE(TipAtStartup(store, false));
    EXPECT_FALSE(TipAtStartup(store, true));

    StoreTipState(store, false, 42);
    EXPECT_EQ(store.Get(settings::TipStartUp), 1);
    EXPECT_EQ(store.Get(settings::TipFilePos), 42);
    EXPECT_FALSE(TipAtStartup(store, false));

    StoreTipState(store, true, int64_t{1} << 40);
    EXPECT_EQ(store.Get(settings::TipStartUp), 0);
    EXPECT_EQ(store.Get(settings::TipFilePos), 0);
    EXPECT_TRUE(TipAtStartup(store, false));
}

}  // namespace
}  // namespace kelvane
