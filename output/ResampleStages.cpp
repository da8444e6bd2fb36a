#include "output/ResampleStages.h"

#include <algorithm>
#include <utility>

namespace kelvane {

namespace {

// History a polyphase stage no longer needs is dropped once this much has
// piled up, so the copy is rare and the buffer stays small.
constexpr int64_t kHistorySlack = 1 << 16;

}  // namespace

PolyphaseTable::PolyphaseTable(const std::vector<double>& h, int64_t upFactor, int64_t downFactor)
    : up(upFactor), down(downFactor), centre((static_cast<int64_t>(h.size()) - 1) / 2)
{
    const auto n = static_cast<int64_t>(h.size());
    taps = static_cast<int>((n + up - 1) / up);
    coeffs.assign(static_cast<size_t>(up * taps), 0.0);
    for (int64_t p = 0; p < up; ++p) {
        for (int i = 0; i < taps; ++i) {
            const int64_t k = p + static_cast<int64_t>(taps - 1 - i) * up;
            if (k < n) coeffs[static_cast<size_t>(p * taps + i)] = h[static_cast<size_t>(k)];
        }
    }
}

CPolyphaseStage::CPolyphaseStage(std::shared_ptr<const PolyphaseTable> table)
    : table_(std::move(table)), history_(static_cast<size_t>(table_->taps - 1), 0.0), base_(-(table_->taps - 1)),
      j_(table_->centre / table_->up), p_(table_->centre % table_->up)
{
}

// Output m is the filter centred on position m * down of the signal at rate
// L, where the input sample j sits at j * up. Of the taps only those of the
// phase (m * down + centre) mod up meet input samples.
void CPolyphaseStage::Run(int64_t maxOutputs, std::vector<double>& out)
{
    const PolyphaseTable& t = *table_;
    const int64_t available = base_ + static_cast<int64_t>(history_.size());
    const int64_t stepJ = t.down / t.up;
    const int64_t stepP = t.down % t.up;
    const int taps = t.taps;
    for (; next_ < maxOutputs && j_ < available; ++next_) {
        const double* c = t.coeffs.data() + p_ * taps;
        const double* x = history_.data() + (j_ - (taps - 1) - base_);
        // Four partial sums keep the additions from waiting on each other.
        double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
        int i = 0;
        for (; i + 4 <= taps; i += 4) {
            s0 += c[i] * x[i];
            s1 += c[i + 1] * x[i + 1];
            s2 += c[i + 2] * x[i + 2];
            s3 += c[i + 3] * x[i + 3];
        }
        for (; i < taps; ++i) s0 += c[i] * x[i];
        out.push_back((s0 + s1) + (s2 + s3));
        j_ += stepJ;
        p_ += stepP;
        if (p_ >= t.up) {
            p_ -= t.up;
            ++j_;
        }
    }
    const int64_t needed = j_ - (taps - 1);
    const int64_t drop = std::min<int64_t>(needed - base_, static_cast<int64_t>(history_.size()));
    if (drop > kHistorySlack) {
        history_.erase(history_.begin(), history_.begin() + drop);
        base_ += drop;
    }
}

void CPolyphaseStage::Push(const double* in, size_t n, std::vector<double>& out)
{
    history_.insert(history_.end(), in, in + n);
    Run(INT64_MAX, out);
}

void CPolyphaseStage::Finish(int64_t total, std::vector<double>& out)
{
    if (total <= next_) return;
    const PolyphaseTable& t = *table_;
    const int64_t last = ((total - 1) * t.down + t.centre) / t.up;
    const int64_t have = base_ + static_cast<int64_t>(history_.size());
    if (last >= have) history_.resize(history_.size() + static_cast<size_t>(last + 1 - have), 0.0);
    Run(total, out);
}

FftFilterKernel::FftFilterKernel(const std::vector<double>& h, int size)
    : fftSize(size), taps(static_cast<int64_t>(h.size())), block(size - static_cast<int64_t>(h.size()) + 1),
      spectrum(static_cast<size_t>(size), 0.0)
{
    std::copy(h.begin(), h.end(), spectrum.begin());
    CRealFft fft;
    fft.Forward(spectrum.data(), fftSize);
}

CFftFilterStage::CFftFilterStage(std::shared_ptr<const FftFilterKernel> kernel)
    : kernel_(std::move(kernel)), skip_((kernel_->taps - 1) / 2)
{
    for (std::vector<double>& b : buffers_) b.assign(static_cast<size_t>(kernel_->fftSize), 0.0);
}

void CFftFilterStage::RunBlock(std::vector<double>& out)
{
    const FftFilterKernel& k = *kernel_;
    const auto size = static_cast<size_t>(k.fftSize);
    const auto block = static_cast<size_t>(k.block);
    double* a = buffers_[current_].data();
    std::fill(a + filled_, a + size, 0.0);
    const double* s = k.spectrum.data();
    fft_.Forward(a, k.fftSize);
    a[0] *= s[0];
    a[1] *= s[1];
    for (size_t i = 2; i < size; i += 2) {
        const double re = a[i] * s[i] - a[i + 1] * s[i + 1];
        const double im = a[i] * s[i + 1] + a[i + 1] * s[i];
        a[i] = re;
        a[i + 1] = im;
    }
    fft_.Inverse(a, k.fftSize);

    // The block's first size - block outputs also get the previous block's
    // spill; the rest are this block's alone.
    const double* spill = buffers_[1 - current_].data() + block;
    const size_t spilled = size - block;
    const size_t drop = static_cast<size_t>(std::min<int64_t>(skip_, k.block));
    const size_t start = out.size();
    out.resize(start + block - drop);
    double* to = out.data() + start;
    const size_t joint = std::max(drop, std::min(spilled, block));
    for (size_t i = drop; i < joint; ++i) *to++ = a[i] + spill[i];
    for (size_t i = joint; i < block; ++i) *to++ = a[i];
    skip_ -= static_cast<int64_t>(drop);
    produced_ += static_cast<int64_t>(block - drop);
    current_ = 1 - current_;
    filled_ = 0;
}

void CFftFilterStage::Push(const double* in, size_t n, std::vector<double>& out)
{
    const auto block = static_cast<size_t>(kernel_->block);
    while (n > 0) {
        const size_t take = std::min(n, block - filled_);
        std::copy(in, in + take, buffers_[current_].begin() + static_cast<std::ptrdiff_t>(filled_));
        filled_ += take;
        in += take;
        n -= take;
        if (filled_ == block) RunBlock(out);
    }
}

void CFftFilterStage::Finish(int64_t total, std::vector<double>& out)
{
    const size_t start = out.size();
    const int64_t before = produced_;
    while (produced_ < total) RunBlock(out);
    const int64_t keep = std::max<int64_t>(0, total - before);
    if (static_cast<int64_t>(out.size() - start) > keep) out.resize(start + static_cast<size_t>(keep));
    produced_ = std::max(before, total);
}

void CResampleChain::Add(std::unique_ptr<IResampleStage> stage, int64_t total)
{
    stages_.push_back(std::move(stage));
    totals_.push_back(total);
    buffers_.emplace_back();
}

void CResampleChain::Push(const double* in, size_t n, std::vector<double>& out)
{
    for (size_t i = 0; i < stages_.size(); ++i) {
        const bool last = i + 1 == stages_.size();
        std::vector<double>& to = last ? out : buffers_[i];
        if (!last) to.clear();
        stages_[i]->Push(in, n, to);
        if (!last) {
            in = to.data();
            n = to.size();
        }
    }
}

void CResampleChain::Finish(std::vector<double>& out)
{
    for (size_t i = 0; i < stages_.size(); ++i) {
        const bool last = i + 1 == stages_.size();
        std::vector<double>& to = last ? out : buffers_[i];
        if (!last) to.clear();
        if (i > 0) stages_[i]->Push(buffers_[i - 1].data(), buffers_[i - 1].size(), to);
        stages_[i]->Finish(totals_[i], to);
    }
}

}  // namespace kelvane
