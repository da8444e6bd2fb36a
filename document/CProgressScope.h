#pragma once
// The progress window an operation reports to: the one already running for
// the document (a chain of operations shares one), or one made for this
// operation alone, installed as the document's while it lasts. When the
// front end offers no window, a silent one stands in, so an operation never
// has to ask whether it has a progress window.

#include "document/CProgressWnd.h"

#include <memory>
#include <string_view>

namespace kelvane {

class CQuillon3Doc;
class IInteraction;

class CProgressScope {
public:
    explicit CProgressScope(CQuillon3Doc& doc);
    ~CProgressScope();
    CProgressScope(const CProgressScope&) = delete;
    CProgressScope& operator=(const CProgressScope&) = delete;

    CProgressWnd& Window() const { return *window_; }
    CProgressWnd* operator->() const { return window_; }
    // Never null.
    CProgressWnd* get() const { return window_; }
    bool Owned() const { return owned_ != nullptr; }

    // CancelPressed and CancelConfirmed below, on this window.
    bool CancelPressed() const;
    bool CancelConfirmed(std::string_view question) const;

private:
    CQuillon3Doc& doc_;
    std::unique_ptr<CProgressWnd> owned_;
    CProgressWnd* window_ = nullptr;
};

// Whether the user pressed Cancel since the last test (the flag is cleared).
// While the Cancel button is disabled the flag is not looked at: a press that
// comes meanwhile (an interrupt of the batch tool) waits for an operation
// that may be stopped.
bool CancelPressed(CProgressWnd& window);
// CancelPressed, then the operation's question (Yes/No); true when the user
// chose to stop.
bool CancelConfirmed(IInteraction& ui, CProgressWnd& window, std::string_view question);

// Disables the Cancel button of a window while it lives, for a stretch that
// must not be stopped halfway; the button's state before comes back after.
class CCancelDisabled {
public:
    explicit CCancelDisabled(CProgressWnd& window) : window_(window), was_(window.CancelEnabled())
    {
        window_.EnableCancel(false);
    }
    ~CCancelDisabled() { window_.EnableCancel(was_); }
    CCancelDisabled(const CCancelDisabled&) = delete;
    CCancelDisabled& operator=(const CCancelDisabled&) = delete;

private:
    CProgressWnd& window_;
    bool was_;
};

}  // namespace kelvane
