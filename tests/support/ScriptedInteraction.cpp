#include "tests/support/ScriptedInteraction.h"

#include <gtest/gtest.h>

namespace kelvane::test {

ScriptedInteraction::~ScriptedInteraction()
{
    ExpectDone();
}

ScriptedInteraction& ScriptedInteraction::Expect(std::string text, MbAnswer answer)
{
    Expectation e;
    e.text = std::move(text);
    e.answer = answer;
    return Expect(std::move(e));
}

ScriptedInteraction& ScriptedInteraction::Expect(Expectation expectation)
{
    expected_.push_back(std::move(expectation));
    return *this;
}

void ScriptedInteraction::ExpectDone()
{
    for (const Expectation& e : expected_)
        ADD_FAILURE() << "Expected message box was never shown: \"" << e.text << "\"";
    expected_.clear();
}

std::vector<std::string> ScriptedInteraction::Texts() const
{
    std::vector<std::string> texts;
    texts.reserve(shown_.size());
    for (const ShownMessage& m : shown_) texts.push_back(m.text);
    return texts;
}

MbAnswer ScriptedInteraction::MessageBox(std::string_view text, std::string_view caption, MbButtons buttons,
                                         MbIcon icon)
{
    return MessageBox(text, caption, buttons, icon, MbLabels{});
}

MbAnswer ScriptedInteraction::MessageBox(std::string_view text, std::string_view caption, MbButtons buttons,
                                         MbIcon icon, const MbLabels& labels)
{
    ShownMessage shown;
    shown.text = std::string(text);
    shown.caption = std::string(caption);
    shown.buttons = buttons;
    shown.icon = icon;
    shown.yesLabel = std::string(labels.yes);
    shown.noLabel = std::string(labels.no);
    shown.okLabel = std::string(labels.ok);
    shown.cancelLabel = std::string(labels.cancel);

    if (!expected_.empty() && expected_.front().text == text) {
        const Expectation e = std::move(expected_.front());
        expected_.pop_front();
        if (e.caption && *e.caption != caption)
            ADD_FAILURE() << "Message box \"" << text << "\": caption \"" << caption << "\", expected \""
                          << *e.caption << "\"";
        if (e.buttons && *e.buttons != buttons)
            ADD_FAILURE() << "Message box \"" << text << "\": buttons " << Name(buttons) << ", expected "
                          << Name(*e.buttons);
        if (e.icon && *e.icon != icon)
            ADD_FAILURE() << "Message box \"" << text << "\": icon " << Name(icon) << ", expected "
                          << Name(*e.icon);
        if (Offers(buttons, e.answer)) {
            shown.answer = e.answer;
        } else {
            ADD_FAILURE() << "Message box \"" << text << "\": scripted answer " << Name(e.answer)
                          << " is not among its buttons " << Name(buttons);
            shown.answer = SafeAnswer(buttons);
        }
        shown.expected = true;
    } else if (buttons == MbButtons::Ok &&
               (allowOkBoxes_ || (allowInformation_ && (icon == MbIcon::None || icon == MbIcon::Information)))) {
        shown.answer = MbAnswer::Ok;
        shown.expected = true;
    } else {
        ADD_FAILURE() << "Unexpected message box: \"" << text << "\" (caption \"" << caption << "\", buttons "
                      << Name(buttons) << ", icon " << Name(icon) << "); "
                      << (expected_.empty() ? std::string("no more questions were expected")
                                            : "next expected: \"" + expected_.front().text + "\"")
                      << (buttons == MbButtons::Ok && allowInformation_
                              ? " (Ok-only warnings and errors need scripting even with AllowInformation)"
                              : "");
        shown.answer = SafeAnswer(buttons);
    }
    shown_.push_back(shown);
    return shown.answer;
}

std::unique_ptr<CProgressWnd> ScriptedInteraction::CreateProgress(bool savingLayout)
{
    auto window = std::make_unique<RecordingProgress>(savingLayout);
    const size_t index = progresses_.size();
    progresses_.push_back(window->Log());
    if (progressSetup_) progressSetup_(*window, index);
    return window;
}

MbAnswer ScriptedInteraction::SafeAnswer(MbButtons buttons)
{
    switch (buttons) {
    case MbButtons::OkCancel:
    case MbButtons::YesNoCancel:
        return MbAnswer::Cancel;
    case MbButtons::YesNo:
        return MbAnswer::No;
    case MbButtons::Ok:
        break;
    }
    return MbAnswer::Ok;
}

bool ScriptedInteraction::Offers(MbButtons buttons, MbAnswer answer)
{
    switch (buttons) {
    case MbButtons::Ok:
        return answer == MbAnswer::Ok;
    case MbButtons::OkCancel:
        return answer == MbAnswer::Ok || answer == MbAnswer::Cancel;
    case MbButtons::YesNo:
        return answer == MbAnswer::Yes || answer == MbAnswer::No;
    case MbButtons::YesNoCancel:
        return answer == MbAnswer::Yes || answer == MbAnswer::No || answer == MbAnswer::Cancel;
    }
    return false;
}

const char* ScriptedInteraction::Name(MbButtons buttons)
{
    switch (buttons) {
    case MbButtons::Ok: return "Ok";
    case MbButtons::OkCancel: return "OkCancel";
    case MbButtons::YesNo: return "YesNo";
    case MbButtons::YesNoCancel: return "YesNoCancel";
    }
    return "?";
}

const char* ScriptedInteraction::Name(MbAnswer answer)
{
    switch (answer) {
    case MbAnswer::Ok: return "Ok";
    case MbAnswer::Cancel: return "Cancel";
    case MbAnswer::Yes: return "Yes";
    case MbAnswer::No: return "No";
    }
    return "?";
}

const char* ScriptedInteraction::Name(MbIcon icon)
{
    switch (icon) {
    case MbIcon::None: return "None";
    case MbIcon::Information: return "Information";
    case MbIcon::Warning: return "Warning";
    case MbIcon::Error: return "Error";
    case MbIcon::Question: return "Question";
    }
    return "?";
}

}  // namespace kelvane::test
