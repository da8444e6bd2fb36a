#pragma once
// "Tip of the Day": one tip from the tips file, "Next Tip" for the one after
// it, and the "Show tips at startup" check. Where the next tip starts and
// the check are stored when the dialog closes, however it closes.

#include "settings/CTipFile.h"

#include <QDialog>

#include <cstdint>

class QCheckBox;
class QLabel;
class QPushButton;

namespace kelvane {

class ISettingsStore;

class CTipDialog : public QDialog {
    Q_OBJECT
public:
    // The program's own tips file, compiled into it.
    static QString TipsText();

    CTipDialog(ISettingsStore& store, const QString& tips, QWidget* parent = nullptr);

    QLabel* TipLabel() const { return tip_; }
    QCheckBox* StartupBox() const { return startup_; }
    QPushButton* NextButton() const { return next_; }
    QPushButton* CloseButton() const { return close_; }

    void done(int result) override;

private:
    void ShowNext();

    ISettingsStore& store_;
    CTipFile file_;
    int64_t nextPos_ = 0;
    QLabel* tip_ = nullptr;
    QCheckBox* startup_ = nullptr;
    QPushButton* next_ = nullptr;
    QPushButton* close_ = nullptr;
};

}  // namespace kelvane
