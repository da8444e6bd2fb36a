#include "views/ClickViewScale.h"

#include "document/CQuillon3Doc.h"

#include <algorithm>
#include <cstdio>

namespace kelvane::clickview {

int TopIndex(ScaleMode mode) { return mode == ScaleMode::Wave ? 20 : 7; }

std::span<const int32_t> ScaleTable(const CQuillon3Doc& doc, ScaleMode mode)
{
    return mode == ScaleMode::Wave ? std::span<const int32_t>(doc.scaleSteps)
                                   : std::span<const int32_t>(doc.coarseScaleSteps);
}

int32_t FramesPerDivision(std::span<const int32_t> table, int index)
{
    if (table.size() < 2) return 50;
    index = std::clamp(index, 1, static_cast<int>(table.size()) - 1);
    return table[static_cast<size_t>(index)];
}

int HighestIndex(std::span<const int32_t> table, int top, int64_t dataFrames, int viewWidth)
{
    top = std::min(top, static_cast<int>(table.size()) - 1);
    const double divisions = std::max(1, viewWidth) / static_cast<double>(kPixelsPerDivision);
    int highest = 1;
    for (int i = 1; i <= top; ++i)
        if (table[static_cast<size_t>(i)] * divisions <= static_cast<double>(dataFrames)) highest = i;
    return std::max(highest, std::min(kLowestTopIndex, std::max(top, 1)));
}

int ClampIndex(int index, int highest) { return std::clamp(index, 1, std::max(1, highest)); }

ScaleLabel LabelFor(int32_t s, int32_t rate)
{
    char text[32];
    if (s < rate / 10) {
        std::snprintf(text, sizeof text, "%d", s);
        return {"H Smp/Div", text};
    }
    if (static_cast<int64_t>(s) < 60LL * rate) {
        std::snprintf(text, sizeof text, "%.1f", static_cast<double>(s) / rate);
        return {"H Sec/Div", text};
    }
    std::snprintf(text, sizeof text, "%.1f", static_cast<double>(s) / (60.0 * rate));
    return {"H Min/Div", text};
}

}  // namespace kelvane::clickview
