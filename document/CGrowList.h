#pragma once
// A growable array of plain records with an explicit capacity and grow step.
// The growth rule is part of the document's observable behaviour (memory use
// of huge correction lists), so it is implemented exactly rather than left to
// std::vector's doubling.

#include <cstdint>
#include <stdexcept>
#include <vector>

namespace kelvane {

template <typename T>
class CGrowList {
public:
    CGrowList() = default;
    explicit CGrowList(int32_t growStep) : growStep_(growStep) {}

    int32_t Size() const { return size_; }
    int32_t Capacity() const { return capacity_; }
    int32_t GrowStep() const { return growStep_; }
    bool Empty() const { return size_ == 0; }

    // 0 means "no step set": the list then grows by size / 8 within [4, 1024].
    void SetGrowStep(int32_t step) { growStep_ = step; }

    // Resizes to n; new elements are value-initialised from `fresh`.
    void SetSize(int32_t n, const T& fresh = T{})
    {
        if (n < 0) throw std::out_of_range("negative list size");
        if (n > capacity_) Reserve(NewCapacity(n));
        for (int32_t i = size_; i < n; ++i) data_[static_cast<size_t>(i)] = fresh;
        size_ = n;
    }

    int32_t Add(const T& value)
    {
        int32_t index = size_;
        SetSize(size_ + 1);
        data_[static_cast<size_t>(index)] = value;
        return index;
    }

    void InsertAt(int32_t index, const T& value)
    {
        if (index < 0 || index > size_) throw std::out_of_range("list index");
        SetSize(size_ + 1);
        for (int32_t i = size_ - 1; i > index; --i) data_[static_cast<size_t>(i)] = data_[static_cast<size_t>(i - 1)];
        data_[static_cast<size_t>(index)] = value;
    }

    void RemoveAt(int32_t index, int32_t count = 1)
    {
        if (index < 0 || count < 0 || index + count > size_) throw std::out_of_range("list index");
        for (int32_t i = index; i + count < size_; ++i) data_[static_cast<size_t>(i)] = data_[static_cast<size_t>(i + count)];
        size_ -= count;
    }

    // Empties the list and releases its memory; the grow step is kept.
    void RemoveAll()
    {
        data_.clear();
        data_.shrink_to_fit();
        size_ = 0;
        capacity_ = 0;
    }

    T& At(int32_t i)
    {
        if (i < 0 || i >= size_) throw std::out_of_range("list index");
        return data_[static_cast<size_t>(i)];
    }
    const T& At(int32_t i) const
    {
        if (i < 0 || i >= size_) throw std::out_of_range("list index");
        return data_[static_cast<size_t>(i)];
    }
    T& operator[](int32_t i) { return data_[static_cast<size_t>(i)]; }
    const T& operator[](int32_t i) const { return data_[static_cast<size_t>(i)]; }
    T* Data() { return data_.data(); }
    const T* Data() const { return data_.data(); }
    T* begin() { return data_.data(); }
    T* end() { return data_.data() + size_; }
    const T* begin() const { return data_.data(); }
    const T* end() const { return data_.data() + size_; }

    // The capacity the list takes when it must hold `requested` elements.
    int32_t NewCapacity(int32_t requested) const
    {
        int32_t step = growStep_;
        if (step == 0) {
            step = size_ / 8;
            if (step < 4) step = 4;
            if (step > 1024) step = 1024;
        }
        int64_t grown = static_cast<int64_t>(capacity_) + step;
        return grown > requested ? static_cast<int32_t>(grown) : requested;
    }

private:
    void Reserve(int32_t capacity)
    {
        data_.resize(static_cast<size_t>(capacity));
        capacity_ = capacity;
    }

    std::vector<T> data_;  // data_.size() is the capacity
    int32_t size_ = 0;
    int32_t capacity_ = 0;
    int32_t growStep_ = 0;
};

}  // namespace kelvane
