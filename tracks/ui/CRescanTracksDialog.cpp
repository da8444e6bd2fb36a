#include "CRescanTracksDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace kelvane {

CRescanTracksDialog::CRescanTracksDialog(const RescanTracksRequest& initial, QWidget* parent) : QDialog(parent)
{
    setObjectName("rescanTracks");
    setWindowTitle(rescan::kTitle);
    auto* layout = new QVBoxLayout(this);
    autoDetect_ = new QRadioButton(rescan::kAutoDetect, this);
    userAssisted_ = new QRadioButton(rescan::kUserAssisted, this);
    removeAll_ = new QRadioButton(rescan::kRemoveAll, this);
    layout->addWidget(autoDetect_);
    auto* userRow = new QHBoxLayout;
    userRow->addWidget(userAssisted_);
    userRow->addStretch();
    userRow->addWidget(new QLabel(rescan::kTargetLabel, this));
    target_ = new QComboBox(this);
    for (int32_t n = rescan::kFirstTarget; n <= rescan::kLastTarget; ++n) target_->addItem(QString::number(n), n);
    userRow->addWidget(target_);
    layout->addLayout(userRow);
    layout->addWidget(removeAll_);
    gapless_ = new QCheckBox(rescan::kGaplessBox, this);
    layout->addWidget(gapless_);
    auto* note = new QLabel(rescan::kNote, this);
    note->setStyleSheet("color: red; background: white; padding: 4px");
    layout->addWidget(note);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(rescan::kScan, QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons->addButton(rescan::kCancel, QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    using Mode = RescanTracksRequest::Mode;
    (initial.mode == Mode::AutoDetect ? autoDetect_ : initial.mode == Mode::RemoveAll ? removeAll_ : userAssisted_)
        ->setChecked(true);
    target_->setCurrentIndex(std::max(0, target_->findData(initial.targetCount)));
    gapless_->setChecked(initial.gapless);
    auto enableTarget = [this] { target_->setEnabled(userAssisted_->isChecked()); };
    connect(userAssisted_, &QRadioButton::toggled, this, enableTarget);
    enableTarget();
}

RescanTracksRequest CRescanTracksDialog::Request() const
{
    RescanTracksRequest r;
    using Mode = RescanTracksRequest::Mode;
    r.mode = autoDetect_->isChecked() ? Mode::AutoDetect : removeAll_->isChecked() ? Mode::RemoveAll : Mode::UserAssisted;
    r.targetCount = target_->currentData().toInt();
    r.gapless = gapless_->isChecked();
    return r;
}

}  // namespace kelvane
