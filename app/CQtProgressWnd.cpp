#include "CQtProgressWnd.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>

namespace kelvane {

namespace {

constexpr int kTextIndent = 12;
constexpr int kTextWidth = 500;

void DrawDone(QPainter& p, int y)
{
    p.setPen(QPen(QColor(0, 140, 0), 2));
    p.drawLine(1, y + 7, 4, y + 11);
    p.drawLine(4, y + 11, 9, y + 3);
}

void DrawCurrent(QPainter& p, int y)
{
    QPainterPath arrow;
    arrow.moveTo(1, y + 3);
    arrow.lineTo(9, y + 7);
    arrow.lineTo(1, y + 11);
    arrow.closeSubpath();
    p.fillPath(arrow, QColor(0, 0, 192));
}

void DrawMark(QPainter& p, int y)
{
    p.setPen(QPen(QColor(200, 0, 0), 2));
    p.drawLine(1, y + 3, 9, y + 11);
    p.drawLine(9, y + 3, 1, y + 11);
}

}  // namespace

CTaskList::CTaskList(const CProgressWnd& progress, QWidget* parent) : QWidget(parent), progress_(progress)
{
    setObjectName("taskList");
}

QSize CTaskList::sizeHint() const { return {kTextIndent + 300, kRowHeight * CProgressWnd::kShownStages}; }

void CTaskList::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const int current = progress_.CurrentStage();
    const int marked = progress_.MarkedStage();
    for (int i = 0; i < CProgressWnd::kShownStages; ++i) {
        const int y = i * kRowHeight;
        if (i == current) DrawCurrent(p, y);
        else if (current >= 0 && i < current) DrawDone(p, y);
        if (i == marked) DrawMark(p, y);
        QFont font = this->font();
        font.setBold(i == current);
        p.setFont(font);
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(QRect(kTextIndent, y, kTextWidth, kRowHeight), Qt::AlignLeft | Qt::AlignVCenter,
                   QString::fromStdString(progress_.StageName(i)));
    }
}

CQtProgressWnd::CQtProgressWnd(QWidget* owner, bool savingLayout) : owner_(owner ? owner->window() : nullptr)
{
    SetSavingLayout(savingLayout);
    // Not a child of the main window: a disabled parent would disable it too.
    dialog_ = new QDialog(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowMinimizeButtonHint);
    dialog_->setObjectName(savingLayout ? "savingProgress" : "progress");
    dialog_->setWindowTitle(QString::fromStdString(Caption()));
    dialog_->setAttribute(Qt::WA_DeleteOnClose, false);
    auto* layout = new QVBoxLayout(dialog_);
    bar_ = new QProgressBar(dialog_);
    bar_->setTextVisible(false);
    bar_->setRange(RangeLow(), RangeHigh());
    percent_ = new QLabel(QString::fromStdString(Percent()), dialog_);
    percent_->setObjectName("percent");
    message_ = new QLabel(dialog_);
    message2_ = new QLabel(dialog_);
    tasks_ = new CTaskList(*this, dialog_);
    cancel_ = new QPushButton("Cancel", dialog_);
    connect(cancel_, &QPushButton::clicked, this, [this] { RequestCancel(); });
    auto* barRow = new QHBoxLayout;
    barRow->addWidget(bar_, 1);
    barRow->addWidget(percent_);
    if (savingLayout) {
        layout->addWidget(message_);
        layout->addWidget(message2_);
        layout->addLayout(barRow);
        layout->addWidget(tasks_);
    } else {
        layout->addWidget(tasks_);
        layout->addLayout(barRow);
        layout->addWidget(message_);
        layout->addWidget(message2_);
    }
    layout->addWidget(cancel_, 0, Qt::AlignRight);
    dialog_->resize(420, dialog_->sizeHint().height());
    if (savingLayout) SetCaption("Saving Tracks");

    if (owner_ && owner_->isEnabled()) {
        owner_->setEnabled(false);
        ownerDisabled_ = true;
    }
    if (owner_) {
        owner_->installEventFilter(this);
        dialog_->winId();
        if (QWindow* w = dialog_->windowHandle()) w->setTransientParent(owner_->windowHandle());
        const QRect frame = owner_->geometry();
        dialog_->move(frame.center() - QPoint(dialog_->width() / 2, dialog_->height() / 2));
    }
    dialog_->installEventFilter(this);
    dialog_->show();
    sincePump_.start();
}

CQtProgressWnd::~CQtProgressWnd()
{
    if (owner_) owner_->removeEventFilter(this);
    if (ownerDisabled_ && owner_) owner_->setEnabled(true);
    dialog_->hide();
    delete dialog_;
}

void CQtProgressWnd::Pump()
{
    const qint64 gap = sincePump_.restart();
    if (pumps_ > 0) longestGap_ = std::max(longestGap_, gap);
    ++pumps_;
    // Only dispatches: the main window is disabled, so nothing the user
    // does here can start another operation.
    QApplication::processEvents(QEventLoop::AllEvents);
    if (afterPump) afterPump(*this);
}

void CQtProgressWnd::Changed(Field field)
{
    switch (field) {
    case Field::Caption: dialog_->setWindowTitle(QString::fromStdString(Caption())); break;
    case Field::Range: bar_->setRange(RangeLow(), std::max(RangeHigh(), RangeLow())); break;
    case Field::Pos: bar_->setValue(std::clamp(Pos(), bar_->minimum(), bar_->maximum())); break;
    case Field::Percent: percent_->setText(QString::fromStdString(Percent())); break;
    case Field::Message: message_->setText(QString::fromStdString(Message())); break;
    case Field::Message2: message2_->setText(QString::fromStdString(Message2())); break;
    case Field::Stages: tasks_->repaint(); break;
    case Field::CancelButton: cancel_->setEnabled(CancelEnabled()); break;
    }
}

bool CQtProgressWnd::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::WindowStateChange) {
        if (watched == dialog_ && dialog_->isMinimized()) {
            dialog_->hide();
            if (owner_) owner_->showMinimized();
        } else if (watched == owner_ && !owner_->isMinimized() && dialog_->isHidden()) {
            dialog_->showNormal();
        }
    }
    return false;
}

}  // namespace kelvane
