#include "CClickView.h"

#include "views/CBoundaryFade.h"

#include "declick/ClickListRows.h"
#include "declick/CorrectionEdit.h"
#include "document/CommandState.h"
#include "document/Interaction.h"
#include "operations/EditCorrections.h"
#include "settings/SettingsStore.h"
#include "tracks/BlockMerge.h"
#include "tracks/TrackEditing.h"
#include "tracks/TrackTimes.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace kelvane {

using namespace clickview;

namespace {

QColor Q(Rgb c) { return QColor(c.r, c.g, c.b); }

// Frames read at a time for a wide stretch: both files' pieces fit the cache.
constexpr int64_t kColumnPieceFrames = 32768;

}  // namespace

CClickView::CClickView(CQuillon3Doc& doc, QWidget* parent) : QWidget(parent), doc_(doc)
{
    setObjectName("clickView");
    setMinimumSize(300, 200);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    ISettingsStore& s = doc_.Settings();
    scheme_ = std::clamp(s.Get(settings::Background), 0, 2);
    thin_ = s.Get(settings::ThinTrace) != 0;
    graticule_ = s.Get(settings::Graticule) != 0;
    showTimes_ = s.Get(settings::ShowTrackTimes) != 0;
    traceSep_ = std::max(0, s.Get(settings::TraceSep));
    index_ = ReadScaleSetting();
    doc_.AddObserver(this);
}

CClickView::~CClickView()
{
    adjust_.reset();  // an open mode is aborted while the document is still observed
    doc_.RemoveObserver(this);
}

int CClickView::ReadScaleSetting() const
{
    return doc_.Settings().Get(mode_ == ScaleMode::Wave ? settings::WaveScale : settings::TrackScale);
}

// --- display state -------------------------------------------------------------

void CClickView::SetMode(ScaleMode mode)
{
    mode_ = mode;
    ApplyScaleIndex(ReadScaleSetting(), false);
}

void CClickView::SetScaleIndex(int index) { ApplyScaleIndex(index, true); }

void CClickView::ApplyScaleIndex(int index, bool store)
{
    const std::span<const int32_t> table = ScaleTable(doc_, mode_);
    int highest = TopIndex(mode_);
    if (Loaded() && table.size() > 1) highest = HighestIndex(table, highest, (doc_.dataEnd - doc_.dataStart) / 4, width());
    const int old = index_;
    index_ = ClampIndex(index, highest);
    // Only a choice is remembered: a window narrowed for a moment, or a
    // short recording, limits the scale without forgetting the user's.
    if (store && index_ != old)
        doc_.Settings().Set(mode_ == ScaleMode::Wave ? settings::WaveScale : settings::TrackScale, index_);
    emit scaleChanged(index_, FramesPerDivision());
    SyncScrollBar();
    update();
}

int32_t CClickView::FramesPerDivision() const { return clickview::FramesPerDivision(ScaleTable(doc_, mode_), index_); }

void CClickView::SetVerticalScale(int32_t v)
{
    verticalScale_ = std::max(1, v);
    update();
}

void CClickView::SetAutoScale(bool on)
{
    autoScale_ = on;
    update();
}

void CClickView::SetTraceSeparation(int pixels)
{
    traceSep_ = std::max(0, pixels);
    update();
}

void CClickView::SetScheme(int scheme)
{
    scheme_ = std::clamp(scheme, 0, 2);
    doc_.Settings().Set(settings::Background, scheme_);
    update();
}

void CClickView::SetThinTrace(bool thin)
{
    thin_ = thin;
    doc_.Settings().Set(settings::ThinTrace, thin ? 1 : 0);
    update();
}

void CClickView::SetGraticule(bool on)
{
    graticule_ = on;
    doc_.Settings().Set(settings::Graticule, on ? 1 : 0);
    update();
}

void CClickView::SetShowChannels(bool left, bool right)
{
    showLeft_ = left;
    showRight_ = right;
    update();
}

// --- what is shown ---------------------------------------------------------------

bool CClickView::Loaded() const { return doc_.status >= kStatusNotScanned && doc_.dataEnd > doc_.dataStart; }

int32_t CClickView::Centre() const
{
    const EventRecord* cur = Current();
    const int32_t pos = cur ? cur->pos : doc_.cursorEvent.pos;
    return std::clamp(pos, doc_.dataStart, std::max(doc_.dataStart, doc_.dataEnd));
}

