#include "CQtInteraction.h"

#include "app/CQtProgressWnd.h"

#include <QMessageBox>
#include <QPushButton>

namespace kelvane {

namespace {

QMessageBox::Icon ToQtIcon(MbIcon icon)
{
    switch (icon) {
    case MbIcon::Information: return QMessageBox::Information;
    case MbIcon::Warning: return QMessageBox::Warning;
    case MbIcon::Error: return QMessageBox::Critical;
    case MbIcon::Question: return QMessageBox::Question;
    case MbIcon::None: break;
    }
    return QMessageBox::NoIcon;
}

std::vector<MbAnswer> Offered(MbButtons buttons)
{
    switch (buttons) {
    case MbButtons::Ok: return {MbAnswer::Ok};
    case MbButtons::OkCancel: return {MbAnswer::Ok, MbAnswer::Cancel};
    case MbButtons::YesNo: return {MbAnswer::Yes, MbAnswer::No};
    case MbButtons::YesNoCancel: return {MbAnswer::Yes, MbAnswer::No, MbAnswer::Cancel};
    }
    return {MbAnswer::Ok};
}

QString UsualWord(MbAnswer a)
{
    switch (a) {
    case MbAnswer::Ok: return "OK";
    case MbAnswer::Cancel: return "Cancel";
    case MbAnswer::Yes: return "&Yes";
    case MbAnswer::No: return "&No";
    }
    return {};
}

QMessageBox::ButtonRole Role(MbAnswer a)
{
    switch (a) {
    case MbAnswer::Ok: return QMessageBox::AcceptRole;
    case MbAnswer::Cancel: return QMessageBox::RejectRole;
    case MbAnswer::Yes: return QMessageBox::YesRole;
    case MbAnswer::No: return QMessageBox::NoRole;
    }
    return QMessageBox::AcceptRole;
}

}  // namespace

MbAnswer CQtInteraction::DefaultAnswer(MbButtons buttons) { return Offered(buttons).front(); }

MbAnswer CQtInteraction::MessageBox(std::string_view text, std::string_view caption, MbButtons buttons, MbIcon icon)
{
    return MessageBox(text, caption, buttons, icon, MbLabels{});
}

MbAnswer CQtInteraction::MessageBox(std::string_view text, std::string_view caption, MbButtons buttons, MbIcon icon,
                                   const MbLabels& labels)
{
    asked_.push_back({std::string(text), std::string(caption), buttons, icon});
    if (answerer_)
        if (std::optional<MbAnswer> answer = answerer_(asked_.back())) return *answer;

    QMessageBox box(ToQtIcon(icon), QString::fromUtf8(caption.data(), static_cast<int>(caption.size())),
                    QString::fromUtf8(text.data(), static_cast<int>(text.size())), QMessageBox::NoButton,
                    window_);
    std::vector<std::pair<QPushButton*, MbAnswer>> made;
    for (MbAnswer a : Offered(buttons)) {
        const std::string_view label = labels.For(a);
        QPushButton* b = box.addButton(label.empty() ? UsualWord(a) : QString::fromUtf8(label.data(), static_cast<int>(label.size())), Role(a));
        made.emplace_back(b, a);
    }
    box.setDefaultButton(made.front().first);
    // Escape answers with the box's way out: Cancel, else No, else OK.
    for (MbAnswer out : {MbAnswer::Cancel, MbAnswer::No, MbAnswer::Ok}) {
        auto it = std::find_if(made.begin(), made.end(), [&](const auto& m) { return m.second == out; });
        if (it != made.end()) {
            box.setEscapeButton(it->first);
            break;
        }
    }
    box.exec();
    for (const auto& [button, answer] : made)
        if (box.clickedButton() == button) return answer;
    return Offered(buttons).back();
}

std::unique_ptr<CProgressWnd> CQtInteraction::CreateProgress(bool savingLayout)
{
    auto progress = std::make_unique<CQtProgressWnd>(window_, savingLayout);
    if (progressHook_) progressHook_(*progress);
    return progress;
}

}  // namespace kelvane
