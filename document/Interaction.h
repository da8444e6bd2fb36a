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

class IInteraction {
public:
    virtual ~IInteraction() = default;

    // Shows text (fixed, as the core wrote it) under caption and returns the
    // button chosen. Implementations must return one of the offered buttons.
    virtual MbAnswer MessageBox(std::string_view text, std::string_view caption,
                                MbButtons buttons, MbIcon icon) = 0;

    // A new progress window for one long operation (or one chain of them).
    // savingLayout selects the "Saving Tracks" layout.
    virtual std::unique_ptr<CProgressWnd> CreateProgress(bool savingLayout) = 0;
};

// The caption of the application's own message boxes.
inline constexpr std::string_view kAppCaption = "Kelvane";

}  // namespace kelvane
