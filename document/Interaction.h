#pragma once
// The one way the core asks the user something. Every question and every
// failure report goes through MessageBox with a fixed text, so front ends and
// tests can recognise it; the core never shows anything itself.

#include <memory>
#include <string>
#include <string_view>

namespace kelvane {

class CProgressWnd;

enum class MbButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MbIcon { None, Information, Warning, Error, Question };
enum class MbAnswer { Ok, Cancel, Yes, No };

// The words on a box's buttons where the usual ones would not fit the
// question: Save Modified's Yes, No and Cancel read "Save", "Do Not Save" and
// "Cancel". An empty label leaves the button its usual word.
struct MbLabels {
    std::string_view yes{}, no{}, ok{}, cancel{};

    // The label of the button that gives `answer`; empty when it has none.
    constexpr std::string_view For(MbAnswer answer) const
    {
        switch (answer) {
        case MbAnswer::Yes: return yes;
        case MbAnswer::No: return no;
        case MbAnswer::Ok: return ok;
        case MbAnswer::Cancel: return cancel;
        }
        return {};
    }
};

class IInteraction {
public:
    virtual ~IInteraction() = default;

    // Shows text (fixed, as the core wrote it) under caption and returns the
    // button chosen. Implementations must return one of the offered buttons.
    virtual MbAnswer MessageBox(std::string_view text, std::string_view caption,
                                MbButtons buttons, MbIcon icon) = 0;
    // The same box with its buttons labelled. The answers are the buttons'
    // as ever; a front end that cannot label buttons shows the usual ones.
    virtual MbAnswer MessageBox(std::string_view text, std::string_view caption, MbButtons buttons, MbIcon icon,
                                const MbLabels& /*labels*/)
    {
        return MessageBox(text, caption, buttons, icon);
    }

    // A new progress window for one long operation (or one chain of them).
    // savingLayout selects the "Saving Tracks" layout.
    virtual std::unique_ptr<CProgressWnd> CreateProgress(bool savingLayout) = 0;
};

// The caption of the application's own message boxes.
inline constexpr std::string_view kAppCaption = "Kelvane";

// A fixed text with its (first) "%s" replaced by value: how the messages
// that name a file or a drive are made. A text without one stays as it is.
inline std::string WithText(std::string_view pattern, std::string_view value)
{
    std::string text(pattern);
    const size_t at = text.find("%s");
    if (at != std::string::npos) text.replace(at, 2, value);
    return text;
}

}  // namespace kelvane
