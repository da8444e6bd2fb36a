#pragma once
// The user, as a script. A test queues the questions it expects, in order,
// with the answers to give; anything else the code asks is a test failure
// (answered with the safest button so the code under test backs out), and
// questions never asked are reported too. Every box is recorded for later
// assertions. Single-threaded, like the front ends it stands in for.

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "document/Interaction.h"
#include "tests/support/RecordingProgress.h"

namespace kelvane::test {

class ScriptedInteraction : public IInteraction {
public:
    struct Expectation {
        std::string text;                   // compared exactly
        MbAnswer answer = MbAnswer::Ok;
        std::optional<std::string> caption; // checked when set
        std::optional<MbButtons> buttons;   // checked when set
        std::optional<MbIcon> icon;         // checked when set
    };

    struct ShownMessage {
        std::string text;
        std::string caption;
        MbButtons buttons = MbButtons::Ok;
        MbIcon icon = MbIcon::None;
        MbAnswer answer = MbAnswer::Ok;  // what this script replied
        bool expected = false;           // matched a queued expectation or allowed information
        // The buttons' labels as the core gave them; empty: the usual word.
        std::string yesLabel, noLabel, okLabel, cancelLabel;
    };

    // Called for every progress window created from now on, with its index
    // among all windows this interaction made (0-based).
    using ProgressSetup = std::function<void(RecordingProgress&, size_t index)>;

    ScriptedInteraction() = default;
    // Reports expectations still queued, as ExpectDone does.
    ~ScriptedInteraction() override;

    ScriptedInteraction(const ScriptedInteraction&) = delete;
    ScriptedInteraction& operator=(const ScriptedInteraction&) = delete;

    // Queues the next question. Returns *this so a dialogue reads as a chain.
    ScriptedInteraction& Expect(std::string text, MbAnswer answer);
    ScriptedInteraction& Expect(Expectation expectation);

    // When on, Ok-only boxes with no icon or the Information icon that were
    // not scripted are accepted (and still recorded). Warnings and errors
    // always need scripting: a test should not wave a failure through.
    void AllowInformation(bool allow) { allowInformation_ = allow; }
    // Also lets through Ok-only warnings and errors (refusal tests that
    // check the texts themselves through Messages()).
    void AllowOkBoxes(bool allow) { allowOkBoxes_ = allow; }

    // Fails the current test for every queued question not yet asked, then
    // forgets them so the destructor does not report them twice.
    void ExpectDone();

    size_t PendingCount() const { return expected_.size(); }
    const std::vector<ShownMessage>& Messages() const { return shown_; }
    std::vector<std::string> Texts() const;

    void OnCreateProgress(ProgressSetup setup) { progressSetup_ = std::move(setup); }
    // The logs of every progress window created so far, oldest first; they
    // stay valid after the windows are destroyed.
    const std::vector<std::shared_ptr<const ProgressLog>>& Progresses() const { return progresses_; }

    MbAnswer MessageBox(std::string_view text, std::string_view caption, MbButtons buttons,
                        MbIcon icon) override;
    MbAnswer MessageBox(std::string_view text, std::string_view caption, MbButtons buttons, MbIcon icon,
                        const MbLabels& labels) override;
    std::unique_ptr<CProgressWnd> CreateProgress(bool savingLayout) override;

    // The answer that backs out of whatever is offered: Cancel, else No, else Ok.
    static MbAnswer SafeAnswer(MbButtons buttons);
    static bool Offers(MbButtons buttons, MbAnswer answer);
    static const char* Name(MbButtons buttons);
    static const char* Name(MbAnswer answer);
    static const char* Name(MbIcon icon);

private:
    std::deque<Expectation> expected_;
    std::vector<ShownMessage> shown_;
    bool allowInformation_ = false;
    bool allowOkBoxes_ = false;
    ProgressSetup progressSetup_;
    std::vector<std::shared_ptr<const ProgressLog>> progresses_;
};

}  // namespace kelvane::test
