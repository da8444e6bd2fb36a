#include "CBoundaryFade.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPolygonF>

namespace kelvane {

using namespace fadeview;

namespace {

// Each half of the control spans this many seconds of audio.
constexpr int kHalfSeconds = 5;

}  // namespace

CBoundaryFade::CBoundaryFade(CQuillon3Doc& doc, QWidget* parent) : QWidget(parent), doc_(doc)
{
    setObjectName("boundaryFade");
    setFixedHeight(48);
    setMinimumWidth(200);
    setMouseTracking(true);
    doc_.AddObserver(this);
}

CBoundaryFade::~CBoundaryFade() { doc_.RemoveObserver(this); }

int32_t CBoundaryFade::MarkerWidth() const
{
    const int32_t i = doc_.selectedEvent;
    if (i < 1 || i > doc_.events.Size() - 2 || !doc_.events[i].IsMarker()) return 0;
    return doc_.events[i].width;
}

Layout CBoundaryFade::LayoutFor(int width) const
{
    return Layout{width, kHalfSeconds * doc_.sampleRate * 4, event::MarkerIsStart(shownWidth_)};
}

void CBoundaryFade::OnDocReset()
{
    shownWidth_ = 0;
    lengths_ = trackLengths_ = {};
    update();
}

void CBoundaryFade::OnDocUpdate()
{
    const int32_t width = MarkerWidth();
    // A dragged handle holds until the boundary or its track changes.
    if (width != 0 && (width != shownWidth_ || LengthsOf(doc_, width) != trackLengths_)) {
        trackLengths_ = lengths_ = LengthsOf(doc_, width);
    }
    shownWidth_ = width;
    update();
}

QImage CBoundaryFade::Render(QSize size) const
{
    QImage image(size, QImage::Format_RGB32);
    QPainter p(&image);
    const int w = size.width(), h = size.height();
    if (shownWidth_ == 0) {
        p.fillRect(0, 0, w, h, QColor(64, 64, 64));
        return image;
    }
    if (ShowsGapless(doc_, shownWidth_)) {
        p.fillRect(0, 0, w, h, QColor(128, 128, 0));
        p.setPen(Qt::white);
        p.drawText(QRect(0, 0, w, h), Qt::AlignCenter, kGaplessNoFades);
        return image;
    }
    p.fillRect(0, 0, w, h, Qt::black);
    const Layout l = LayoutFor(w);
    const double fx = l.FadeX(lengths_.fade), sx = l.SilenceX(lengths_.silence), c = l.Centre();
    // Silent at the boundary, full where the fade ends.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 0));
    p.drawPolygon(QPolygonF({QPointF(c, h - 2), QPointF(fx, 4), QPointF(fx, h - 2)}));
    p.setBrush(QBrush(QColor(255, 0, 0), Qt::BDiagPattern));
    p.drawRect(QRectF(std::min(c, sx), 4, std::abs(sx - c), h - 6));
    p.setPen(QPen(Qt::white, 2));
    p.drawLine(QLineF(fx, 0, fx, h));
    p.drawLine(QLineF(sx, 0, sx, h));
    p.setPen(QPen(QColor(128, 128, 128), 1, Qt::DotLine));
    p.drawLine(QLineF(c, 0, c, h));
    return image;
}

void CBoundaryFade::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.drawImage(0, 0, Render(size()));
}

void CBoundaryFade::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || shownWidth_ == 0 || ShowsGapless(doc_, shownWidth_)) return;
    drag_ = HitHandle(LayoutFor(width()), lengths_, event->position().x());
}

void CBoundaryFade::mouseMoveEvent(QMouseEvent* event)
{
    const double x = event->position().x();
    const Layout l = LayoutFor(width());
    if (drag_ == Handle::None) {
        const bool near = shownWidth_ != 0 && !ShowsGapless(doc_, shownWidth_) && HitHandle(l, lengths_, x) != Handle::None;
        setCursor(near ? Qt::SizeHorCursor : Qt::ArrowCursor);
        return;
    }
    if (drag_ == Handle::Fade) lengths_.fade = l.FadeAt(x);
    else lengths_.silence = l.SilenceAt(x);
    update();
}

void CBoundaryFade::mouseReleaseEvent(QMouseEvent*) { drag_ = Handle::None; }

}  // namespace kelvane
