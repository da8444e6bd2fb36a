#pragma once
// The boundary fade display: while the current record is a track boundary,
// the fade (a yellow ramp on the track's side) and the silence (a red
// hatched band on the other side) around it, with a handle at the far end
// of each. Dragging a handle within its half sets that length; a boundary
// moved in the waveform view's adjust mode takes its fade and silence marks
// from here. With gapless tracks an inner boundary shows
// "Gapless Tracks (No Fades)" instead.

#include "document/CQuillon3Doc.h"
#include "views/BoundaryFadeGeometry.h"

#include <QImage>
#include <QWidget>

namespace kelvane {

inline constexpr const char* kGaplessNoFades = "Gapless Tracks (No Fades)";

class CBoundaryFade : public QWidget, public IDocObserver {
    Q_OBJECT
public:
    explicit CBoundaryFade(CQuillon3Doc& doc, QWidget* parent = nullptr);
    ~CBoundaryFade() override;

    // The lengths the handles give now: the boundary's own until a handle
    // is dragged, and again whenever another boundary becomes current.
    fadeview::FadeLengths Lengths() const { return lengths_; }
    fadeview::Layout LayoutFor(int width) const;
    QImage Render(QSize size) const;

    void OnDocReset() override;
    void OnDocUpdate() override;
    void OnTracksChanged() override { OnDocUpdate(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    // The current boundary marker's width, or 0.
    int32_t MarkerWidth() const;

    CQuillon3Doc& doc_;
    int32_t shownWidth_ = 0;           // the boundary the lengths belong to
    fadeview::FadeLengths trackLengths_;  // its track's lengths when they were taken
    fadeview::FadeLengths lengths_;
    fadeview::Handle drag_ = fadeview::Handle::None;
};

}  // namespace kelvane
