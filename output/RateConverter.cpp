#include "output/RateConverter.h"

#include "output/KaiserFir.h"

#include <exception>
#include <system_error>
#include <thread>

namespace kelvane {

namespace {

// ceil(a * b / c) without overflow for the sizes a WAV file can have.
int64_t ScaledUp(int64_t a, int64_t b, int64_t c)
{
    const __int128 p = static_cast<__int128>(a) * b;
    return static_cast<int64_t>((p + c - 1) / c);
}

}  // namespace

// The filters of one conversion, shared by its channels.
struct CRateConverter::Filters {
    std::shared_ptr<const PolyphaseTable> shortTable;
    std::shared_ptr<const PolyphaseTable> stepTable;  // zero stuffing or keeping every osf-th sample
    std::shared_ptr<const FftFilterKernel> longKernel;

    explicit Filters(const ResamplePlan& plan)
    {
        const double beta = KaiserBeta(kResampleAttenuationDb);
        const int64_t up = plan.up ? plan.lcm / plan.source : plan.lcm / plan.fs1;
        const int64_t down = plan.up ? plan.lcm / plan.fs1 : plan.lcm / plan.target;
        std::vector<double> h{1.0};
        if (plan.shortTaps > 1)
            h = KaiserLowpass(plan.shortTaps, plan.shortCutoff, static_cast<double>(plan.lcm), beta,
                              static_cast<double>(up));
        shortTable = std::make_shared<PolyphaseTable>(h, up, down);
        stepTable = plan.up ? std::make_shared<PolyphaseTable>(std::vector<double>{1.0}, 1, plan.osf)
                            : std::make_shared<PolyphaseTable>(std::vector<double>{1.0}, plan.osf, 1);
        longKernel = std::make_shared<FftFilterKernel>(
            KaiserLowpass(plan.longTaps, plan.longCutoff, static_cast<double>(plan.fs1), beta, plan.longGain),
            plan.fftSize);
    }
};

CRateConverter::CRateConverter(const ResamplePlan& plan, int channels, int64_t inputFrames)
    : plan_(plan), channels_(channels),
      outputFrames_(plan.equal ? inputFrames : ScaledUp(inputFrames, plan.target, plan.source)),
      single_(static_cast<size_t>(channels)), converted_(static_cast<size_t>(channels))
{
    if (plan_.equal) return;
    filters_ = std::make_unique<Filters>(plan_);
    const int64_t atFs1 = ScaledUp(inputFrames, plan_.fs1, plan_.source);
    for (int c = 0; c < channels_; ++c) {
        CResampleChain chain;
        if (plan_.up) {
            chain.Add(std::make_unique<CPolyphaseStage>(filters_->shortTable), atFs1);
            chain.Add(std::make_unique<CFftFilterStage>(filters_->longKernel), atFs1);
            if (plan_.osf > 1) chain.Add(std::make_unique<CPolyphaseStage>(filters_->stepTable), outputFrames_);
        } else {
            if (plan_.osf > 1) chain.Add(std::make_unique<CPolyphaseStage>(filters_->stepTable), atFs1);
            chain.Add(std::make_unique<CFftFilterStage>(filters_->longKernel), atFs1);
            chain.Add(std::make_unique<CPolyphaseStage>(filters_->shortTable), outputFrames_);
        }
        chains_.push_back(std::move(chain));
    }
}

CRateConverter::~CRateConverter() = default;

// All chains see the same lengths, so they deliver the same number of
// samples each time.
void CRateConverter::Interleave(std::vector<double>& out)
{
    const size_t frames = converted_[0].size();
    const auto channels = static_cast<size_t>(channels_);
    const size_t start = out.size();
    out.resize(start + frames * channels);
    for (size_t c = 0; c < channels; ++c) {
        const double* from = converted_[c].data();
        double* to = out.data() + start + c;
        for (size_t f = 0; f < frames; ++f) to[f * channels] = from[f];
    }
}

template <typename Work>
void CRateConverter::ForEachChannel(const Work& work)
{
    const auto channels = static_cast<size_t>(channels_);
    auto share = [&](size_t first) {
        for (size_t c = first; c < channels; c += 2) work(c);
    };
    if (channels < 2) return share(0);
    std::exception_ptr failure;
    std::jthread helper;
    try {
        helper = std::jthread([&] {
            try {
                share(1);
            } catch (...) {
                failure = std::current_exception();
            }
        });
    } catch (const std::system_error&) {
        // No thread to be had: the caller's does it all.
        for (size_t c = 0; c < channels; ++c) work(c);
        return;
    }
    share(0);
    helper.join();
    if (failure) std::rethrow_exception(failure);
}

void CRateConverter::Push(const double* interleaved, size_t frames, std::vector<double>& out)
{
    const auto channels = static_cast<size_t>(channels_);
    if (plan_.equal) {
        out.insert(out.end(), interleaved, interleaved + frames * channels);
        return;
    }
    ForEachChannel([&](size_t c) {
        std::vector<double>& single = single_[c];
        single.resize(frames);
        for (size_t f = 0; f < frames; ++f) single[f] = interleaved[f * channels + c];
        converted_[c].clear();
        chains_[c].Push(single.data(), frames, converted_[c]);
    });
    Interleave(out);
}

void CRateConverter::Finish(std::vector<double>& out)
{
    if (plan_.equal) return;
    ForEachChannel([&](size_t c) {
        converted_[c].clear();
        chains_[c].Finish(converted_[c]);
    });
    Interleave(out);
}

}  // namespace kelvane