Mapping CClickView::MappingFor(int width) const
{
    return Mapping{Centre(), width, FramesPerDivision(), doc_.dataStart, doc_.dataEnd};
}

bool CClickView::CurrentIsBoundary() const
{
    const EventRecord* cur = Current();
    return cur && cur != &doc_.cursorEvent && cur->IsMarker();
}

bool CClickView::CurrentIsCorrection() const
{
    return doc_.selectedEvent >= 1 && doc_.selectedEvent <= doc_.events.Size() - 2 &&
           doc_.events[doc_.selectedEvent].IsCorrection();
}

bool CClickView::Adjusting() const { return adjust_ && adjust_->IsOpen(); }

// --- painting --------------------------------------------------------------------

QImage CClickView::Render(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    QPainter p(&image);
    Paint(p, size);
    return image;
}

void CClickView::paintEvent(QPaintEvent*)
{
    // While an operation runs the files and lists are half-way: the last
    // picture stands until it ends.
    if (!Busy() || frame_.size() != size()) frame_ = Render(size());
    QPainter p(this);
    p.drawImage(0, 0, frame_);
}

void CClickView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (Loaded()) ApplyScaleIndex(std::max(index_, ReadScaleSetting()), false);
}

void CClickView::Paint(QPainter& p, QSize size)
{
    const int W = size.width(), H = size.height();
    const clickview::Scheme& sc = SchemeColours(scheme_);
    p.fillRect(0, 0, W, H, Q(Adjusting() ? sc.adjustBackground : sc.background));
    if (!Loaded()) return;
    const Mapping m = MappingFor(W);
    const double cx = W / 2.0, mid = H / 2.0;
    const double centres[2] = {mid - traceSep_ / 2.0, mid + traceSep_ / 2.0};
    const bool shown[2] = {showLeft_, showRight_};
    const bool boundary = CurrentIsBoundary();

    if (graticule_) {
        p.setPen(Q(sc.grid));
        for (double x = std::fmod(cx, 50.0); x < W; x += 50) p.drawLine(QLineF(x, 0, x, H));
        for (double y = std::fmod(mid, 50.0); y < H; y += 50) p.drawLine(QLineF(0, y, W, y));
    }

    p.setPen(Q(sc.ticks));
    QVector<QLineF> ticks;
    for (int ch = 0; ch < 2; ++ch) {
        if (!shown[ch]) continue;
        ticks.append(QLineF(0, centres[ch], W, centres[ch]));
        for (int k = -static_cast<int>(cx / 10) - 1; cx + k * 10 < W; ++k) {
            const double len = k % 5 == 0 ? 10 : 5;
            ticks.append(QLineF(cx + k * 10, centres[ch] - len / 2, cx + k * 10, centres[ch] + len / 2));
        }
    }
    if (!boundary) {
        ticks.append(QLineF(cx, 0, cx, H));
        for (int k = -static_cast<int>(mid / 10) - 1; mid + k * 10 < H; ++k) {
            const double len = k % 5 == 0 ? 10 : 5;
            ticks.append(QLineF(cx - len / 2, mid + k * 10, cx + len / 2, mid + k * 10));
        }
    }
    p.drawLines(ticks);

    if (CurrentIsCorrection()) {
        const int hw = MarkerHalfWidth(doc_.events[doc_.selectedEvent].width, m.S);
        p.fillRect(QRectF(cx - hw, 0, 2.0 * hw, H), Q(sc.fill));
    }
    if (boundary) PaintBoundary(p, m, H);

    const double xs = m.X(doc_.dataStart), xe = m.X(doc_.dataEnd);
    if (xs > 0) p.fillRect(QRectF(0, 0, std::min<double>(xs, W), H), Q(kOutsideData));
    if (xe < W) p.fillRect(QRectF(std::max(0.0, xe), 0, W - std::max(0.0, xe), H), Q(kOutsideData));

    if (boundary) PaintLevelGraph(p, m, H);
    else PaintTraces(p, m, H);
    PaintLabels(p, m);

    double b0 = 0, b1 = 0;
    bool block = false;
    if (drag_ == Drag::Select) {
        b0 = std::min(pressX_, dragX_);
        b1 = std::max(pressX_, dragX_);
        block = true;
    } else if (doc_.HasBlock()) {
        b0 = std::max(-1.0, m.X(doc_.blockStart));
        b1 = std::min(W + 1.0, m.X(doc_.blockEnd));
        block = b1 > b0;
    }
    if (block) {
        p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        p.fillRect(QRectF(b0, 0, b1 - b0, H), Qt::white);
        p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    }
}

