#pragma once
// The track strip: the whole recording (or the chosen track) as level bars
// in the track colours, the events as ticks by colour class, the optional
// signature line and the current-event cursor. It paints from the block
// levels the load pass stored and never reads audio. A click makes the
// nearest event current; a drag marks a block.

#include "document/CQuillon3Doc.h"

#include <QPixmap>
#include <QWidget>

class QMenu;
class QRadioButton;

namespace kelvane {

class CQuillon3View : public QWidget, public IDocObserver {
    Q_OBJECT
public:
    explicit CQuillon3View(CQuillon3Doc& doc, QWidget* parent = nullptr);
    ~CQuillon3View() override;

    // The strip's context menu ("Play Track From Start", ...), owned by the frame.
    void SetContextMenu(QMenu* menu) { contextMenu_ = menu; }
    // Renders the strip as it would paint now (for benchmarks and tests).
    QPixmap Render(QSize size) const;

    void OnDocReset() override { update(); }
    void OnDocUpdate() override;
    void OnTracksChanged() override { OnDocUpdate(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void LayoutBar();
    void ChooseTrack(int32_t track);
    int32_t ShownTrack() const;

    CQuillon3Doc& doc_;
    QWidget* bar_ = nullptr;
    QRadioButton* allTracks_ = nullptr;
    QRadioButton* oneTrack_ = nullptr;
    QMenu* contextMenu_ = nullptr;
    int dragStart_ = -1;
    int dragEnd_ = -1;
};

}  // namespace kelvane
