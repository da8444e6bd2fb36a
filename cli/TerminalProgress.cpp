#include "cli/TerminalProgress.h"

#include "cli/TerminalText.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>

namespace kelvane {

namespace {

constexpr int kBarWidth = 20;
constexpr int kDefaultColumns = 80;

// Cuts text to at most `columns` characters, counting UTF-8 sequences as one
// character each so a multi-byte name is never split in the middle.
std::string FitColumns(const std::string& text, int columns)
{
    int count = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        auto byte = static_cast<unsigned char>(text[i]);
        if ((byte & 0xC0) == 0x80) continue;  // continuation byte
        if (count == columns) return text.substr(0, i);
        ++count;
    }
    return text;
}

// A message with a line break would tear the single line apart, and one
// with any other control character (a file name, say) could drive the
// terminal.
std::string OneLine(const std::string& text)
{
    std::string result = text;
    for (char& c : result) {
        if (c == '\n' || c == '\r' || c == '\t') c = ' ';
    }
    return Printable(result);
}

}  // namespace

CTerminalProgress::CTerminalProgress() : CTerminalProgress(Options{}) {}

CTerminalProgress::CTerminalProgress(Options options)
    : options_(std::move(options)),
      out_(options_.out ? options_.out : &std::cerr),
      terminal_(options_.terminal ? *options_.terminal : (options_.out == nullptr && isatty(STDERR_FILENO) == 1))
{
    if (options_.slot) options_.slot->live = this;
}

CTerminalProgress::~CTerminalProgress()
{
    if (options_.slot && options_.slot->live == this) options_.slot->live = nullptr;
    if (options_.quiet || !terminal_) return;
    // Throttling may have held back the final state: show it, then end the
    // line so the next output does not overwrite it.
    if (dirty_) Draw(true, false);
    if (lineShown_) Emit("\n");
}

void CTerminalProgress::Suspend()
{
    if (options_.quiet || !terminal_ || !lineShown_) return;
    Emit("\r\033[K");
    lineShown_ = false;
    shownLine_.clear();
    forceNext_ = true;
    dirty_ = true;
}

int CTerminalProgress::PercentValue() const
{
    int64_t span = static_cast<int64_t>(RangeHigh()) - RangeLow();
    if (span <= 0) return 0;
    int64_t pct = (static_cast<int64_t>(Pos()) - RangeLow()) * 100 / span;
    return static_cast<int>(std::clamp<int64_t>(pct, 0, 100));
}

std::string CTerminalProgress::Label() const
{
    int stage = CurrentStage();
    if (stage >= 0 && stage < kStageCount && !StageName(stage).empty()) return StageName(stage);
    return Caption();
}

std::string CTerminalProgress::BarLine(int columns) const
{
    int pct = PercentValue();
    int filled = pct * kBarWidth / 100;
    std::string line = "[";
    line.append(static_cast<size_t>(filled), '#');
    line.append(static_cast<size_t>(kBarWidth - filled), '.');
    char number[16];
    std::snprintf(number, sizeof number, "] %3d%%", pct);
    line += number;
    line += "  " + OneLine(Label());
    if (!Message().empty()) line += "  " + OneLine(Message());
    if (!Message2().empty()) line += "  " + OneLine(Message2());
    return FitColumns(line, std::max(columns, 1));
}

std::string CTerminalProgress::PlainLine() const
{
    std::string line = OneLine(Label()) + ": " + std::to_string(PercentValue()) + "%";
    if (!Message().empty()) line += "  " + OneLine(Message());
    return line;
}

void CTerminalProgress::Pump()
{
    if (options_.cancelRequested && options_.cancelRequested()) RequestCancel();
    // A state held back by the throttle must not stay unseen through a long
    // quiet stretch. Only when changes have paused, though: while they come
    // fast, the next one draws anyway. Such a catch-up draw does not count
    // against the rate, or the change that follows this pump (SetPos pumps
    // first) would be held back in turn and the line would lag a step.
    if (terminal_ && dirty_ && !options_.quiet && lastChange_ && Now() - *lastChange_ >= kRedrawInterval) {
        Draw(true, false);
    }
}

void CTerminalProgress::Changed(Field field)
{
    if (options_.quiet || field == Field::CancelButton) return;

    if (terminal_) {
        // A new stage is news worth showing at once; numbers can wait.
        bool labelChanged = (field == Field::Caption || field == Field::Stages) && Label() != shownLabel_;
        lastChange_ = Now();
        Draw(labelChanged, true);
        return;
    }

    if (field == Field::Range) {
        printedDecile_ = -1;  // a new sweep reports from its start
        return;
    }
    std::string label = Label();
    int decile = PercentValue() / 10;
    bool print = false;
    if (field == Field::Caption || field == Field::Stages) {
        // Before the first position nothing is printed: operations set their
        // caption and stage names up front, and those would be noise.
        print = printedLabel_.has_value() && label != *printedLabel_;
    } else if (field == Field::Pos) {
        print = !printedLabel_ || label != *printedLabel_ || decile > printedDecile_;
    }
    if (!print) return;
    Emit(PlainLine() + "\n");
    printedLabel_ = std::move(label);
    printedDecile_ = decile;
}

void CTerminalProgress::Draw(bool force, bool counted)
{
    force = force || forceNext_;
    Clock::time_point now = Now();
    if (!force && lastDraw_ && now - *lastDraw_ < kRedrawInterval) {
        dirty_ = true;
        return;
    }
    dirty_ = false;
    std::string line = BarLine(Columns());
    if (lineShown_ && line == shownLine_) return;
    // Erasing to the end of the line clears what a longer previous line left.
    Emit("\r" + line + "\033[K");
    shownLine_ = std::move(line);
    shownLabel_ = Label();
    lineShown_ = true;
    forceNext_ = false;
    if (counted) lastDraw_ = now;
}

void CTerminalProgress::Emit(const std::string& text)
{
    out_->write(text.data(), static_cast<std::streamsize>(text.size()));
    out_->flush();
}

int CTerminalProgress::Columns() const
{
    if (options_.columns > 0) return options_.columns;
    if (options_.out == nullptr) {
        winsize size{};
        if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
            // The last column would make some terminals wrap before the "\r".
            return size.ws_col - 1;
        }
    }
    return kDefaultColumns - 1;
}

CTerminalProgress::Clock::time_point CTerminalProgress::Now() const
{
    return options_.now ? options_.now() : Clock::now();
}

}  // namespace kelvane
