#include "cli/TerminalInteraction.h"

#include "cli/TerminalText.h"

#include <iostream>

namespace kelvane {

CTerminalInteraction::CTerminalInteraction() : CTerminalInteraction(Options{}) {}

CTerminalInteraction::CTerminalInteraction(Options options)
    : options_(std::move(options)),
      out_(options_.out ? options_.out : &std::cerr),
      slot_(std::make_shared<CTerminalProgress::LineSlot>())
{
    // Keys are compared the way texts are: without trailing line breaks, so a
    // caller need not copy the core's "\n" exactly.
    std::map<std::string, MbAnswer, std::less<>> trimmed;
    for (auto& [text, answer] : options_.answers) trimmed[std::string(TrimEnd(text))] = answer;
    options_.answers = std::move(trimmed);
}

std::string_view CTerminalInteraction::TrimEnd(std::string_view text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
    return text;
}

bool CTerminalInteraction::Offers(MbButtons buttons, MbAnswer answer)
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

std::string_view CTerminalInteraction::AnswerName(MbAnswer answer)
{
    switch (answer) {
    case MbAnswer::Ok:
        return "Ok";
    case MbAnswer::Cancel:
        return "Cancel";
    case MbAnswer::Yes:
        return "Yes";
    case MbAnswer::No:
        return "No";
    }
    return "?";
}

MbAnswer CTerminalInteraction::DefaultFor(MbButtons buttons) const
{
    const Defaults& d = options_.defaults;
    switch (buttons) {
    case MbButtons::Ok:
        return MbAnswer::Ok;
    case MbButtons::OkCancel:
        return Offers(buttons, d.okCancel) ? d.okCancel : MbAnswer::Cancel;
    case MbButtons::YesNo:
        return Offers(buttons, d.yesNo) ? d.yesNo : MbAnswer::No;
    case MbButtons::YesNoCancel:
        return Offers(buttons, d.yesNoCancel) ? d.yesNoCancel : MbAnswer::Cancel;
    }
    return MbAnswer::Cancel;
}

MbAnswer CTerminalInteraction::Decide(std::string_view text, MbButtons buttons) const
{
    if (buttons == MbButtons::Ok) return MbAnswer::Ok;
    auto it = options_.answers.find(TrimEnd(text));
    if (it != options_.answers.end() && Offers(buttons, it->second)) return it->second;
    if (options_.policy) {
        std::optional<MbAnswer> chosen = options_.policy(text, buttons);
        if (chosen && Offers(buttons, *chosen)) return *chosen;
    }
    return DefaultFor(buttons);
}

MbAnswer CTerminalInteraction::MessageBox(std::string_view text, std::string_view caption, MbButtons buttons,
                                          MbIcon icon)
{
    return MessageBox(text, caption, buttons, icon, MbLabels{});
}

MbAnswer CTerminalInteraction::MessageBox(std::string_view text, std::string_view caption, MbButtons buttons,
                                          MbIcon icon, const MbLabels& labels)
{
    MbAnswer answer = Decide(text, buttons);
    shown_.push_back(Shown{std::string(text), std::string(caption), buttons, icon, answer});

    std::string line(kPrefix);
    // The core's texts carry file names and tags: shown, never obeyed.
    line += Printable(TrimEnd(text), true);
    if (buttons != MbButtons::Ok) {
        line += " -> ";
        line += labels.For(answer).empty() ? AnswerName(answer) : labels.For(answer);
    }
    line += '\n';
    if (slot_->live) slot_->live->Suspend();
    out_->write(line.data(), static_cast<std::streamsize>(line.size()));
    out_->flush();
    return answer;
}

std::unique_ptr<CProgressWnd> CTerminalInteraction::CreateProgress(bool savingLayout)
{
    CTerminalProgress::Options progress = options_.progress;
    progress.out = options_.out;  // null keeps the real stderr, with its terminal checks
    progress.slot = slot_;
    auto window = std::make_unique<CTerminalProgress>(std::move(progress));
    window->SetSavingLayout(savingLayout);
    return window;
}

std::optional<std::string> CTerminalInteraction::LastError() const
{
    for (auto it = shown_.rbegin(); it != shown_.rend(); ++it) {
        if (it->icon == MbIcon::Error) return std::string(TrimEnd(it->text));
    }
    return std::nullopt;
}

}  // namespace kelvane
