#include "views/ClickViewGeometry.h"

#include "document/CQuillon3Doc.h"
#include "views/ClickViewScale.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace kelvane::clickview {

double Mapping::X(int64_t pos) const { return width / 2.0 + static_cast<double>(pos - current) * 12.5 / S; }

int32_t Mapping::Position(double x) const
{
    if (dataEnd <= dataStart) return dataStart;
    const double raw = current + (x - width / 2.0) * UnitsPerPixel();
    const double clamped = std::clamp(raw, static_cast<double>(dataStart), static_cast<double>(dataEnd));
    const int64_t p = static_cast<int64_t>(std::floor(clamped));
    // Frames lie on dataStart + 4k: the same grid as the cursor and the list.
    return static_cast<int32_t>(dataStart + (p - dataStart) / 4 * 4);
}

TracePlan PlanTraces(const Mapping& m, size_t envelopeBlocks)
{
    TracePlan plan;
    if (m.width <= 0 || m.dataEnd <= m.dataStart) return plan;
    const int32_t first = m.Position(-1);
    const int32_t last = m.Position(m.width + 1);
    if (m.S > kLastSampleScale) {
        plan.envelope = true;
        plan.first = first / kBlockBytes;
        plan.last = std::min(static_cast<int32_t>(envelopeBlocks), last / kBlockBytes + 1);
        return plan;
    }
    plan.first = first;
    plan.last = std::min(m.dataEnd, last + 4);
    return plan;
}

void SampleColumns(const int16_t* frames, int64_t count, int32_t first, const Mapping& m, std::vector<Column>& left,
                   std::vector<Column>& right, bool merge)
{
    const size_t width = static_cast<size_t>(std::max(0, m.width));
    for (std::vector<Column>* out : {&left, &right})
        if (!merge || out->size() != width) out->assign(width, Column{});
    // Column x holds the frames i with floor(x0 + i x 50 / S) = x. Walking
    // the columns and scanning each one's frames once for both channels
    // keeps the inner loop to plain mins and maxes, which is what a wide
    // stretch spends its time on.
    const double x0 = m.X(first);
    const double framesPerPixel = m.S / 50.0;
    const int64_t startColumn = std::max<int64_t>(0, static_cast<int64_t>(std::floor(x0)));
    for (int64_t x = startColumn; x < m.width; ++x) {
        const int64_t i0 = std::max<int64_t>(0, static_cast<int64_t>(std::ceil((x - x0) * framesPerPixel)));
        const int64_t i1 = std::min(count, static_cast<int64_t>(std::ceil((x + 1 - x0) * framesPerPixel)));
        if (i0 >= count) break;
        if (i1 <= i0) continue;
        int32_t loL = frames[2 * i0], hiL = loL, loR = frames[2 * i0 + 1], hiR = loR;
        for (int64_t i = i0 + 1; i < i1; ++i) {
            const int32_t l = frames[2 * i], r = frames[2 * i + 1];
            loL = std::min(loL, l);
            hiL = std::max(hiL, l);
            loR = std::min(loR, r);
            hiR = std::max(hiR, r);
        }
        Column& a = left[static_cast<size_t>(x)];
        a = a.any ? Column{std::min(a.lo, loL), std::max(a.hi, hiL), true} : Column{loL, hiL, true};
        Column& b = right[static_cast<size_t>(x)];
        b = b.any ? Column{std::min(b.lo, loR), std::max(b.hi, hiR), true} : Column{loR, hiR, true};
    }
}

void EnvelopeColumns(const std::vector<std::array<int8_t, 4>>& envelope, const TracePlan& plan, int channel,
                     const Mapping& m, std::vector<Column>& out)
{
    out.assign(static_cast<size_t>(std::max(0, m.width)), Column{});
    const int64_t first = std::max(0, plan.first);
    const int64_t last = std::min<int64_t>(plan.last, static_cast<int64_t>(envelope.size()));
    const double units = m.UnitsPerPixel();
    const size_t lowAt = static_cast<size_t>(2 * channel), highAt = lowAt + 1;
    for (int x = 0; x < m.width; ++x) {
        // The blocks that meet the column's stretch of positions.
        const double p0 = m.current + (x - m.width / 2.0) * units;
        const int64_t b0 = std::max(first, static_cast<int64_t>(std::floor(p0 / kBlockBytes)));
        const int64_t b1 = std::min(last, static_cast<int64_t>(std::ceil((p0 + units) / kBlockBytes)));
        if (b1 <= b0) continue;
        int32_t lo = 127, hi = -128;
        for (int64_t b = b0; b < b1; ++b) {
            const auto& e = envelope[static_cast<size_t>(b)];
            lo = std::min<int32_t>(lo, e[lowAt]);
            hi = std::max<int32_t>(hi, e[highAt]);
        }
        out[static_cast<size_t>(x)] = {lo * 256, hi * 256, true};
    }
}

