#include "CCorrector.h"

#include "document/CProgressScope.h"
#include "document/CancelQuestions.h"
#include "document/CQuillon3Doc.h"
#include "document/Interaction.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace kelvane {

namespace {

constexpr int kMaxFrames = CCorrector::BufferBytes(96000) / 4;

// Below this magnitude on all four samples of one edge the cubic starts (or
// ends) flat: in a quiet passage the slope of two samples is mostly noise.
constexpr int32_t kQuietEdge = 100;

int16_t ClampTo16(double v)
{
    // Truncated toward zero first, then clamped; in this order it equals
    // clamping first, and no out-of-range double is ever converted.
    v = std::trunc(v);
    if (v > 32767.0) v = 32767.0;
    if (v < -32768.0) v = -32768.0;
    return static_cast<int16_t>(v);
}

std::string Format(const char* pattern, int32_t value)
{
    char text[64];
    std::snprintf(text, sizeof text, pattern, static_cast<int>(value));
    return text;
}

}  // namespace

CCorrector::CCorrector(CQuillon3Doc& doc)
    : doc_(doc),
      before_(2 * kMaxFrames, 0),
      work_(2 * kMaxFrames, 0),
      full_(2 * kMaxFrames, 0),
      reconstruction_(CSpectralRepair::kMaxLength, 0.0f)
{
}

bool CCorrector::CorrectOne(const EventRecord& e)
{
    if (e.width < 0) return false;
    const int32_t rate = doc_.sampleRate;
    const int64_t start = BufferStart(e.pos, rate);
    const int32_t bytes = BufferBytes(rate);
    // The scanner never places a click within 20480 units of either end, so
    // its records always have their whole buffer inside the audio. A record
    // the user inserted, or one from an edited list, may not: such a record is
    // left alone rather than reading the header or past the data.
    if (start < doc_.dataStart || start + bytes > doc_.dataEnd) return false;
    // A position between frames would read the channels crossed over.
    if ((int64_t{e.pos} - doc_.dataStart) % 4 != 0) return false;

    Layout L;
    L.n = AnalysisLength(rate);
    const int marginFrames = MarginBytes(rate) / 4;
    L.clickFrame = L.n + marginFrames;
    L.windowFrame = L.n / 2 + marginFrames;
    L.frames = bytes / 4;

    if (!Rewrite(start, L, e.width)) {
        ++ioErrors_;
        return false;
    }
    return true;
}

bool CCorrector::Rewrite(int64_t start, const Layout& L, int32_t width)
{
    const int samples = 2 * L.frames;
    const int64_t bytes = int64_t{L.frames} * 4;
    CWaveFile& file = doc_.workingFile;
    const bool deep = file.BitsPerSample() == 24;
    // A short read has no system error of its own: the file ended early.
    auto failed = [&](bool io) {
        ioErrorText_ = io && !file.LastError().empty() ? file.LastError()
                                                        : file.Path() + ": the working file ends before the audio does";
        return false;
    };
    if (file.Seek(start) < 0) return failed(false);
    if (deep) {
        // One full-precision read serves both needs: the upper 16 bits are
        // what the synthesis works on, the rest lets unchanged samples keep
        // their low byte.
        const int64_t got = file.Read24(full_.data(), samples);
        if (got != samples) return failed(got < 0);
        for (int i = 0; i < samples; ++i)
            before_[static_cast<size_t>(i)] = static_cast<int16_t>(full_[static_cast<size_t>(i)] >> 8);
    } else {
        const int64_t got = file.Read(before_.data(), bytes);
        if (got != bytes) return failed(got < 0);
    }
    std::copy(before_.begin(), before_.begin() + samples, work_.begin());

    Synthesise(L, width);

    if (file.Seek(start) < 0) return failed(false);
    if (deep) {
        // Writing the 16-bit work buffer back as value x 256 would also drop
        // the low byte of every frame the correction did not change. Only
        // the samples whose value changed take the new 16-bit value.
        for (int i = 0; i < samples; ++i) {
            const auto s = static_cast<size_t>(i);
            if (work_[s] != before_[s]) full_[s] = int32_t{work_[s]} * 256;
        }
        return file.Write24(full_.data(), samples) || failed(true);
    }
    return file.WriteAs24(work_.data(), bytes) || failed(true);
}

void CCorrector::Synthesise(const Layout& L, int32_t width)
{
    const bool enabled[2] = {(width & event::kLeftUncorrected) == 0, (width & event::kRightUncorrected) == 0};
    // With both channels left alone the stretch is written back as it was.
    if (!enabled[0] && !enabled[1]) return;
    const int32_t c = HalfLength(width);
    if (c < kLongFrom)
        ShortCorrection(L, c, enabled);
    else
        LongCorrection(L, c, enabled);
}

