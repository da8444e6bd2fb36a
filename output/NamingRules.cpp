#include "output/NamingRules.h"

#include "settings/SettingsStore.h"

#include <algorithm>

namespace kelvane {

namespace {

constexpr std::array<const StringSetting*, 3> kUserRules{&settings::Rule1, &settings::Rule2, &settings::Rule3};

}  // namespace

std::vector<std::string> OfferedNamingRules(const ISettingsStore& settings)
{
    std::vector<std::string> rules(kBuiltInNamingRules.begin(), kBuiltInNamingRules.end());
    for (const StringSetting* slot : kUserRules) {
        std::string rule = settings.Get(*slot);
        if (!rule.empty()) rules.push_back(std::move(rule));
    }
    return rules;
}

std::string InitialNamingRule(const ISettingsStore& settings)
{
    const std::string rule = settings.Get(settings::NamingRule);
    return rule.empty() ? std::string(kDefaultNamingRule) : rule;
}

void RememberRule(ISettingsStore& settings, const std::string& rule)
{
    ISettingsStore::Batch batch(settings);
    const std::vector<std::string> offered = OfferedNamingRules(settings);
    if (!rule.empty() && std::find(offered.begin(), offered.end(), rule) == offered.end()) {
        bool stored = false;
        for (const StringSetting* slot : kUserRules) {
            if (settings.Get(*slot).empty()) {
                settings.Set(*slot, rule);
                stored = true;
                break;
            }
        }
        if (!stored) {
            settings.Set(settings::Rule1, settings.Get(settings::Rule2));
            settings.Set(settings::Rule2, settings.Get(settings::Rule3));
            settings.Set(settings::Rule3, rule);
        }
    }
    settings.Set(settings::NamingRule, rule);
}

}  // namespace kelvane
