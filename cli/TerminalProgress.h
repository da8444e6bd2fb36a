#pragma once
// The progress window of the batch tool. On a terminal it is one line redrawn
// in place; into a log or a pipe it writes a plain line per stage and per ten
// percent, so a redirected run leaves a readable record instead of a flood.

#include <chrono>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>

#include "document/CProgressWnd.h"

namespace kelvane {

class CTerminalProgress final : public CProgressWnd {
public:
    using Clock = std::chrono::steady_clock;

    // Which progress (if any) currently owns the last line of the terminal,
    // shared with whoever else prints there so that it can clear the line
    // first. A progress registers itself on construction and leaves on
    // destruction; the slot may outlive either side.
    struct LineSlot {
        CTerminalProgress* live = nullptr;
    };

    struct Options {
        std::ostream* out = nullptr;        // null: std::cerr
        std::optional<bool> terminal;       // unset: whether stderr is a terminal
        bool quiet = false;                 // print nothing at all
        int columns = 0;                    // line width; 0: ask the terminal, else 80
        std::function<Clock::time_point()> now;  // null: Clock::now
        // Polled whenever the operation pumps (e.g. a SIGINT flag); true
        // presses Cancel.
        std::function<bool()> cancelRequested;
        std::shared_ptr<LineSlot> slot;
    };

    CTerminalProgress();
    explicit CTerminalProgress(Options options);
    // Finishes a line in progress, so whatever is printed next starts clean.
    ~CTerminalProgress() override;

    // Clears the drawn line (terminal only) so a message can be printed; the
    // bar comes back, undelayed, on the next change.
    void Suspend();

    // The text of one terminal line without the leading "\r", at most
    // `columns` characters wide: "[####......]  42%  Scanning  message".
    std::string BarLine(int columns) const;
    // The text of one plain progress line: "Scanning Waveform: 40%".
    std::string PlainLine() const;
    // 0..100 from the range and position, clamped.
    int PercentValue() const;
    // The current stage's name, or the caption when no named stage is set.
    std::string Label() const;

protected:
    void Pump() override;
    void Changed(Field field) override;

private:
    static constexpr std::chrono::milliseconds kRedrawInterval{100};

    // force: ignore the rate limit; counted: this draw starts a new interval.
    void Draw(bool force, bool counted);
    void Emit(const std::string& text);
    int Columns() const;
    Clock::time_point Now() const;

    Options options_;
    std::ostream* out_;
    bool terminal_;

    // Terminal: what the line shows now, and whether it is on screen.
    bool lineShown_ = false;
    bool dirty_ = false;
    bool forceNext_ = false;
    std::string shownLine_;
    std::string shownLabel_;
    std::optional<Clock::time_point> lastDraw_;
    std::optional<Clock::time_point> lastChange_;

    // Plain: what was printed last.
    std::optional<std::string> printedLabel_;
    int printedDecile_ = -1;
};

}  // namespace kelvane
