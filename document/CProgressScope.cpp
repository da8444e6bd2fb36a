#include "CProgressScope.h"

#include "document/CQuillon3Doc.h"
#include "document/Interaction.h"

namespace kelvane {

CProgressScope::CProgressScope(CQuillon3Doc& doc) : doc_(doc)
{
    window_ = doc.progress;
    if (!window_) {
        owned_ = doc.Ui().CreateProgress(false);
        // The base window draws nothing and is never cancelled.
        if (!owned_) owned_ = std::make_unique<CProgressWnd>();
        window_ = owned_.get();
        doc.progress = window_;
    }
}

CProgressScope::~CProgressScope()
{
    if (owned_ && doc_.progress == owned_.get()) doc_.progress = nullptr;
}

bool CProgressScope::CancelPressed() const
{
    return kelvane::CancelPressed(*window_);
}

bool CProgressScope::CancelConfirmed(std::string_view question) const
{
    return kelvane::CancelConfirmed(doc_.Ui(), *window_, question);
}

bool CancelPressed(CProgressWnd& window)
{
    return window.CancelEnabled() && window.Cancelled();
}

bool CancelConfirmed(IInteraction& ui, CProgressWnd& window, std::string_view question)
{
    return CancelPressed(window) &&
           ui.MessageBox(question, kAppCaption, MbButtons::YesNo, MbIcon::Question) == MbAnswer::Yes;
}

}  // namespace kelvane
