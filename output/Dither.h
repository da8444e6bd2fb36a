#pragma once
// Dither for the sample-rate converter's requantisation: a table of 65536
// noise values, made afresh for each conversion and read cyclically, in
// units of the output's least significant bit.
//
// The values come from the C standard's reference generator (RAND_MAX 32767)
// drawn through a 97-entry shuffle table. Using our own copy of that generator
// rather than the C library's rand() keeps the noise, and so every dithered
// file, the same on every platform and independent of anybody else seeding
// rand() in the same process.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kelvane {

// "Resample PDF": the list index of the dialog.
enum class DitherPdf : int { Rectangular = 0, Triangular = 1, Gaussian = 2 };

// The C standard's example rand(): next = next * 1103515245 + 12345, the
// value (next / 65536) mod 32768.
class ReferenceRand {
public:
    static constexpr int kMax = 32767;
    explicit ReferenceRand(uint32_t seed = 1) : next_(seed) {}
    int Next()
    {
        next_ = next_ * 1103515245u + 12345u;
        return static_cast<int>((next_ / 65536u) % 32768u);
    }

private:
    uint32_t next_;
};

// Bays and Durham's shuffle over a generator: 97 values are kept in a table,
// the previous output picks the slot the next output is taken from, and the
// slot is refilled from the generator. It breaks up the short-range order of
// a linear congruential generator's outputs.
class CShuffledRand {
public:
    static constexpr int kSlots = 97;
    explicit CShuffledRand(uint32_t seed = 1);
    int Next();  // 0 .. 32767

private:
    ReferenceRand rand_;
    std::array<int, kSlots> slots_{};
    int last_ = 0;
};

class CDitherNoise {
public:
    static constexpr size_t kTableSize = 65536;

    // The amplitude of each PDF in least significant bits: rectangular 0.7,
    // triangular 0.9, Gaussian 0.18.
    static double Amplitude(DitherPdf pdf);

    explicit CDitherNoise(DitherPdf pdf);

    // The next value of the table, wrapping round at its end.
    double Next()
    {
        const double v = table_[pos_];
        pos_ = (pos_ + 1) & (kTableSize - 1);
        return v;
    }

    // The largest magnitude in the table.
    double Peak() const { return peak_; }
    const std::vector<double>& Table() const { return table_; }

private:
    std::vector<double> table_;
    size_t pos_ = 0;
    double peak_ = 0.0;
};

}  // namespace kelvane