void CClickView::PaintTraces(QPainter& p, const Mapping& m, int height)
{
    const double mid = height / 2.0;
    const double centres[2] = {mid - traceSep_ / 2.0, mid + traceSep_ / 2.0};
    const bool shown[2] = {showLeft_, showRight_};
    const TracePlan plan = PlanTraces(m, doc_.blockEnvelope.size());
    if (plan.Empty()) return;

    // Gather first: the automatic vertical scale needs every trace's peak.
    // f = 0 the uncorrected (source) file, 1 the corrected (working) one;
    // the envelope stands for the corrected trace.
    const bool sparse = !plan.envelope && m.S < kPixelsPerDivision;
    int64_t counts[2] = {0, 0};
    if (plan.envelope) {
        for (int ch = 0; ch < 2; ++ch) EnvelopeColumns(doc_.blockEnvelope, plan, ch, m, columnsOf_[1][ch]);
        counts[1] = plan.Count();
    } else {
        const int64_t frames = plan.Count();
        CWaveFile* files[2] = {&doc_.sourceFile, &doc_.workingFile};
        for (int f = 0; f < 2; ++f) {
            if (!files[f]->IsOpen()) continue;
            // Few frames: read them all and draw a line through them. Many:
            // read in pieces that stay in the cache and keep each column's
            // extremes. ReadAt leaves the offset of a pass on the file alone.
            const int64_t piece = sparse ? frames : std::min<int64_t>(frames, kColumnPieceFrames);
            std::vector<int16_t>& buffer = readBuffers_[f];
            buffer.resize(static_cast<size_t>(2 * piece));
            for (int64_t done = 0; done < frames;) {
                const int32_t at = static_cast<int32_t>(plan.first + done * 4);
                const int64_t got = files[f]->ReadAt(at, buffer.data(), std::min(piece, frames - done) * 4) / 4;
                if (got <= 0) break;
                if (!sparse) SampleColumns(buffer.data(), got, at, m, columnsOf_[f][0], columnsOf_[f][1], done > 0);
                done += got;
                counts[f] = done;
            }
        }
    }

    int32_t v = verticalScale_;
    if (autoScale_) {
        int32_t peak = 1;
        for (int f = 0; f < 2; ++f) {
            if (counts[f] <= 0) continue;
            for (int ch = 0; ch < 2; ++ch) {
                if (!shown[ch]) continue;
                if (sparse) {
                    for (int64_t i = 0; i < counts[f]; ++i)
                        peak = std::max(peak, std::abs(int32_t{readBuffers_[f][static_cast<size_t>(2 * i + ch)]}));
                } else {
                    for (const Column& c : columnsOf_[f][ch])
                        if (c.any) peak = std::max({peak, std::abs(c.lo), std::abs(c.hi)});
                }
            }
        }
        v = AutoVerticalScale(peak, traceSep_, height);
    }
    shownVerticalScale_ = v;

    const auto columnLines = [&](const std::vector<Column>& columns, int ch) {
        QVector<QLineF> lines;
        lines.reserve(static_cast<int>(columns.size()));
        const Column* prev = nullptr;
        for (size_t x = 0; x < columns.size(); ++x) {
            const Column& c = columns[x];
            if (!c.any) {
                prev = nullptr;
                continue;
            }
            // Reach over to the neighbour so the trace has no gaps.
            int32_t lo = c.lo, hi = c.hi;
            if (prev) {
                lo = std::min(lo, prev->hi);
                hi = std::max(hi, prev->lo);
            }
            const double px = static_cast<double>(x) + 0.5;
            lines.append(QLineF(px, TraceY(centres[ch], hi, v), px, TraceY(centres[ch], lo, v) + 0.01));
            prev = &c;
        }
        return lines;
    };
    p.setRenderHint(QPainter::Antialiasing, false);
    for (int f = 0; f < 2; ++f) {
        if (counts[f] <= 0) continue;
        for (int ch = 0; ch < 2; ++ch) {
            if (!shown[ch]) continue;
            QPen pen(f == 0 ? Q(kUncorrected) : Q(ch == 0 ? kCorrectedLeft : kCorrectedRight));
            pen.setWidth(f == 0 || thin_ || plan.envelope ? 1 : 2);
            if (f == 0 && thin_) pen.setStyle(Qt::DotLine);
            p.setPen(pen);
            if (sparse) {
                QVector<QPointF> points;
                points.reserve(static_cast<int>(counts[f]));
                for (int64_t i = 0; i < counts[f]; ++i)
                    points.append(QPointF(m.X(plan.first + 4 * i),
                                          TraceY(centres[ch], readBuffers_[f][static_cast<size_t>(2 * i + ch)], v)));
                p.drawPolyline(points.constData(), static_cast<int>(points.size()));
            } else {
                p.drawLines(columnLines(columnsOf_[f][ch], ch));
            }
        }
    }
}

