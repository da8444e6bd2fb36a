#include "CQuillon3View.h"

#include "declick/ClickListRows.h"
#include "settings/SettingsStore.h"
#include "views/StripGeometry.h"

#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QRadioButton>

#include <algorithm>
#include <vector>

namespace kelvane {

namespace {

constexpr int kLabelAreaHeight = 18;  // the track label at the top left
constexpr int kDragThreshold = 3;

QColor ToQColor(strip::Rgb c) { return QColor(c.r, c.g, c.b); }

}  // namespace

CQuillon3View::CQuillon3View(CQuillon3Doc& doc, QWidget* parent) : QWidget(parent), doc_(doc)
{
    setObjectName("trackStrip");
    setMinimumHeight(strip::kCursorBottom + 4);
    setMaximumHeight(strip::kCursorBottom + 10);
    setMouseTracking(true);
    bar_ = new QWidget(this);
    auto* layout = new QHBoxLayout(bar_);
    layout->setContentsMargins(4, 0, 4, 0);
    allTracks_ = new QRadioButton("All Tracks", bar_);
    oneTrack_ = new QRadioButton("Track 1", bar_);
    allTracks_->setChecked(true);
    for (QRadioButton* b : {allTracks_, oneTrack_}) {
        // White labels on the dark strip, but the indicator keeps its own
        // colours: a style sheet's colour would paint the check dot white on
        // the white circle, and the chosen button would not look chosen.
        QPalette palette = b->palette();
        palette.setColor(QPalette::WindowText, Qt::white);
        b->setPalette(palette);
        layout->addWidget(b);
    }
    connect(allTracks_, &QRadioButton::clicked, this, [this] { ChooseTrack(0); });
    connect(oneTrack_, &QRadioButton::clicked, this, [this] {
        const EventRecord* cur = doc_.CurrentEvent();
        int32_t track = 1;
        for (int32_t t = 1; cur && t < doc_.tracks.Size(); ++t)
            if (cur->pos >= doc_.tracks[t].start) track = t;
        ChooseTrack(track);
    });
    doc_.AddObserver(this);
    OnDocUpdate();
}

CQuillon3View::~CQuillon3View() { doc_.RemoveObserver(this); }

void CQuillon3View::OnDocUpdate()
{
    const bool several = doc_.TrackCount() > 1;
    allTracks_->setEnabled(several);
    oneTrack_->setEnabled(several);
    const int32_t shown = ShownTrack();
    oneTrack_->setText(QString("Track %1").arg(shown > 0 ? shown : 1));
    (shown > 0 ? oneTrack_ : allTracks_)->setChecked(true);
    LayoutBar();
    update();
}

int32_t CQuillon3View::ShownTrack() const
{
    return doc_.currentTrack > 0 && doc_.currentTrack < doc_.tracks.Size() ? doc_.currentTrack : 0;
}

void CQuillon3View::ChooseTrack(int32_t track)
{
    if (doc_.TrackCount() < 2) return;
    doc_.currentTrack = track;
    doc_.NotifyUpdate();
}

void CQuillon3View::LayoutBar()
{
    bar_->adjustSize();
    bar_->setGeometry(width() - bar_->width(), strip::kBarTop, bar_->width(), strip::kBarBandBottom - strip::kBarTop);
}

void CQuillon3View::resizeEvent(QResizeEvent*) { LayoutBar(); }

QPixmap CQuillon3View::Render(QSize size) const
{
    QPixmap pixmap(size);
    pixmap.fill(ToQColor(strip::kBackground));
    if (doc_.status == kStatusNotLoaded || doc_.dataEnd <= doc_.dataStart) return pixmap;
    QPainter p(&pixmap);
    const int32_t track = ShownTrack();
    strip::Scale scale{doc_.dataStart, doc_.dataEnd, size.width()};
    if (track > 0) scale = {doc_.tracks[track].start, doc_.tracks[track].end, size.width()};

    // One bar per pixel column from the loudest block under it: the cost
    // follows the width, not the recording's length.
    const auto& levels = doc_.blockLevel;
    const int width = size.width();
    std::vector<int32_t> column(static_cast<size_t>(width), -1);
    const int32_t firstBlock = std::max<int32_t>(0, scale.first / kBlockBytes);
    const int32_t lastBlock = std::min<int32_t>(static_cast<int32_t>(levels.size()), scale.last / kBlockBytes + 1);
    const double blocksPerPixel = std::max(1.0, (lastBlock - firstBlock) / static_cast<double>(width));
    for (int x = 0; x < width; ++x) {
        const int32_t b0 = scale.Position(x) / kBlockBytes;
        const int32_t b1 = std::min<int32_t>(lastBlock, b0 + static_cast<int32_t>(blocksPerPixel));
        int32_t level = -1;
        for (int32_t b = std::max(b0, firstBlock); b <= b1 && b < lastBlock; ++b)
            level = std::max(level, levels[static_cast<size_t>(b)]);
        column[static_cast<size_t>(x)] = level;
    }
    for (int x = 0; x < width; ++x) {
        if (column[static_cast<size_t>(x)] < 0) continue;
        const int top = std::max(0, strip::BarTop(column[static_cast<size_t>(x)]));
        p.setPen(ToQColor(strip::TrackColour(track)));
        p.drawLine(x, top, x, strip::kBarBottom);
    }

    // Ticks: one per column, the highest colour class wins, so tens of
    // thousands of corrections cost one rectangle per pixel at most.
    std::vector<const EventRecord*> tick(static_cast<size_t>(width), nullptr);
    for (int32_t i = 1; i + 1 < doc_.events.Size(); ++i) {
        const EventRecord& e = doc_.events[i];
        if (e.pos < scale.first || e.pos > scale.last) continue;
        const int x = std::clamp(scale.X(e.pos), 0, width - 1);
        const EventRecord*& shown = tick[static_cast<size_t>(x)];
        if (!shown || ColourClass(e) > ColourClass(*shown)) shown = &e;
    }
    for (int x = 0; x < width; ++x)
        if (const EventRecord* e = tick[static_cast<size_t>(x)])
            p.fillRect(x, strip::kTickTop, 2, strip::kTickBottom - strip::kTickTop, ToQColor(strip::TickColour(*e)));

    if (doc_.Settings().Get(settings::Signature) && !doc_.segmentCorrections.empty()) {
        p.setPen(Qt::red);
        QPoint last(-1, 0);
        for (size_t s = 0; s < doc_.segmentCorrections.size(); ++s) {
            const int32_t pos = static_cast<int32_t>(s) * kSegmentBytes;
            if (pos < scale.first || pos > scale.last) continue;
            const QPoint here(scale.X(pos), strip::SignatureY(doc_.segmentCorrections[s]));
            if (last.x() >= 0) p.drawLine(last, here);
            last = here;
        }
    }

    if (const EventRecord* cur = doc_.CurrentEvent(); cur && cur->pos >= scale.first && cur->pos <= scale.last) {
        const int x = scale.X(cur->pos);
        const int top = x >= width - bar_->width() ? strip::kBarBandBottom : 0;
        p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        p.setPen(Qt::white);
        p.drawLine(x, top, x, strip::kCursorBottom);
        p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    }
    if (doc_.HasBlock()) {
        const int x0 = scale.X(doc_.blockStart), x1 = scale.X(doc_.blockEnd);
        p.fillRect(QRect(QPoint(std::min(x0, x1), 0), QPoint(std::max(x0, x1), strip::kCursorBottom)),
                   QColor(255, 255, 255, 48));
    }
    p.setPen(Qt::white);
    p.drawText(4, 14, track > 0 ? QString("Track %1").arg(track) : QString("All Tracks"));
    return pixmap;
}

void CQuillon3View::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.drawPixmap(0, 0, Render(size()));
    if (dragStart_ >= 0 && dragEnd_ >= 0 && std::abs(dragEnd_ - dragStart_) > kDragThreshold) {
        p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        p.fillRect(QRect(QPoint(std::min(dragStart_, dragEnd_), 0), QPoint(std::max(dragStart_, dragEnd_), strip::kCursorBottom)),
                   Qt::white);
    }
}

