#pragma once
// The Tip of the Day: the tips file and the two values of "TipZR" that the
// dialog keeps, whether tips show at start-up ("StartUp", 0 = show) and
// where the next tip starts ("FilePos", a byte offset into the file). The
// file is one tip a line; empty lines and lines starting with ';' are
// comments. A stored position that no longer falls on a tip (the file
// changed, or the value was edited) starts at the next line, and the tips
// wrap round at the end, so any stored value leads to a tip.

#include <cstdint>
#include <optional>
#include <string>

namespace kelvane {

class ISettingsStore;

class CTipFile {
public:
    explicit CTipFile(std::string text) : text_(std::move(text)) {}

    struct Tip {
        std::string text;  // the line, without its end
        int64_t next = 0;  // where the tip after it starts: the next "FilePos"
    };
    // The first tip at or after byte `pos`: a position inside a line starts
    // at the following line, one past the last tip wraps to the first.
    // nullopt when the file holds no tip at all.
    std::optional<Tip> TipAt(int64_t pos) const;

private:
    std::string text_;
};

// Start-up shows a tip when no file was named on the command line and the
// user has not switched tips off.
bool TipAtStartup(const ISettingsStore& store, bool fileNamed);
bool TipsShownAtStartup(const ISettingsStore& store);
// The dialog's check box and position, written together when it closes.
void StoreTipState(ISettingsStore& store, bool showAtStartup, int64_t nextPos);

}  // namespace kelvane
