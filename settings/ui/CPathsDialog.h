#pragma once
// "Select File Paths": where the working files go ("Temp Mode", "Temp Path")
// and where saved tracks go ("Output Path"). On OK the choices are stored in
// one save.

#include "settings/SettingsStore.h"

#include <QDialog>

class QLineEdit;
class QPushButton;
class QRadioButton;

namespace kelvane {

class CPathsDialog : public QDialog {
    Q_OBJECT
public:
    CPathsDialog(ISettingsStore& store, QWidget* parent = nullptr);

    // OK is offered only while the temporary folder is named and, with a
    // user-defined output folder, that one too.
    bool OkEnabled() const;

    QRadioButton* SystemTempButton() const { return tempSystem_; }
    QRadioButton* SameFolderButton() const { return tempSame_; }
    QRadioButton* UserTempButton() const { return tempUser_; }
    QLineEdit* TempField() const { return tempField_; }
    QRadioButton* OutputSameButton() const { return outSame_; }
    QRadioButton* OutputUserButton() const { return outUser_; }
    QLineEdit* OutputField() const { return outField_; }

    void accept() override;

private:
    void Refresh();

    ISettingsStore& store_;
    QString userTemp_;
    QRadioButton* tempSystem_ = nullptr;
    QRadioButton* tempSame_ = nullptr;
    QRadioButton* tempUser_ = nullptr;
    QLineEdit* tempField_ = nullptr;
    QPushButton* tempBrowse_ = nullptr;
    QRadioButton* outSame_ = nullptr;
    QRadioButton* outUser_ = nullptr;
    QLineEdit* outField_ = nullptr;
    QPushButton* outBrowse_ = nullptr;
    QPushButton* ok_ = nullptr;
};

}  // namespace kelvane