void CClickView::PaintLevelGraph(QPainter& p, const Mapping& m, int height)
{
    const clickview::Scheme& sc = SchemeColours(scheme_);
    const double base = height / 2.0 + traceSep_ / 2.0;
    const std::vector<LevelColumn> graph = LevelGraph(doc_, m);
    QVector<QLineF> lines[3];  // outside every track, even tracks, odd tracks
    for (size_t x = 0; x < graph.size(); ++x) {
        if (graph[x].height <= 0) continue;
        const int pen = graph[x].track == 0 ? 0 : 1 + graph[x].track % 2;
        const double px = static_cast<double>(x) + 0.5;
        lines[pen].append(QLineF(px, base, px, base - graph[x].height));
    }
    const QColor colours[3] = {Q(kOutsideData), Q(sc.levelPens[0]), Q(sc.levelPens[1])};
    for (int i = 0; i < 3; ++i) {
        p.setPen(colours[i]);
        p.drawLines(lines[i]);
    }
}

void CClickView::PaintBoundary(QPainter& p, const Mapping& m, int height)
{
    const clickview::Scheme& sc = SchemeColours(scheme_);
    const EventRecord& cur = *Current();
    const double bx = drag_ == Drag::Boundary ? dragX_ : m.X(cur.pos);
    // The stretch of silence between the boundary and its track's sound,
    // searched no further than the view reaches.
    const int32_t reach = static_cast<int32_t>(std::min<double>(m.width * m.UnitsPerPixel(), 1 << 30));
    const double ex = m.X(SoundEdge(doc_, cur, reach));
    const double base = height / 2.0 + traceSep_ / 2.0;
    p.fillRect(QRectF(std::min(bx, ex) - 2, base - 6, std::fabs(ex - bx) + 4, 12), Qt::black);
    p.fillRect(QRectF(bx - 1, 0, 2, height), Q(sc.boundary));
}

void CClickView::PaintLabels(QPainter& p, const Mapping& m)
{
    const int32_t first = m.Position(0), last = m.Position(m.width);
    const bool boundary = CurrentIsBoundary();
    QFont font("Tahoma");
    font.setPointSize(10);
    p.setFont(font);
    const QFontMetrics metrics(font);
    for (int32_t t = 1; t < doc_.tracks.Size(); ++t) {
        const TrackRecord& track = doc_.tracks[t];
        if (track.end < first || track.start > last) continue;
        const QString text = QString::fromStdString(TrackLabel(t, track.title, boundary));
        const double x = std::max(2.0, m.X(track.start) + 2);
        const QRectF box(x, 2, metrics.horizontalAdvance(text) + 4, metrics.height());
        p.fillRect(box, Q(kLabelBack));
        p.setPen(Qt::white);
        p.drawText(box, Qt::AlignCenter, text);
        if (!showTimes_ || boundary) continue;
        // The track's start and length under its label.
        const QString time = QString::fromStdString(
            FormatMinutes((track.start - doc_.dataStart) / 4, doc_.sampleRate) + " +" +
            FormatMinutes((track.end - track.start) / 4, doc_.sampleRate));
        const QRectF timeBox(x, 4 + metrics.height(), metrics.horizontalAdvance(time) + 4, metrics.height());
        p.fillRect(timeBox, Q(kLabelBack));
        p.drawText(timeBox, Qt::AlignCenter, time);
    }
}

// --- commands ----------------------------------------------------------------------

ViewState CClickView::State() const
{
    ViewState view;
    view.exists = true;
    view.playing = playing_;
    view.adjusting = Adjusting();
    return view;
}