void CCorrector::ShortCorrection(const Layout& L, int32_t c, const bool enabled[2])
{
    // Frame f relative to the click, channel ch, in the work buffer.
    auto at = [&](int f, int ch) -> int16_t& { return work_[static_cast<size_t>(2 * (L.clickFrame + f) + ch)]; };
    const int32_t n = 2 * c;
    int32_t e0[2], e1[2], f0[2], f1[2];
    for (int ch = 0; ch < 2; ++ch) {
        e0[ch] = at(-c, ch);
        e1[ch] = at(-c + 1, ch);
        f0[ch] = at(-c + n, ch);
        f1[ch] = at(-c + n + 1, ch);
    }
    // The quiet test looks at both channels, even one that is left alone:
    // the edge is quiet or not for the frame as a whole.
    const bool quietLeft = std::abs(e0[0]) < kQuietEdge && std::abs(e1[0]) < kQuietEdge &&
                           std::abs(e0[1]) < kQuietEdge && std::abs(e1[1]) < kQuietEdge;
    const bool quietRight = std::abs(f0[0]) < kQuietEdge && std::abs(f1[0]) < kQuietEdge &&
                            std::abs(f0[1]) < kQuietEdge && std::abs(f1[1]) < kQuietEdge;
    for (int ch = 0; ch < 2; ++ch) {
        if (quietLeft) e1[ch] = e0[ch];
        if (quietRight) f1[ch] = f0[ch];
    }

    // P(x) = e0 + x (C + x (B + x A)) through (0, e0), (1, e1), (n, f0),
    // (n+1, f1), all in double. The integer differences are exact either way.
    const double nd = n;
    const double S = nd * (nd + 1) * (nd + 2);
    const double U = 3 * nd * (nd + 1);
    const double V = 2 * nd * S - U * nd * (nd + 1);
    for (int ch = 0; ch < 2; ++ch) {
        if (!enabled[ch]) continue;
        const double DL = static_cast<double>((f1[ch] - f0[ch]) - (e1[ch] - e0[ch]));
        const double B = (S * DL - U * static_cast<double>(f1[ch] - (n + 1) * e1[ch] + n * e0[ch])) / V;
        const double A = (DL - 2 * nd * B) / U;
        const double C = static_cast<double>(e1[ch] - e0[ch]) - B - A;
        for (int x = 0; x <= n + 1; ++x) {
            const double xd = x;
            at(-c + x, ch) = ClampTo16(e0[ch] + xd * (C + xd * (B + xd * A)));
        }
    }
}

void CCorrector::LongCorrection(const Layout& L, int32_t c, const bool enabled[2])
{
    const int n = L.n;
    // Width codes from 320 up (possible only in an edited or imported list)
    // would reach past the 512-frame window at 44.1/48 kHz together with
    // their fades; they are made as wide as the window allows.
    c = std::min<int32_t>(c, n / 2 - kFadeFrames);
    const int32_t b = HalfGap(c);
    const int lo = n / 2 - c;
    const int hi = n / 2 + c;
    float* rec = reconstruction_.data();
    for (int ch = 0; ch < 2; ++ch) {
        // A channel left alone needs no reconstruction: the channels are
        // reconstructed independently.
        if (!enabled[ch]) continue;
        repair_.Run(&work_[static_cast<size_t>(ch)], &work_[static_cast<size_t>(2 * L.windowFrame + ch)], 2, n, b, rec);

        auto index = [&](int j) { return static_cast<size_t>(2 * (L.windowFrame + j) + ch); };
        // Types, as plain C++ reads the blend: k * newValue is float (k int,
        // newValue float), (16 - k) * oldValue is int, their sum float, and
        // times the double 0.0625 it becomes double; then truncated toward
        // zero. The result lies between two 16-bit values, so it fits.
        auto blend = [](int k, float newValue, int oldValue) {
            return static_cast<int16_t>(static_cast<int>((k * newValue + (16 - k) * oldValue) * 0.0625));
        };
        for (int j = lo - kFadeFrames; j <= lo - 1; ++j) {
            const int k = j - lo + 17;  // 1 .. 16: ends at full weight
            work_[index(j)] = blend(k, rec[j], before_[index(j)]);
        }
        for (int j = lo; j <= hi - 2; ++j) work_[index(j)] = static_cast<int16_t>(static_cast<int>(rec[j]));
        for (int j = hi - 1; j <= hi + 14; ++j) {
            const int k = hi + 14 - j;  // 15 .. 0: starts at 15/16
            work_[index(j)] = blend(k, rec[j], before_[index(j)]);
        }
    }
}

GenerateOutcome CCorrector::GenerateAll(CGrowList<EventRecord>& list)
{
    ioErrors_ = 0;
    ioErrorText_.clear();
    const int32_t size = list.Size();
    const int32_t tracks = doc_.tracks.Size();
    doc_.NotifyStatusTexts("Making Corrections...", Format("Clicks: %d", std::max(0, size - 2 * tracks)),
                           Format("Tracks: %d", std::max(0, tracks - 1)));
    // The normal indicators come back however generation ends.
    struct RestoreStatusTexts {
        CQuillon3Doc& doc;
        ~RestoreStatusTexts() { doc.NotifyStatusTexts({}, {}, {}); }
    } restoreStatusTexts{doc_};
    CProgressScope progress(doc_);
    progress->SetRange(0, std::max(0, size - 1));

    // Taking the records value by value with one walk of the list each is
    // the same as one stable ordering by pass: within a pass, list order.
    // Sorting also copes with tags below -1 (never made by any scan), which
    // a walk starting at -1 would never reach; they simply come first.
    order_.clear();
    for (int32_t i = 1; i <= size - 2; ++i) order_.push_back(i);
    std::stable_sort(order_.begin(), order_.end(),
                     [&](int32_t a, int32_t b) { return list[a].pass < list[b].pass; });

    int32_t taken = 0;
    for (const int32_t index : order_) {
        if (progress.CancelConfirmed(cancel::kReallyCancel)) {
            doc_.scanCancelledAt = index;
            doc_.NotifyUpdate();
            return GenerateOutcome::Cancelled;
        }
        ++taken;
        progress->SetPos(taken);
        if (index % 100 == 0) progress->SetMessage(Format("Processing Click Number %d", index));
        const EventRecord& e = list[index];
        if (e.width >= 0 && !CorrectOne(e) && ioErrors_ > 0) {
            doc_.Ui().MessageBox(ioErrorText_, kAppCaption, MbButtons::Ok, MbIcon::Error);
            doc_.NotifyUpdate();
            return GenerateOutcome::Failed;
        }
    }
    doc_.NotifyUpdate();
    return GenerateOutcome::Completed;
}

}  // namespace kelvane
