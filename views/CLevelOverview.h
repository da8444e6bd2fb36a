#pragma once
// Where the waveform view will stand: the recording's envelope at the width
// of the pane, from the stored per-block minima and maxima, with the current
// event and the marked block. A click makes the nearest event current.

#include "document/CQuillon3Doc.h"

#include <QWidget>

namespace kelvane {

class CLevelOverview : public QWidget, public IDocObserver {
    Q_OBJECT
public:
    explicit CLevelOverview(CQuillon3Doc& doc, QWidget* parent = nullptr);
    ~CLevelOverview() override;

    void OnDocReset() override { update(); }
    void OnDocUpdate() override { update(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    CQuillon3Doc& doc_;
};

}  // namespace kelvane