bool CClickView::StartAdjust()
{
    if (!Loaded() || Busy() || !QueryCommand(Command::AdjustInsert, doc_, State()).enabled) return false;
    const int32_t index = doc_.selectedEvent;
    // Correction edges need room to be seen; a boundary drag works at any scale.
    if (doc_.events[index].IsCorrection() && mode_ == ScaleMode::Wave && FramesPerDivision() >= kAdjustScaleLimit) {
        if (doc_.Ui().MessageBox(kMsgAdjustScale, kAppCaption, MbButtons::YesNo, MbIcon::Question) != MbAnswer::Yes)
            return false;
        SetScaleIndex(kAdjustScaleIndex);
    }
    adjust_ = std::make_unique<CAdjustMode>(doc_);
    if (!adjust_->IsOpen()) {
        adjust_.reset();
        return false;
    }
    ShowAdjustDialog();
    emit adjustChanged(true);
    doc_.NotifyUpdate();
    return true;
}

void CClickView::ShowAdjustDialog()
{
    if (!adjustDialog_) {
        adjustDialog_ = new QDialog(this, Qt::Tool);
        adjustDialog_->setObjectName("adjustDialog");
        adjustDialog_->setModal(false);
        auto* layout = new QVBoxLayout(adjustDialog_);
        adjustText_ = new QLabel(adjustDialog_);
        layout->addWidget(adjustText_);
        auto* buttons = new QHBoxLayout;
        auto* apply = new QPushButton("Apply", adjustDialog_);
        apply->setObjectName("applyButton");
        auto* abort = new QPushButton("Abort", adjustDialog_);
        abort->setObjectName("abortButton");
        buttons->addWidget(apply);
        buttons->addWidget(abort);
        layout->addLayout(buttons);
        connect(apply, &QPushButton::clicked, this, &CClickView::ApplyAdjust);
        connect(abort, &QPushButton::clicked, this, &CClickView::AbortAdjust);
        // Closing the box is the same as Abort: the mode must not outlive it.
        connect(adjustDialog_, &QDialog::rejected, this, &CClickView::AbortAdjust);
    }
    const EventRecord& kept = adjust_->Kept();
    adjustDialog_->setWindowTitle(kept.mag == event::kMagAdjusting ? kInsertTitle : kAdjustTitle);
    adjustText_->setText(kept.IsMarker() ? kAdjustBoundaryText : kAdjustCorrectionText);
    adjustDialog_->adjustSize();
    const QRect frame = window()->frameGeometry();
    adjustDialog_->move(frame.right() - adjustDialog_->width(), frame.top() + 100);
    adjustDialog_->show();
}

void CClickView::ApplyAdjust()
{
    if (!Adjusting()) return;
    const EventRecord r = doc_.events[adjust_->Index()];
    if (r.IsMarker()) {
        const fadeview::FadeLengths lengths = fadeDisplay_ ? fadeDisplay_->Lengths() : fadeview::LengthsOf(doc_, r.width);
        const fadeview::Marks marks = fadeview::MarksFor(r.width, r.pos, lengths);
        const bool was = inAdjustCall_;
        inAdjustCall_ = true;
        adjust_->Apply(marks.fade, marks.silence);
        inAdjustCall_ = was;
    } else {
        const bool was = inAdjustCall_;
        inAdjustCall_ = true;
        adjust_->Apply();
        inAdjustCall_ = was;
    }
    EndAdjust();
}

void CClickView::AbortAdjust()
{
    if (!Adjusting()) return;
    const bool was = inAdjustCall_;
    inAdjustCall_ = true;
    adjust_->Abort();
    inAdjustCall_ = was;
    EndAdjust();
}

void CClickView::AdjustTo(int32_t width, int32_t pos)
{
    // The edit tells the views itself; that notice is no outside change.
    const bool was = inAdjustCall_;
    inAdjustCall_ = true;
    adjust_->Adjust(width, pos);
    inAdjustCall_ = was;
}

void CClickView::EndAdjust()
{
    adjust_.reset();
    drag_ = Drag::None;
    if (adjustDialog_) adjustDialog_->hide();
    emit adjustChanged(false);
    update();
}

void CClickView::CancelBlock()
{
    if (!doc_.HasBlock()) return;
    doc_.blockStart = doc_.blockEnd = 0;
    doc_.blockFirstEvent = doc_.blockLastEvent = 0;
    doc_.NotifyUpdate();
}

void CClickView::NextTrackMarker()
{
    if (!Loaded() || Adjusting()) return;
    // From a record of the list the order of the list counts (a boundary's
    // partner lies at the same position); from the cursor its position.
    const int32_t at = doc_.selectedEvent >= 1 ? doc_.selectedEvent : 0;
    const int32_t from = Centre();
    for (int32_t i = std::max(1, at + 1); i <= doc_.events.Size() - 2; ++i) {
        const EventRecord& e = doc_.events[i];
        if (e.IsMarker() && (at > 0 || e.pos > from)) {
            SelectEvent(doc_, i);
            doc_.NotifyUpdate();
            return;
        }
    }
}

