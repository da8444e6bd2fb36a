#pragma once
// The waveform view: a short stretch of both channels around the current
// record, the corrected trace over the uncorrected one, the current
// correction's marker, the level graph at a track boundary, the track
// labels and the marked block. Mouse and keys move the cursor, mark and
// move blocks, and adjust or insert corrections and boundaries through the
// operations layer (operations/EditCorrections.h); the view never writes
// audio. It repaints from the document: at close zoom it reads at most the
// visible stretch of each file (without moving any pass's offset), beyond
// that the block envelope, so a repaint costs the same on any length of
// recording.
//
// Playback belongs to a later part of the program: the view keeps its
// state (SetPlaying) and asks for seeks and skips through signals.

#include "document/CQuillon3Doc.h"
#include "document/CommandState.h"
#include "views/ClickViewGeometry.h"
#include "views/ClickViewScale.h"

#include <QImage>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>

class QDialog;
class QLabel;
class QMenu;
class QPainter;
class QPushButton;
class QScrollBar;

namespace kelvane {

class CAdjustMode;
class CBoundaryFade;

inline constexpr const char* kMsgAdjustScale =
    "To Adjust/Insert a correction, the horizontal scale needs to be expanded\nContinuing will reset the Horizontal "
    "Scale to 100 samples per division.\nContinue with Adjust/Insert?";
inline constexpr const char* kAdjustTitle = "User Adjust Mode";
inline constexpr const char* kInsertTitle = "Insert Correction";
inline constexpr const char* kAdjustBoundaryText = "Use the Mouse to adjust\nTrack Boundary Position";
inline constexpr const char* kAdjustCorrectionText = "Use the Mouse and/or Cursor Keys\nto adjust Width or Position";

class CClickView : public QWidget, public IDocObserver {
    Q_OBJECT
public:
    explicit CClickView(CQuillon3Doc& doc, QWidget* parent = nullptr);
    ~CClickView() override;

    // --- display state (settings read at creation, written when changed) ------
    clickview::ScaleMode Mode() const { return mode_; }
    void SetMode(clickview::ScaleMode mode);
    int ScaleIndex() const { return index_; }
    // Limited to 1 .. the highest entry that fits the recording; stored under
    // "Wave Scale" or "Track Scale".
    void SetScaleIndex(int index);
    int32_t FramesPerDivision() const;
    void ZoomIn() { SetScaleIndex(index_ - 1); }
    void ZoomOut() { SetScaleIndex(index_ + 1); }
    void SetVerticalScale(int32_t v);
    // "Auto S.": the view picks the vertical scale that fits the visible
    // peak into the traces' room at each repaint.
    void SetAutoScale(bool on);
    // The vertical scale the last repaint used.
    int32_t ShownVerticalScale() const { return shownVerticalScale_; }
    void SetTraceSeparation(int pixels);
    int Scheme() const { return scheme_; }
    void SetScheme(int scheme);  // stored under "Background" at once
    void SetThinTrace(bool thin);
    void SetGraticule(bool on);
    bool Graticule() const { return graticule_; }
    void SetShowChannels(bool left, bool right);
    void SetPlaying(bool playing) { playing_ = playing; }
    bool Playing() const { return playing_; }

    // --- commands -------------------------------------------------------------
    // "Adjust/Insert Correction" (Insert key): the User Adjust Mode on the
    // current record, after the scale question when zoomed out. False when
    // it did not open.
    bool StartAdjust();
    void ApplyAdjust();
    void AbortAdjust();
    bool Adjusting() const;
    QDialog* AdjustDialog() const { return adjustDialog_; }
    void CancelBlock();
    void NextTrackMarker();
    void PreviousTrackMarker();
    // The Delete key: the current correction or the block's, each after its
    // question.
    void DeleteKey();
    // Where a moved boundary takes its fade and silence lengths; without
    // one the track's own are kept.
    void SetFadeDisplay(CBoundaryFade* display) { fadeDisplay_ = display; }
    // The horizontal scroll bar beside the view (the caller places it; the
    // view keeps it in step): it spans the data in frames with a page of
    // the visible width, and moving it puts the cursor at its centre frame.
    void SetScrollBar(QScrollBar* bar);

    // The context menu's commands go to the frame through this (the command
    // keys of the frame's set); without it the view runs its own.
    void SetCommandHandler(std::function<void(const char* key)> handler) { commandHandler_ = std::move(handler); }
    // Builds the context menu the view would show now (the caller owns it).
    QMenu* BuildContextMenu(QWidget* parent);

    // Renders the view as it would paint now (benchmarks, tests, pictures).
    QImage Render(QSize size);

    void OnDocReset() override;
    void OnDocUpdate() override;
    void OnTracksChanged() override { update(); }

signals:
    void scaleChanged(int index, int32_t framesPerDivision);
    void adjustChanged(bool adjusting);  // the command rules depend on it
    void seekRequested(int32_t pos);     // a click while playing
    void skipRequested(int seconds);     // Page Up / Page Down while playing

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    enum class Drag { None, Width, Boundary, Select, BlockMove, BlockStart, BlockEnd };

    bool Loaded() const;
    // What the core's command rules need to know of the view.
    ViewState State() const;
    bool Busy() const { return doc_.progress != nullptr; }
    int32_t Centre() const;
    clickview::Mapping MappingFor(int width) const;
    const EventRecord* Current() const { return doc_.CurrentEvent(); }
    bool CurrentIsBoundary() const;
    bool CurrentIsCorrection() const;
    void Paint(QPainter& p, QSize size);
    void PaintTraces(QPainter& p, const clickview::Mapping& m, int height);
    void PaintLevelGraph(QPainter& p, const clickview::Mapping& m, int height);
    void PaintBoundary(QPainter& p, const clickview::Mapping& m, int height);
    void PaintLabels(QPainter& p, const clickview::Mapping& m);
    void ShowAdjustDialog();
    void EndAdjust();
    void AdjustTo(int32_t width, int32_t pos);
    void MoveCursor(int dir, bool shift, bool ctrl);
    void UpdateCursorShape(double x);
    void RunCommand(const char* key);
    int ReadScaleSetting() const;
    void SyncScrollBar();
    void OnScroll(int value);
    // Limits index to what fits and shows it; `store` remembers it too.
    void ApplyScaleIndex(int index, bool store);

    CQuillon3Doc& doc_;
    clickview::ScaleMode mode_ = clickview::ScaleMode::Wave;
    int index_ = 4;
    int32_t verticalScale_ = 500;
    int32_t shownVerticalScale_ = 500;
    bool autoScale_ = false;
    int traceSep_ = 100;
    int scheme_ = 0;
    bool thin_ = false;
    bool graticule_ = true;
    bool showTimes_ = true;
    bool showLeft_ = true;
    bool showRight_ = true;
    bool playing_ = false;

    std::unique_ptr<CAdjustMode> adjust_;
    bool inAdjustCall_ = false;  // the mode's own edit is telling the views
    QDialog* adjustDialog_ = nullptr;
    QLabel* adjustText_ = nullptr;

    Drag drag_ = Drag::None;
    double pressX_ = 0;
    double dragX_ = 0;
    clickview::BlockRange blockAtPress_;
    QImage frame_;  // the last picture, shown again while an operation runs

    std::function<void(const char*)> commandHandler_;
    CBoundaryFade* fadeDisplay_ = nullptr;
    QPointer<QScrollBar> scrollBar_;
    std::vector<int16_t> readBuffers_[2];                // uncorrected, corrected
    std::vector<clickview::Column> columnsOf_[2][2];  // [file][channel]
};

}  // namespace kelvane
