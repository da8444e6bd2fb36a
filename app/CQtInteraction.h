#pragma once
// The desktop's side of the interaction interface: message boxes with the
// core's fixed texts, captions, buttons and icons, parented to the main
// window, and the modeless progress window. A test or a screenshot run can
// put an answerer in front of the boxes; every question is still recorded.

#include "document/Interaction.h"

#include <QPointer>
#include <QWidget>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kelvane {

class CQtProgressWnd;

class CQtInteraction final : public IInteraction {
public:
    struct Question {
        std::string text, caption;
        MbButtons buttons = MbButtons::Ok;
        MbIcon icon = MbIcon::None;
    };
    // Returns the answer, or nothing to show the box after all.
    using Answerer = std::function<std::optional<MbAnswer>(const Question&)>;
    using ProgressHook = std::function<void(CQtProgressWnd&)>;

    void SetMainWindow(QWidget* window) { window_ = window; }
    void SetAnswerer(Answerer answerer) { answerer_ = std::move(answerer); }
    // Called with every progress window once it is shown.
    void OnProgressCreated(ProgressHook hook) { progressHook_ = std::move(hook); }
    const std::vector<Question>& Asked() const { return asked_; }

    // The button a box offers first, which Enter chooses.
    static MbAnswer DefaultAnswer(MbButtons buttons);

    MbAnswer MessageBox(std::string_view text, std::string_view caption, MbButtons buttons, MbIcon icon) override;
    MbAnswer MessageBox(std::string_view text, std::string_view caption, MbButtons buttons, MbIcon icon,
                        const MbLabels& labels) override;
    std::unique_ptr<CProgressWnd> CreateProgress(bool savingLayout) override;

private:
    QPointer<QWidget> window_;
    Answerer answerer_;
    ProgressHook progressHook_;
    std::vector<Question> asked_;
};

}  // namespace kelvane
