#pragma once
// The naming rules the save dialog offers: six built in, and up to three
// that the user typed, remembered in "Rule1".."Rule3" (oldest first) with
// the rule last used in "NamingRule".

#include <array>
#include <string>
#include <vector>

namespace kelvane {

class ISettingsStore;

inline constexpr const char* kDefaultNamingRule = "INPUTcor#";
inline constexpr std::array<const char*, 6> kBuiltInNamingRules{
    "INPUTcor#", "ALBUM#", "# - TITLE", "TITLE", "ALBUM\\# - TITLE", "ALBUM\\TITLE"};

// The built-in rules, then the stored user rules that are not empty.
std::vector<std::string> OfferedNamingRules(const ISettingsStore& settings);

// The rule selected when the dialog opens: the stored "NamingRule", or
// kDefaultNamingRule when none is stored.
std::string InitialNamingRule(const ISettingsStore& settings);

// Called when the export is confirmed with rule. A rule not yet offered goes
// into the first empty one of Rule1..Rule3; when all three are taken they
// move up one place (Rule1 is forgotten) and Rule3 takes it. Then rule is
// stored as "NamingRule". An empty rule is never added to the history, since
// it would only take the place of a useful one.
void RememberRule(ISettingsStore& settings, const std::string& rule);

}  // namespace kelvane