int32_t AutoVerticalScale(int32_t peak, int traceSeparation, int height)
{
    const double room = std::max(8.0, (traceSeparation >= 20 ? traceSeparation / 2.0 : height / 2.0) - 2.0);
    return std::max<int32_t>(1, static_cast<int32_t>(std::ceil(std::max(1, peak) * 1.6 / room)));
}

int LevelHeight(int32_t activity)
{
    const double h = 40.0 * std::log10(static_cast<double>(std::max(activity, 1))) - 200.0;
    return std::max(0, static_cast<int>(h));
}

std::vector<LevelColumn> LevelGraph(const CQuillon3Doc& doc, const Mapping& m)
{
    std::vector<LevelColumn> out(static_cast<size_t>(std::max(0, m.width)));
    const double units = m.UnitsPerPixel();
    const int32_t blocks = static_cast<int32_t>(doc.blockLevel.size());
    int32_t track = 1;
    for (int x = 0; x < m.width; ++x) {
        const double p0 = m.current + (x - m.width / 2.0) * units;
        const double p1 = p0 + units;
        if (p1 <= m.dataStart || p0 >= m.dataEnd) continue;
        const int32_t pos = static_cast<int32_t>(std::max<double>(p0, m.dataStart));
        // Columns go left to right, so the track only ever moves forward.
        while (track < doc.tracks.Size() && doc.tracks[track].end <= pos) ++track;
        if (track < doc.tracks.Size() && doc.tracks[track].start <= pos) out[static_cast<size_t>(x)].track = track;
        int32_t activity = 0;
        const int32_t b1 = std::min(blocks - 1, static_cast<int32_t>(std::min<double>(p1, m.dataEnd) / kBlockBytes));
        for (int32_t b = pos / kBlockBytes; b <= b1; ++b)
            activity = std::max(activity, doc.blockLevel[static_cast<size_t>(b)]);
        out[static_cast<size_t>(x)].height = LevelHeight(activity);
    }
    return out;
}

const Scheme& SchemeColours(int scheme)
{
    static const Scheme kSchemes[3] = {
        {{150, 150, 0}, {0, 150, 150}, {128, 128, 128}, {255, 255, 255}, {255, 255, 255}, {255, 255, 192},
         {{160, 160, 255}, {255, 160, 160}}},
        {{255, 255, 255}, {150, 200, 200}, {200, 255, 255}, {128, 128, 128}, {0, 0, 255}, {255, 255, 32},
         {{100, 100, 200}, {200, 100, 100}}},
        {{180, 180, 180}, {0, 150, 150}, {128, 128, 128}, {255, 255, 255}, {255, 255, 255}, {255, 255, 192},
         {{160, 160, 255}, {255, 160, 160}}},
    };
    return kSchemes[scheme >= 0 && scheme <= 2 ? scheme : 0];
}

int MarkerHalfWidth(int32_t width, int32_t S)
{
    return ((width / 4 % 128) * 25 + 25) / std::max(1, S);
}

bool NearEdge(double x, double centreX, int halfWidth) { return std::fabs(std::fabs(x - centreX) - halfWidth) < 4.0; }

int32_t DragWidth(double d, int32_t S, int32_t oldWidth)
{
    const int64_t n = static_cast<int64_t>(std::floor(2.0 * std::fabs(d) * S / 50.0));
    const int32_t code = n >= 75 ? 300 : static_cast<int32_t>(4 * n);
    return (oldWidth & (event::kLeftUncorrected | event::kRightUncorrected)) | code;
}

ScrollRange ScrollFor(const Mapping& m)
{
    ScrollRange r;
    if (m.dataEnd <= m.dataStart) return r;
    constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
    r.maximum = static_cast<int32_t>((static_cast<int64_t>(m.dataEnd) - m.dataStart) / 4);
    r.page = static_cast<int32_t>(std::clamp<int64_t>(static_cast<int64_t>(m.S) * m.width / 50, 1, kMax));
    r.step = std::max<int32_t>(1, m.S);
    r.value = static_cast<int32_t>(std::clamp<int64_t>((static_cast<int64_t>(m.current) - m.dataStart) / 4, 0, r.maximum));
    return r;
}

int32_t ScrollPosition(const Mapping& m, int64_t value)
{
    if (m.dataEnd <= m.dataStart) return m.dataStart;
    const int64_t frames = (static_cast<int64_t>(m.dataEnd) - m.dataStart) / 4;
    return static_cast<int32_t>(m.dataStart + 4 * std::clamp<int64_t>(value, 0, frames));
}