void CQuillon3View::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || doc_.status == kStatusNotLoaded) return;
    const QPoint at = event->position().toPoint();
    if (at.y() < kLabelAreaHeight && at.x() < 100) {
        if (ShownTrack() > 0) ChooseTrack(0);
        else oneTrack_->click();
        return;
    }
    dragStart_ = dragEnd_ = at.x();
}

void CQuillon3View::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    setCursor(at.y() < kLabelAreaHeight && at.x() < 100 ? Qt::PointingHandCursor : Qt::ArrowCursor);
    if (dragStart_ < 0) return;
    dragEnd_ = at.x();
    update();
}

void CQuillon3View::mouseReleaseEvent(QMouseEvent* event)
{
    if (dragStart_ < 0) return;
    const int start = dragStart_, end = event->position().toPoint().x();
    dragStart_ = dragEnd_ = -1;
    const int32_t track = ShownTrack();
    strip::Scale scale{doc_.dataStart, doc_.dataEnd, width()};
    if (track > 0) scale = {doc_.tracks[track].start, doc_.tracks[track].end, width()};
    if (std::abs(end - start) > kDragThreshold) {
        MarkBlock(doc_, scale.Position(start), scale.Position(end));
        return;
    }
    if (const int32_t index = NearestEvent(doc_, scale.Position(end)); index > 0) {
        doc_.selectedEvent = index;
        doc_.NotifyUpdate();
    }
}

void CQuillon3View::contextMenuEvent(QContextMenuEvent* event)
{
    if (contextMenu_) contextMenu_->popup(event->globalPos());
}

}  // namespace kelvane
