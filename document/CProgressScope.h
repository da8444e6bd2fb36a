#pragma once
// The progress window an operation reports to: the one already running for
// the document (a chain of operations shares one), or one made for this
// operation alone, installed as the document's while it lasts.

#include "document/CProgressWnd.h"

#include <memory>

namespace kelvane {

class CQuillon3Doc;

class CProgressScope {
public:
    explicit CProgressScope(CQuillon3Doc& doc);
    ~CProgressScope();
    CProgressScope(const CProgressScope&) = delete;
    CProgressScope& operator=(const CProgressScope&) = delete;

    // Null only when the front end offers no progress window at all.
    CProgressWnd* get() const { return window_; }
    bool Owned() const { return owned_ != nullptr; }

private:
    CQuillon3Doc& doc_;
    std::unique_ptr<CProgressWnd> owned_;
    CProgressWnd* window_ = nullptr;
};

}  // namespace kelvane
