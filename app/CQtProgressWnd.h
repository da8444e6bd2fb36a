#pragma once
// The progress window on the desktop: a modeless window with the caption,
// the bar, the percentage, two message lines, the task list and Cancel. It
// disables the main window while it lives, so no second operation can start,
// and lets the event loop run each time the operation pumps, so the windows
// repaint and Cancel can be pressed. Minimising it minimises the main window;
// restoring the main window brings it back.

#include "document/CProgressWnd.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QWidget>

#include <functional>

class QDialog;
class QLabel;
class QProgressBar;
class QPushButton;

namespace kelvane {

// The five stage rows: the current one bold with the current icon, the
// stages before it with the done icon, the marked one with the mark icon.
class CTaskList : public QWidget {
    Q_OBJECT
public:
    static constexpr int kRowHeight = 15;
    explicit CTaskList(const CProgressWnd& progress, QWidget* parent = nullptr);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const CProgressWnd& progress_;
};

class CQtProgressWnd final : public QObject, public CProgressWnd {
    Q_OBJECT
public:
    CQtProgressWnd(QWidget* owner, bool savingLayout);
    ~CQtProgressWnd() override;

    QDialog* Dialog() const { return dialog_; }
    QPushButton* CancelButton() const { return cancel_; }
    CTaskList* TaskList() const { return tasks_; }
    QLabel* PercentLabel() const { return percent_; }

    // Called after every pump (tests press Cancel from here).
    std::function<void(CQtProgressWnd&)> afterPump;
    // The longest time between two pumps so far, in milliseconds: how long
    // the window went without repainting.
    qint64 LongestGapMs() const { return longestGap_; }
    int Pumps() const { return pumps_; }

protected:
    void Pump() override;
    void Changed(Field field) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QWidget> owner_;
    bool ownerDisabled_ = false;
    QDialog* dialog_ = nullptr;
    QProgressBar* bar_ = nullptr;
    QLabel* percent_ = nullptr;
    QLabel* message_ = nullptr;
    QLabel* message2_ = nullptr;
    CTaskList* tasks_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QElapsedTimer sincePump_;
    qint64 longestGap_ = 0;
    int pumps_ = 0;
};

}  // namespace kelvane