void CClickView::PreviousTrackMarker()
{
    if (!Loaded() || Adjusting()) return;
    const int32_t at = doc_.selectedEvent >= 1 ? doc_.selectedEvent : doc_.events.Size() - 1;
    const int32_t from = Centre();
    for (int32_t i = at - 1; i >= 1; --i) {
        const EventRecord& e = doc_.events[i];
        if (e.IsMarker() && (doc_.selectedEvent >= 1 || e.pos < from)) {
            SelectEvent(doc_, i);
            doc_.NotifyUpdate();
            return;
        }
    }
}

void CClickView::DeleteKey()
{
    // The same rules as the menus': nothing is restored from the source
    // under a filter pass, nor while a record is being adjusted.
    const Command rule = doc_.HasBlock() ? Command::RemoveCorrections : Command::RemoveCorrection;
    if (!Loaded() || Busy() || Adjusting() || !QueryCommand(rule, doc_, State()).enabled) return;
    ::kelvane::DeleteKey(doc_);
    update();
}

void CClickView::OnDocUpdate()
{
    // A block marked or another record chosen elsewhere (the list, the
    // strip) ends an adjustment as Abort does: the block's commands could
    // take away the record being adjusted.
    if (Adjusting() && !inAdjustCall_ && (doc_.HasBlock() || doc_.selectedEvent != adjust_->Index())) AbortAdjust();
    SyncScrollBar();
    update();
}

void CClickView::OnDocReset()
{
    drag_ = Drag::None;
    if (Loaded()) ApplyScaleIndex(std::max(index_, ReadScaleSetting()), false);
    SyncScrollBar();
    update();
}

// --- the scroll bar -----------------------------------------------------------------

void CClickView::SetScrollBar(QScrollBar* bar)
{
    if (scrollBar_) disconnect(scrollBar_, nullptr, this, nullptr);
    scrollBar_ = bar;
    if (!bar) return;
    bar->setOrientation(Qt::Horizontal);
    connect(bar, &QScrollBar::valueChanged, this, &CClickView::OnScroll);
    SyncScrollBar();
}

void CClickView::SyncScrollBar()
{
    if (!scrollBar_) return;
    // Setting the range and value must not read back as the user scrolling.
    const QSignalBlocker quiet(scrollBar_);
    const ScrollRange r = Loaded() ? ScrollFor(MappingFor(width())) : ScrollRange{};
    scrollBar_->setRange(0, r.maximum);
    scrollBar_->setPageStep(r.page);
    scrollBar_->setSingleStep(r.step);
    scrollBar_->setValue(r.value);
    scrollBar_->setEnabled(Loaded());
}

void CClickView::OnScroll(int value)
{
    // An adjustment keeps its record in view: leaving it would abort it.
    if (!Loaded() || Busy() || Adjusting()) return SyncScrollBar();
    const int32_t pos = ScrollPosition(MappingFor(width()), value);
    if (pos == Centre() && doc_.selectedEvent < 1) return;
    SelectEvent(doc_, -1);
    doc_.cursorEvent.pos = pos;
    doc_.NotifyUpdate();
}

// --- keys ------------------------------------------------------------------------

void CClickView::keyPressEvent(QKeyEvent* event)
{
    if (!Loaded() || Busy()) return QWidget::keyPressEvent(event);
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    switch (event->key()) {
    case Qt::Key_Q: CancelBlock(); return;
    case Qt::Key_Delete: DeleteKey(); return;
    case Qt::Key_Insert: StartAdjust(); return;
    case Qt::Key_Left:
    case Qt::Key_Right:
        if (doc_.HasBlock() || (Adjusting() && CurrentIsBoundary())) return;
        MoveCursor(event->key() == Qt::Key_Left ? -1 : 1, shift, ctrl);
        return;
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
        if (playing_) emit skipRequested(event->key() == Qt::Key_PageUp ? -60 : 60);
        return;
    default: QWidget::keyPressEvent(event);
    }
}

