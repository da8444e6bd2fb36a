#pragma once
// The synthetic side both scanner test files work on: quiet music with a
// little noise and clicks planted at known frames (one across the load's
// first chunk border), made once per test binary.

#include "document/CGrowList.h"
#include "document/EventRecord.h"
#include "tests/support/Signals.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kelvane::scantest {

inline std::vector<EventRecord> RealRecords(const CGrowList<EventRecord>& list)
{
    std::vector<EventRecord> out;
    for (int32_t i = 1; i + 1 < list.Size(); ++i) out.push_back(list[i]);
    return out;
}

struct Planted {
    size_t frame;
    int width;
    int32_t amplitude;
    unsigned channels;
};

inline constexpr size_t kFrames = 8 * 65536 + 30000;  // about 12.6 s: eight chunks and a part
inline constexpr size_t kChunkBorderFrame = 1024 + 65536;  // the load's second chunk starts here

// Quiet music with a little noise, made once: the synthesis is the slow part.
inline const std::vector<int32_t>& QuietMusic()
{
    static const std::vector<int32_t> s = [] {
        test::MusicStyle style;
        style.seed = 11;
        style.peak = 0.3;
        std::vector<int32_t> m = test::Music(style, kFrames);
        const auto noise = test::Noise(12, 200, kFrames);
        for (size_t i = 0; i < m.size(); ++i) m[i] = std::clamp(m[i] + noise[i], -32768, 32767);
        return m;
    }();
    return s;
}

inline const std::vector<Planted>& PlantedClicks()
{
    static const std::vector<Planted> clicks = [] {
        std::vector<Planted> c;
        for (int k = 0; k < 10; ++k)
            c.push_back({static_cast<size_t>(20000 + 45000 * k + 37 * k), 1 + k % 10, 3500 + 600 * k,
                         k % 3 == 0 ? test::kLeft : k % 3 == 1 ? test::kRight : test::kBoth});
        c.push_back({kChunkBorderFrame - 8, 16, 6000, test::kBoth});  // straddles the chunk border
        return c;
    }();
    return clicks;
}

// Where a found click's record may lie: around the planted span.
inline bool Near(const EventRecord& r, int32_t dataStart, const Planted& c)
{
    const int64_t frame = (r.pos - dataStart) / 4;
    return frame >= static_cast<int64_t>(c.frame) - 4 && frame <= static_cast<int64_t>(c.frame) + c.width + 4;
}

inline std::vector<int32_t> WithClicks(std::vector<int32_t> s, const std::vector<Planted>& clicks)
{
    for (size_t k = 0; k < clicks.size(); ++k)
        test::AddClick(s, 2, clicks[k].frame, clicks[k].width, clicks[k].amplitude, clicks[k].channels, 100 + k);
    return s;
}

}  // namespace kelvane::scantest
