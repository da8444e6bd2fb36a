#include "CProgressScope.h"

#include "document/CQuillon3Doc.h"
#include "document/Interaction.h"

namespace kelvane {

CProgressScope::CProgressScope(CQuillon3Doc& doc) : doc_(doc)
{
    window_ = doc.progress;
    if (!window_) {
        owned_ = doc.Ui().CreateProgress(false);
        window_ = owned_.get();
        doc.progress = window_;
    }
}

CProgressScope::~CProgressScope()
{
    if (owned_ && doc_.progress == owned_.get()) doc_.progress = nullptr;
}

}  // namespace kelvane