void CClickView::MoveCursor(int dir, bool shift, bool ctrl)
{
    if (Adjusting()) {
        const EventRecord r = doc_.events[adjust_->Index()];
        const int64_t frames = ArrowFrames(FramesPerDivision(), width(), true, shift, ctrl);
        const int64_t pos = std::clamp<int64_t>(r.pos + dir * frames * 4, doc_.dataStart, doc_.dataEnd);
        AdjustTo(r.width, static_cast<int32_t>(pos));
        return;
    }
    const ArrowMove move =
        ArrowTarget(doc_, Centre(), dir, ArrowFrames(FramesPerDivision(), width(), false, shift, false), playing_);
    if (move.marker > 0) {
        SelectEvent(doc_, move.marker);
    } else {
        SelectEvent(doc_, -1);
        doc_.cursorEvent.pos = move.pos;
    }
    doc_.NotifyUpdate();
}

// --- mouse ------------------------------------------------------------------------

void CClickView::mousePressEvent(QMouseEvent* event)
{
    if (!Loaded() || Busy() || event->button() != Qt::LeftButton) return;
    setFocus(Qt::MouseFocusReason);
    const Mapping m = MappingFor(width());
    const double x = event->position().x();
    if (playing_) {
        emit seekRequested(m.Position(x));
        return;
    }
    pressX_ = dragX_ = x;
    const bool adjusting = Adjusting();
    const double cx = width() / 2.0;
    if (adjusting && (event->modifiers() & Qt::ShiftModifier) && !CurrentIsBoundary()) {
        const EventRecord r = doc_.events[adjust_->Index()];
        AdjustTo(r.width, m.Position(x));
        return;
    }
    if (CurrentIsCorrection() && (m.S < kAdjustScaleLimit || adjusting) &&
        NearEdge(x, cx, MarkerHalfWidth(doc_.events[doc_.selectedEvent].width, m.S))) {
        if (adjusting || StartAdjust()) drag_ = Drag::Width;
        return;
    }
    if (CurrentIsBoundary() && std::fabs(x - m.X(Current()->pos)) < 4) {
        if (adjusting || StartAdjust()) drag_ = Drag::Boundary;
        return;
    }
    if (doc_.HasBlock()) {
        blockAtPress_ = {doc_.blockStart, doc_.blockEnd};
        switch (HitBlock(x, m.X(doc_.blockStart), m.X(doc_.blockEnd))) {
        case BlockPart::Middle: drag_ = Drag::BlockMove; return;
        case BlockPart::StartEdge: drag_ = Drag::BlockStart; return;
        case BlockPart::EndEdge: drag_ = Drag::BlockEnd; return;
        default: break;
        }
        if (event->modifiers() & Qt::ControlModifier) return;
        CancelBlock();
    }
    if (!adjusting && !CurrentIsBoundary()) drag_ = Drag::Select;
}

void CClickView::mouseMoveEvent(QMouseEvent* event)
{
    const double x = event->position().x();
    if (drag_ == Drag::None) {
        UpdateCursorShape(x);
        return;
    }
    dragX_ = x;
    const Mapping m = MappingFor(width());
    switch (drag_) {
    case Drag::Width: {
        if (!Adjusting()) break;
        const EventRecord r = doc_.events[adjust_->Index()];
        const int32_t w = DragWidth(x - width() / 2.0, m.S, r.width);
        if (w != r.width) AdjustTo(w, 0);
        break;
    }
    case Drag::BlockMove: {
        const int32_t delta = static_cast<int32_t>(std::floor((x - pressX_) * m.UnitsPerPixel() / 4.0)) * 4;
        const BlockRange r = MoveBlock(blockAtPress_, delta, doc_.dataStart, doc_.dataEnd);
        MarkBlock(doc_, r.start, r.end);
        break;
    }
    case Drag::BlockStart:
    case Drag::BlockEnd: {
        const BlockRange r = ResizeBlock({doc_.blockStart, doc_.blockEnd},
                                         drag_ == Drag::BlockStart ? BlockPart::StartEdge : BlockPart::EndEdge,
                                         m.Position(x));
        MarkBlock(doc_, r.start, r.end);
        break;
    }
    default: break;
    }
    update();
}

void CClickView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || drag_ == Drag::None) return;
    const Drag drag = drag_;
    drag_ = Drag::None;
    const Mapping m = MappingFor(width());
    const double x = event->position().x();
    if (drag == Drag::Boundary && Adjusting()) {
        const EventRecord r = doc_.events[adjust_->Index()];
        AdjustTo(r.width, BoundaryDrop(m.Position(x), doc_.dataAlign));
    } else if (drag == Drag::Select) {
        if (std::fabs(x - pressX_) > 2) MarkBlock(doc_, m.Position(std::min(x, pressX_)), m.Position(std::max(x, pressX_)));
        else CancelBlock();
    }
    update();
}

