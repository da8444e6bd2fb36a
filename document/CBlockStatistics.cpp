#include "CBlockStatistics.h"

#include "document/CQuillon3Doc.h"

#include <cstdlib>

namespace kelvane {

// The sign is followed with a hysteresis of +-20 so that noise around zero
// does not count as a change. The sign starts unknown, and the first value
// outside the dead zone is the first sign change: what is subtracted is the
// near-silent lead-in and the first half-wave, not two half-waves. Read the
// other way (the first value only establishes the sign), a quiet block loses
// a whole extra half-wave of its level, and soft intros between pieces look
// like gaps. The value that makes a change already belongs to the new
// half-wave. Only the first two changes matter, so a channel stops following
// its sign after the second.
void CBlockStatistics::Channel::Follow(const int16_t* v, int64_t n)
{
    // Scanning loops with one predictable test each: the sign logic runs
    // once per half-wave, not once per sample.
    int64_t k = 0;
    while (k < n && changes < 2) {
        int32_t& sum = changes == 0 ? firstSum : secondSum;
        if (sign == 0) {
            while (k < n && v[2 * k] <= 20 && v[2 * k] >= -20) sum += v[2 * k++];
            if (k == n) break;
            sign = v[2 * k] > 20 ? 1 : -1;
            changes = 1;
            secondSum += v[2 * k++];
        } else if (sign > 0) {
            while (k < n && v[2 * k] >= -20) sum += v[2 * k++];
            if (k == n) break;
            sign = -1;
            ++changes;
            ++k;
        } else {
            while (k < n && v[2 * k] <= 20) sum += v[2 * k++];
            if (k == n) break;
            sign = 1;
            ++changes;
            ++k;
        }
    }
}

void CBlockStatistics::Complete()
{
    if (block_ < 0) return;
    const auto b = static_cast<size_t>(block_);
    if (b < level_.size()) {
        const int32_t partial = std::abs(left_.firstSum) + std::abs(left_.secondSum) + std::abs(right_.firstSum) +
                                std::abs(right_.secondSum);
        level_[b] += sum_ - partial;
        envelope_[b] = {static_cast<int8_t>(left_.minimum / 256), static_cast<int8_t>(left_.maximum / 256),
                        static_cast<int8_t>(right_.minimum / 256), static_cast<int8_t>(right_.maximum / 256)};
    }
    block_ = -1;
    sum_ = 0;
    left_ = {};
    right_ = {};
}

void CBlockStatistics::Add(int32_t pos, const int16_t* frames, int32_t frameCount)
{
    for (int32_t i = 0; i < frameCount;) {
        const int64_t p = static_cast<int64_t>(pos) + 4 * static_cast<int64_t>(i);
        const int64_t block = p / kBlockBytes;
        if (block != block_) {
            Complete();
            block_ = block;
        }
        // Frames up to the end of this block, in one tight loop.
        const int64_t blockEndPos = (block + 1) * kBlockBytes;
        int64_t n = (blockEndPos - p + 3) / 4;
        if (n > frameCount - i) n = frameCount - i;
        const int16_t* f = frames + 2 * static_cast<int64_t>(i);
        // The level and the envelope do not depend on the order of the
        // samples: one branch-free loop the compiler can vectorise.
        int32_t sum = 0;
        int32_t mnL = left_.minimum, mxL = left_.maximum, mnR = right_.minimum, mxR = right_.maximum;
        for (int64_t k = 0; k < n; ++k) {
            const int32_t l = f[2 * k], r = f[2 * k + 1];
            sum += (l < 0 ? -l : l) + (r < 0 ? -r : r);
            mnL = l < mnL ? l : mnL;
            mxL = l > mxL ? l : mxL;
            mnR = r < mnR ? r : mnR;
            mxR = r > mxR ? r : mxR;
        }
        left_.minimum = mnL;
        left_.maximum = mxL;
        right_.minimum = mnR;
        right_.maximum = mxR;
        sum_ += sum;
        left_.Follow(f, n);
        right_.Follow(f + 1, n);
        i += static_cast<int32_t>(n);
        if (p + 4 * n >= blockEndPos) Complete();
    }
}

void CBlockStatistics::Finish() { Complete(); }

}  // namespace kelvane
