#pragma once
// The streaming filter stages of the sample-rate converter, one chain per
// channel. Every stage is zero-delay: output n of a stage is the sample at
// time n / (its output rate), the filters' own delays being taken out here,
// so that a converted file lines up with its source sample for sample.
//
// The filter tables are built once per conversion and shared, read-only, by
// the channels' stages; each stage has its own working state, so different
// channels may run on different threads.

#include "spectral/CRealFft.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace kelvane {

class IResampleStage {
public:
    virtual ~IResampleStage() = default;
    // Takes n more input samples and appends to out every output whose
    // inputs have all arrived.
    virtual void Push(const double* in, size_t n, std::vector<double>& out) = 0;
    // The input has ended (zeros from here on): appends outputs until total
    // have been produced since the start.
    virtual void Finish(int64_t total, std::vector<double>& out) = 0;
};

// A filter h of N taps (N odd, centred) at rate L = up x input rate =
// down x output rate, stored as `up` phases of `taps` coefficients each, so
// that each output costs only the taps of its own phase.
struct PolyphaseTable {
    PolyphaseTable(const std::vector<double>& h, int64_t up, int64_t down);
    int64_t up;
    int64_t down;
    int64_t centre;  // (N - 1) / 2
    int taps;        // ceil(N / up)
    // Phase p's taps in reverse, coeffs[p * taps + i] = h[p + (taps - 1 - i) * up]
    // (0 past the end of h), so that a phase is a dot product with `taps`
    // consecutive input samples in ascending order.
    std::vector<double> coeffs;
};

// Rate change by up / down through a PolyphaseTable. With a one-tap unit
// table it is plain zero stuffing (up > 1) or keeping every down-th sample.
class CPolyphaseStage final : public IResampleStage {
public:
    explicit CPolyphaseStage(std::shared_ptr<const PolyphaseTable> table);
    void Push(const double* in, size_t n, std::vector<double>& out) override;
    void Finish(int64_t total, std::vector<double>& out) override;

private:
    void Run(int64_t limit, std::vector<double>& out);

    std::shared_ptr<const PolyphaseTable> table_;
    std::vector<double> history_;  // inputs from absolute index base_ on
    int64_t base_;
    int64_t next_ = 0;  // index of the next output
    // Where the next output's filter sits: q = next_ * down + centre, as
    // input index j = q / up and phase p = q % up, kept up to date by
    // addition so that no output needs a division.
    int64_t j_;
    int64_t p_;
};

// A long FIR at one rate, applied by overlap-add of FFT blocks: each block of
// B = fftSize - N + 1 inputs is transformed, multiplied by the filter's
// spectrum and transformed back, and the N - 1 samples that spill past the
// block are added into the next one.
struct FftFilterKernel {
    FftFilterKernel(const std::vector<double>& h, int fftSize);
    int fftSize;
    int64_t taps;
    int64_t block;
    std::vector<double> spectrum;  // packed as CRealFft packs it
};

class CFftFilterStage final : public IResampleStage {
public:
    explicit CFftFilterStage(std::shared_ptr<const FftFilterKernel> kernel);
    void Push(const double* in, size_t n, std::vector<double>& out) override;
    void Finish(int64_t total, std::vector<double>& out) override;

private:
    void RunBlock(std::vector<double>& out);

    std::shared_ptr<const FftFilterKernel> kernel_;
    CRealFft fft_;
    // Two transform buffers in turn: the current one collects the inputs of
    // the block being filled and is transformed in place; the other still
    // holds, from its block index on, what the previous block spilled over.
    std::vector<double> buffers_[2];
    int current_ = 0;
    size_t filled_ = 0;
    int64_t skip_;  // outputs still to drop for the filter's delay
    int64_t produced_ = 0;
};

// The stages of one channel in order, with the number of outputs each is to
// deliver in all for an input of a known length.
class CResampleChain {
public:
    void Add(std::unique_ptr<IResampleStage> stage, int64_t total);
    bool Empty() const { return stages_.empty(); }
    // Appends what the chain has ready to out.
    void Push(const double* in, size_t n, std::vector<double>& out);
    // Flushes the chain: out gets the rest, up to the last stage's total.
    void Finish(std::vector<double>& out);

private:
    std::vector<std::unique_ptr<IResampleStage>> stages_;
    std::vector<int64_t> totals_;
    std::vector<std::vector<double>> buffers_;
};

}  // namespace kelvane
