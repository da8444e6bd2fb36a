#pragma once
// The filtering part of a sample-rate conversion, in doubles: interleaved
// frames at the plan's source rate in, interleaved frames at its target rate
// out, every channel through its own chain of stages (ResampleStages.h)
// sharing one set of filter tables. A plan for equal rates passes the frames
// through.
//
// With two or more channels, half of them are filtered on a helper thread
// while the caller's thread does the others; each call returns only when
// both are done, so callers see a plain single-threaded object.

#include "output/ResampleRatios.h"
#include "output/ResampleStages.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace kelvane {

class CRateConverter {
public:
    // inputFrames: how long the whole input is, so that the output can come
    // out exactly ceil(inputFrames x target / source) frames long.
    CRateConverter(const ResamplePlan& plan, int channels, int64_t inputFrames);
    ~CRateConverter();
    CRateConverter(const CRateConverter&) = delete;
    CRateConverter& operator=(const CRateConverter&) = delete;

    int64_t OutputFrames() const { return outputFrames_; }

    // Appends the interleaved output frames that are ready to out.
    void Push(const double* interleaved, size_t frames, std::vector<double>& out);
    // The input is complete: appends the rest of the output.
    void Finish(std::vector<double>& out);

private:
    struct Filters;

    void Interleave(std::vector<double>& out);
    // Runs work(c) for every channel c, split over two threads when there
    // are several channels.
    template <typename Work>
    void ForEachChannel(const Work& work);

    ResamplePlan plan_;
    int channels_;
    int64_t outputFrames_;
    std::unique_ptr<Filters> filters_;
    std::vector<CResampleChain> chains_;
    std::vector<std::vector<double>> single_;
    std::vector<std::vector<double>> converted_;
};

}  // namespace kelvane
