#include "CTipFile.h"

#include "settings/SettingsStore.h"

#include <climits>

namespace kelvane {

namespace {

bool IsTip(const std::string& line) { return !line.empty() && line.front() != ';'; }

}  // namespace

std::optional<CTipFile::Tip> CTipFile::TipAt(int64_t pos) const
{
    const auto size = static_cast<int64_t>(text_.size());
    if (pos < 0 || pos > size) pos = 0;
    // Only whole lines are tips: a position inside one moves on to the next.
    if (pos > 0 && text_[static_cast<size_t>(pos - 1)] != '\n') {
        const size_t end = text_.find('\n', static_cast<size_t>(pos));
        pos = end == std::string::npos ? size : static_cast<int64_t>(end) + 1;
    }
    // At most one lap round the file: a file of comments has no tip.
    for (int lap = 0; lap < 2; ++lap) {
        for (auto at = static_cast<size_t>(pos); at < text_.size();) {
            size_t end = text_.find('\n', at);
            const size_t next = end == std::string::npos ? text_.size() : end + 1;
            if (end == std::string::npos) end = text_.size();
            std::string line = text_.substr(at, end - at);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (IsTip(line)) return Tip{std::move(line), static_cast<int64_t>(next)};
            at = next;
        }
        pos = 0;
    }
    return std::nullopt;
}

bool TipsShownAtStartup(const ISettingsStore& store) { return store.Get(settings::TipStartUp) == 0; }

bool TipAtStartup(const ISettingsStore& store, bool fileNamed) { return !fileNamed && TipsShownAtStartup(store); }

void StoreTipState(ISettingsStore& store, bool showAtStartup, int64_t nextPos)
{
    ISettingsStore::Batch batch(store);
    store.Set(settings::TipStartUp, showAtStartup ? 0 : 1);
    // The file is ours and small; a position past what an int holds is no
    // position in it, and reads back as the first tip.
    store.Set(settings::TipFilePos, nextPos >= 0 && nextPos <= INT_MAX ? static_cast<int>(nextPos) : 0);
}

}  // namespace kelvane