int32_t BoundaryDrop(int32_t pos, int32_t dataAlign) { return dataAlign + pos / kSectorBytes * kSectorBytes; }

int32_t SoundEdge(const CQuillon3Doc& doc, const EventRecord& marker, int32_t limit)
{
    const int32_t blocks = static_cast<int32_t>(doc.blockLevel.size());
    const int dir = event::MarkerIsStart(marker.width) ? 1 : -1;
    const int32_t steps = std::max(0, limit) / kBlockBytes + 1;
    int32_t b = marker.pos / kBlockBytes;
    for (int32_t i = 0; i < steps && b >= 0 && b < blocks; ++i, b += dir) {
        if (LevelHeight(doc.blockLevel[static_cast<size_t>(b)]) > 0)
            return i == 0 ? marker.pos : (dir > 0 ? b * kBlockBytes : (b + 1) * kBlockBytes);
    }
    return marker.pos + dir * std::max(0, limit);
}

BlockPart HitBlock(double x, double x0, double x1)
{
    const double d0 = std::fabs(x - x0), d1 = std::fabs(x - x1);
    if (d0 < 4.0 || d1 < 4.0) return d0 <= d1 ? BlockPart::StartEdge : BlockPart::EndEdge;
    if (x > x0 + 4.0 && x < x1 - 4.0) return BlockPart::Middle;
    return BlockPart::Outside;
}

BlockRange MoveBlock(BlockRange block, int32_t delta, int32_t dataStart, int32_t dataEnd)
{
    const int32_t length = block.end - block.start;
    const int32_t start = std::clamp(block.start + delta, dataStart, std::max(dataStart, dataEnd - length));
    return {start, start + length};
}

BlockRange ResizeBlock(BlockRange block, BlockPart end, int32_t pos)
{
    if (end == BlockPart::StartEdge) block.start = std::min(pos, block.end);
    if (end == BlockPart::EndEdge) block.end = std::max(pos, block.start);
    return block;
}

ArrowMove ArrowTarget(const CQuillon3Doc& doc, int32_t from, int dir, int64_t frames, bool playing)
{
    const int64_t target = from + dir * frames * 4;
    if (!playing) {
        const int32_t last = doc.events.Size() - 2;
        if (dir > 0) {
            for (int32_t i = 1; i <= last; ++i) {
                const EventRecord& e = doc.events[i];
                if (e.IsMarker() && e.pos > from) {
                    if (e.pos <= target) return {i, e.pos};
                    break;
                }
            }
        } else {
            for (int32_t i = last; i >= 1; --i) {
                const EventRecord& e = doc.events[i];
                if (e.IsMarker() && e.pos < from) {
                    if (e.pos >= target) return {i, e.pos};
                    break;
                }
            }
        }
    }
    const int64_t clamped = std::clamp<int64_t>(target, doc.dataStart, std::max(doc.dataStart, doc.dataEnd - 4));
    return {0, static_cast<int32_t>(clamped)};
}

int64_t ArrowFrames(int32_t S, int width, bool adjusting, bool shift, bool ctrl)
{
    const int64_t wide = static_cast<int64_t>(std::max(1, width / 100)) * S;
    if (adjusting) return ctrl ? wide : shift ? S : 1;
    return shift ? wide : S;
}

DoubleClick DoubleClickTarget(const CQuillon3Doc& doc, int32_t pos, int32_t S, bool inData)
{
    if (!inData) return {DoubleClick::Beep, 0, pos};
    const int32_t last = doc.events.Size() - 2;
    int32_t best = 0;
    int64_t bestDistance = static_cast<int64_t>(S) + 1;
    for (int32_t i = 1; i <= last; ++i) {
        const EventRecord& e = doc.events[i];
        const int64_t d = std::llabs(static_cast<int64_t>(e.pos) - pos);
        if (e.IsCorrection() && d < bestDistance) {
            best = i;
            bestDistance = d;
        }
    }
    if (best != 0) return {DoubleClick::Correction, best, doc.events[best].pos};
    for (int32_t i = 1; i <= last; ++i) {
        const EventRecord& e = doc.events[i];
        if (e.IsMarker() && e.pos >= pos && e.pos - pos <= S) return {DoubleClick::Boundary, i, e.pos};
        if (e.pos > pos + S) break;
    }
    return {DoubleClick::Cursor, 0, pos};
}

std::string TrackLabel(int32_t track, const std::string& title, bool boundaryView)
{
    char text[64];
    if (boundaryView) {
        std::snprintf(text, sizeof text, " Track %d ", track);
        return text;
    }
    if (title.empty() || title == "???") {
        std::snprintf(text, sizeof text, "Track %d", track);
        return text;
    }
    std::snprintf(text, sizeof text, "Tr.%d:", track);
    return text + title + " ";
}

}  // namespace kelvane::clickview
