#include "TrackTimes.h"

#include <cstdio>

namespace kelvane {

std::string FormatMinutes(int64_t frames, int32_t sampleRate)
{
    if (sampleRate <= 0) return "0:00.000";
    const bool negative = frames < 0;
    const int64_t ms = (negative ? -frames : frames) * 1000 / sampleRate;
    char buf[48];
    std::snprintf(buf, sizeof buf, "%s%lld:%02lld.%03lld", negative ? "-" : "", static_cast<long long>(ms / 60000),
                  static_cast<long long>(ms / 1000 % 60), static_cast<long long>(ms % 1000));
    return buf;
}

}  // namespace kelvane
