#pragma once
// How the batch tool answers the core: it never waits for a person. Every
// question is answered from the command's flags (the policy) or, failing that,
// with the answer that keeps the user's work; every box is written to stderr
// so the log shows what was asked and what was chosen.

#include <functional>
#include <iosfwd>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/TerminalProgress.h"
#include "document/Interaction.h"

namespace kelvane {

class CTerminalInteraction final : public IInteraction {
public:
    // Consulted for every box with more than one button, after the exact-text
    // answers; return nullopt to leave the box to the defaults. text is as
    // the core wrote it (trailing line breaks included).
    using Policy = std::function<std::optional<MbAnswer>(std::string_view text, MbButtons buttons)>;

    // The answers for boxes the policy does not cover. The core's questions
    // are phrased both ways round, so the caller picks per button set; an
    // answer that is not one of the set's buttons falls back to the built-in
    // safe one (No, Cancel, Cancel).
    struct Defaults {
        MbAnswer yesNo = MbAnswer::No;
        MbAnswer yesNoCancel = MbAnswer::Cancel;
        MbAnswer okCancel = MbAnswer::Cancel;
    };

    struct Options {
        // Exact question texts (trailing line breaks ignored) and their answers.
        std::map<std::string, MbAnswer, std::less<>> answers;
        Policy policy;
        Defaults defaults;
        // Where boxes and progress go; null: std::cerr.
        std::ostream* out = nullptr;
        // Passed on to every progress: terminal decision, quiet, clock, the
        // cancel source. Its out is replaced by `out` above.
        CTerminalProgress::Options progress;
    };

    struct Shown {
        std::string text;  // as given, untrimmed
        std::string caption;
        MbButtons buttons;
        MbIcon icon;
        MbAnswer answer;
    };

    static constexpr std::string_view kPrefix = "kelvane: ";

    CTerminalInteraction();
    explicit CTerminalInteraction(Options options);

    // Never reads stdin. Prints "kelvane: <text>" (and " -> <answer>" for a
    // box with a choice, the answer's label when it has one) on its own
    // line, clearing a progress bar first; control characters in the text
    // are printed as escapes (Printable).
    MbAnswer MessageBox(std::string_view text, std::string_view caption, MbButtons buttons,
                        MbIcon icon) override;
    MbAnswer MessageBox(std::string_view text, std::string_view caption, MbButtons buttons, MbIcon icon,
                        const MbLabels& labels) override;
    // A CTerminalProgress on the same output, sharing the line with the boxes.
    std::unique_ptr<CProgressWnd> CreateProgress(bool savingLayout) override;

    // Every box shown so far, oldest first.
    const std::vector<Shown>& Messages() const { return shown_; }
    // The text (trimmed) of the last box with the Error icon, if any.
    std::optional<std::string> LastError() const;

    // The answer a box would get, without showing it.
    MbAnswer Decide(std::string_view text, MbButtons buttons) const;

    static std::string_view AnswerName(MbAnswer answer);
    // text without trailing "\n" / "\r\n".
    static std::string_view TrimEnd(std::string_view text);
    static bool Offers(MbButtons buttons, MbAnswer answer);

private:
    MbAnswer DefaultFor(MbButtons buttons) const;

    Options options_;
    std::ostream* out_;
    std::shared_ptr<CTerminalProgress::LineSlot> slot_;
    std::vector<Shown> shown_;
};

}  // namespace kelvane
