#include "CTipDialog.h"

#include "settings/SettingsStore.h"

#include <QCheckBox>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace kelvane {

QString CTipDialog::TipsText()
{
    QFile file(":/tips.txt");
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(file.readAll());
}

CTipDialog::CTipDialog(ISettingsStore& store, const QString& tips, QWidget* parent)
    : QDialog(parent), store_(store), file_(tips.toStdString())
{
    setObjectName("tipOfTheDay");
    setWindowTitle("Tip of the Day");
    auto* layout = new QVBoxLayout(this);
    auto* heading = new QLabel("Did you know...", this);
    QFont bold = heading->font();
    bold.setBold(true);
    if (bold.pointSizeF() > 0) bold.setPointSizeF(bold.pointSizeF() * 1.3);
    heading->setFont(bold);
    layout->addWidget(heading);
    tip_ = new QLabel(this);
    tip_->setObjectName("tip");
    tip_->setWordWrap(true);
    tip_->setMinimumSize(360, 80);
    tip_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    tip_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    tip_->setMargin(8);
    layout->addWidget(tip_, 1);
    auto* row = new QHBoxLayout;
    startup_ = new QCheckBox("Show tips at startup", this);
    startup_->setChecked(TipsShownAtStartup(store_));
    next_ = new QPushButton("Next Tip", this);
    close_ = new QPushButton("Close", this);
    close_->setDefault(true);
    row->addWidget(startup_, 1);
    row->addWidget(next_);
    row->addWidget(close_);
    layout->addLayout(row);
    connect(next_, &QPushButton::clicked, this, &CTipDialog::ShowNext);
    connect(close_, &QPushButton::clicked, this, &QDialog::accept);

    nextPos_ = store_.Get(settings::TipFilePos);
    ShowNext();
    // A tips file without a tip leaves nothing to step through.
    next_->setEnabled(file_.TipAt(0).has_value());
}

void CTipDialog::ShowNext()
{
    const std::optional<CTipFile::Tip> tip = file_.TipAt(nextPos_);
    if (!tip) {
        tip_->setText("There are no tips to show.");
        nextPos_ = 0;
        return;
    }
    tip_->setText(QString::fromStdString(tip->text));
    nextPos_ = tip->next;
}

void CTipDialog::done(int result)
{
    StoreTipState(store_, startup_->isChecked(), nextPos_);
    QDialog::done(result);
}

}  // namespace kelvane