void CClickView::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (!Loaded() || Busy() || Adjusting() || event->button() != Qt::LeftButton) return;
    drag_ = Drag::None;
    const Mapping m = MappingFor(width());
    const double x = event->position().x();
    const bool inData = x >= m.X(doc_.dataStart) && x <= m.X(doc_.dataEnd);
    const DoubleClick target = DoubleClickTarget(doc_, m.Position(x), m.S, inData);
    switch (target.kind) {
    case DoubleClick::Correction:
    case DoubleClick::Boundary: SelectEvent(doc_, target.index); break;
    case DoubleClick::Cursor: InsertManualCorrection(doc_, target.pos); break;
    case DoubleClick::Beep: QApplication::beep(); return;
    }
    doc_.NotifyUpdate();
}

void CClickView::wheelEvent(QWheelEvent* event)
{
    if (event->modifiers() & Qt::ShiftModifier) return;
    const int dy = event->angleDelta().y();
    if (dy < 0) ZoomOut();
    else if (dy > 0) ZoomIn();
}

void CClickView::UpdateCursorShape(double x)
{
    Qt::CursorShape shape = Qt::ArrowCursor;
    if (Loaded()) {
        const Mapping m = MappingFor(width());
        if (CurrentIsCorrection() && (m.S < kAdjustScaleLimit || Adjusting()) &&
            NearEdge(x, width() / 2.0, MarkerHalfWidth(doc_.events[doc_.selectedEvent].width, m.S)))
            shape = Qt::SizeHorCursor;
        else if (CurrentIsBoundary() && std::fabs(x - m.X(Current()->pos)) < 4)
            shape = Qt::SizeHorCursor;
        else if (doc_.HasBlock()) {
            const BlockPart part = HitBlock(x, m.X(doc_.blockStart), m.X(doc_.blockEnd));
            if (part == BlockPart::StartEdge || part == BlockPart::EndEdge) shape = Qt::SizeHorCursor;
            if (part == BlockPart::Middle) shape = Qt::SizeAllCursor;
        }
    }
    setCursor(shape);
}

// --- the context menu ---------------------------------------------------------------

QMenu* CClickView::BuildContextMenu(QWidget* parent)
{
    struct Item {
        const char* text;
        const char* key;
        std::optional<Command> rule;
    };
    static const Item kBlockItems[] = {
        {"Play Block - Original", "playOriginal", std::nullopt},
        {"Play Block - Corrected", "playCorrected", std::nullopt},
        {"Remove Corrections", "blockRemove", Command::RemoveCorrections},
        {"Re-Scan", "blockRescan", Command::RescanClicksBlock},
        {"Super-Scan", "blockSuperScan", Command::SuperScanClicksBlock},
        {"Merge Tracks in Block", "blockMerge", Command::MergeTracksInBlock},
        {"Cancel Block\tQ", "cancelBlock", Command::CancelBlock},
    };
    static const Item kPlainItems[] = {{"Split Track", "splitTrack", Command::SplitTrack}};
    auto* menu = new QMenu(parent);
    menu->setObjectName("clickViewMenu");
    const ViewState view = State();
    const bool block = doc_.HasBlock();
    for (const Item& item : block ? std::span<const Item>(kBlockItems) : std::span<const Item>(kPlainItems)) {
        QAction* action = menu->addAction(item.text);
        action->setObjectName(item.key);
        // Playing a block comes with playback.
        action->setEnabled(item.rule && QueryCommand(*item.rule, doc_, view).enabled);
        const char* key = item.key;
        connect(action, &QAction::triggered, this, [this, key] { RunCommand(key); });
    }
    return menu;
}

void CClickView::RunCommand(const char* key)
{
    if (commandHandler_) {
        commandHandler_(key);
        return;
    }
    const std::string k = key;
    if (k == "blockRemove") RemoveCorrectionsInBlock(doc_);
    else if (k == "cancelBlock") CancelBlock();
    else if (k == "blockMerge") MergeTracksInBlock(doc_);
    else if (k == "splitTrack") SplitTrack(doc_, Centre());
    update();
}

void CClickView::contextMenuEvent(QContextMenuEvent* event)
{
    if (!Loaded() || Busy()) return;
    QMenu* menu = BuildContextMenu(this);
    const QPoint at = event->reason() == QContextMenuEvent::Keyboard ? mapToGlobal(QPoint(5, 5)) : event->globalPos();
    menu->exec(at);
    delete menu;
}

}  // namespace kelvane
