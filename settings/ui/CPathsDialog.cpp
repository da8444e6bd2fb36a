#include "CPathsDialog.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QVBoxLayout>

namespace kelvane {

namespace {

QString Chosen(QWidget* parent, const QString& title)
{
    QString folder = QFileDialog::getExistingDirectory(
        parent, title, QStandardPaths::writableLocation(QStandardPaths::DesktopLocation));
    while (folder.size() > 1 && (folder.endsWith('/') || folder.endsWith('\\'))) folder.chop(1);
    return folder;
}

}  // namespace

CPathsDialog::CPathsDialog(ISettingsStore& store, QWidget* parent) : QDialog(parent), store_(store)
{
    setObjectName("selectFilePaths");
    setWindowTitle("Select File Paths");
    auto* layout = new QVBoxLayout(this);

    auto* tempGroup = new QGroupBox("Folder for Temporary Files", this);
    auto* tg = new QGridLayout(tempGroup);
    // The system's own temporary folder stands where Windows' TEMP did.
    tempSystem_ = new QRadioButton("Use System TEMP Folder", tempGroup);
    tempSame_ = new QRadioButton("Use Same Folder as Input File", tempGroup);
    tempUser_ = new QRadioButton("User Defined", tempGroup);
    tempField_ = new QLineEdit(tempGroup);
    tempBrowse_ = new QPushButton("Browse...", tempGroup);
    tg->addWidget(tempSystem_, 0, 0);
    tg->addWidget(tempSame_, 1, 0);
    tg->addWidget(tempUser_, 2, 0);
    tg->addWidget(tempField_, 3, 0);
    tg->addWidget(tempBrowse_, 3, 1);
    layout->addWidget(tempGroup);

    auto* outGroup = new QGroupBox("Folder for Output Files", this);
    auto* og = new QGridLayout(outGroup);
    outSame_ = new QRadioButton("Use Same Folder as Input File", outGroup);
    outUser_ = new QRadioButton("User Defined", outGroup);
    outField_ = new QLineEdit(outGroup);
    outBrowse_ = new QPushButton("Browse...", outGroup);
    og->addWidget(outSame_, 0, 0);
    og->addWidget(outUser_, 1, 0);
    og->addWidget(outField_, 2, 0);
    og->addWidget(outBrowse_, 2, 1);
    layout->addWidget(outGroup);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    ok_ = buttons->button(QDialogButtonBox::Ok);
    connect(buttons, &QDialogButtonBox::accepted, this, &CPathsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    userTemp_ = QString::fromStdString(store_.Get(settings::TempPath));
    const int mode = store_.Get(settings::TempMode);
    (mode == settings::kTempModeSameFolder ? tempSame_ : mode == settings::kTempModeUser ? tempUser_ : tempSystem_)
        ->setChecked(true);
    const QString output = QString::fromStdString(store_.Get(settings::OutputPath));
    (output.isEmpty() ? outSame_ : outUser_)->setChecked(true);
    outField_->setText(output);

    for (QRadioButton* b : {tempSystem_, tempSame_, tempUser_, outSame_, outUser_})
        connect(b, &QRadioButton::toggled, this, &CPathsDialog::Refresh);
    connect(tempField_, &QLineEdit::textEdited, this, [this](const QString& t) {
        userTemp_ = t;
        Refresh();
    });
    connect(outField_, &QLineEdit::textEdited, this, &CPathsDialog::Refresh);
    connect(tempBrowse_, &QPushButton::clicked, this, [this] {
        const QString f = Chosen(this, "Select a folder for temporary files");
        if (f.isEmpty()) return;
        userTemp_ = f;
        Refresh();
    });
    connect(outBrowse_, &QPushButton::clicked, this, [this] {
        const QString f = Chosen(this, "Select a folder for Kelvane's Output files");
        if (f.isEmpty()) return;
        outField_->setText(f);
        Refresh();
    });
    Refresh();
}

void CPathsDialog::Refresh()
{
    const bool user = tempUser_->isChecked();
    if (tempSystem_->isChecked()) tempField_->setText(QDir::toNativeSeparators(QDir::tempPath()));
    else if (tempSame_->isChecked()) tempField_->setText(QDir::toNativeSeparators(QDir::currentPath()));
    else tempField_->setText(userTemp_);
    tempField_->setReadOnly(!user);
    tempBrowse_->setEnabled(user);
    const bool outUser = outUser_->isChecked();
    outField_->setEnabled(outUser);
    outBrowse_->setEnabled(outUser);
    if (!outUser) outField_->clear();
    ok_->setEnabled(OkEnabled());
}

bool CPathsDialog::OkEnabled() const
{
    return !tempField_->text().isEmpty() && (!outUser_->isChecked() || !outField_->text().isEmpty());
}

void CPathsDialog::accept()
{
    if (!OkEnabled()) return;
    {
        ISettingsStore::Batch batch(store_);
        const int mode = tempSame_->isChecked() ? settings::kTempModeSameFolder
                         : tempUser_->isChecked() ? settings::kTempModeUser
                                                  : settings::kTempModeSystem;
        store_.Set(settings::TempMode, mode);
        if (mode == settings::kTempModeUser) store_.Set(settings::TempPath, tempField_->text().toStdString());
        store_.Set(settings::OutputPath, outUser_->isChecked() ? outField_->text().toStdString() : std::string());
    }
    QDialog::accept();
}

}  // namespace kelvane
