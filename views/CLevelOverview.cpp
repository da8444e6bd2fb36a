#include "CLevelOverview.h"

#include "declick/ClickListRows.h"
#include "views/StripGeometry.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace kelvane {

CLevelOverview::CLevelOverview(CQuillon3Doc& doc, QWidget* parent) : QWidget(parent), doc_(doc)
{
    setObjectName("levelOverview");
    setMinimumSize(300, 200);
    doc_.AddObserver(this);
}

CLevelOverview::~CLevelOverview() { doc_.RemoveObserver(this); }

void CLevelOverview::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), QColor(0, 0, 0));
    const auto& env = doc_.blockEnvelope;
    if (doc_.status == kStatusNotLoaded || env.empty() || doc_.dataEnd <= doc_.dataStart) {
        p.setPen(QColor(160, 160, 160));
        p.drawText(rect(), Qt::AlignCenter, "Wave Not Loaded");
        return;
    }
    const strip::Scale scale{doc_.dataStart, doc_.dataEnd, width()};
    const int half = height() / 4;
    const int mids[2] = {height() / 4, height() * 3 / 4};
    const QColor colours[2] = {QColor(0, 220, 0), QColor(0, 200, 255)};
    p.setPen(QColor(60, 60, 60));
    for (int mid : mids) p.drawLine(0, mid, width(), mid);
    // The envelope holds each block's extremes divided by 256 as signed
    // bytes; one column shows the widest of the blocks under it.
    for (int x = 0; x < width(); ++x) {
        const size_t b0 = static_cast<size_t>(std::max(0, scale.Position(x) / kBlockBytes));
        const size_t b1 = std::min(env.size(), static_cast<size_t>(scale.Position(x + 1) / kBlockBytes) + 1);
        for (int ch = 0; ch < 2; ++ch) {
            int lo = 127, hi = -128;
            for (size_t b = b0; b < b1; ++b) {
                lo = std::min<int>(lo, env[b][static_cast<size_t>(2 * ch)]);
                hi = std::max<int>(hi, env[b][static_cast<size_t>(2 * ch + 1)]);
            }
            if (hi < lo) continue;
            p.setPen(colours[ch]);
            p.drawLine(x, mids[ch] - hi * half / 128, x, mids[ch] - lo * half / 128);
        }
    }
    if (doc_.HasBlock()) {
        const int x0 = scale.X(doc_.blockStart), x1 = scale.X(doc_.blockEnd);
        p.fillRect(QRect(QPoint(std::min(x0, x1), 0), QPoint(std::max(x0, x1), height())), QColor(255, 255, 255, 60));
    }
    if (const EventRecord* cur = doc_.CurrentEvent()) {
        p.setPen(QColor(255, 255, 0));
        const int x = scale.X(cur->pos);
        p.drawLine(x, 0, x, height());
    }
}

void CLevelOverview::mousePressEvent(QMouseEvent* event)
{
    if (doc_.status == kStatusNotLoaded || event->button() != Qt::LeftButton) return;
    const strip::Scale scale{doc_.dataStart, doc_.dataEnd, width()};
    if (const int32_t index = NearestEvent(doc_, scale.Position(event->position().toPoint().x())); index > 0) {
        doc_.selectedEvent = index;
        doc_.NotifyUpdate();
    }
}

}  // namespace kelvane
