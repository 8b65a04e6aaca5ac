#pragma once
// An array grown in fixed chunks: an append never copies what is there (no
// pause of the event thread when a long series grows), and at most one chunk
// stands spare.

#include <algorithm>
#include <cstddef>
#include <memory>
#include <vector>

namespace eload::discharge {

template <typename T> class ChunkedArray {
public:
    static constexpr int kChunkBits = 12;
    static constexpr std::size_t kChunk = std::size_t(1) << kChunkBits;

    ChunkedArray() = default;
    ChunkedArray(ChunkedArray&&) noexcept = default;
    ChunkedArray& operator=(ChunkedArray&&) noexcept = default;
    ChunkedArray(const ChunkedArray& other) : size_(other.size_)
    {
        for (std::size_t first = 0; first < size_; first += kChunk) {
            const T* from = other.chunks_[first >> kChunkBits].get();
            chunks_.push_back(std::unique_ptr<T[]>(new T[kChunk]));
            std::copy(from, from + std::min(kChunk, size_ - first), chunks_.back().get());
        }
    }
    ChunkedArray& operator=(const ChunkedArray& other)
    {
        if (this != &other) *this = ChunkedArray(other);
        return *this;
    }

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    std::size_t capacity() const { return chunks_.size() * kChunk; }

    T& operator[](std::size_t i) { return chunks_[i >> kChunkBits][i & (kChunk - 1)]; }
    const T& operator[](std::size_t i) const { return chunks_[i >> kChunkBits][i & (kChunk - 1)]; }
    const T& back() const { return (*this)[size_ - 1]; }

    void push_back(const T& v)
    {
        if (size_ == capacity()) chunks_.push_back(std::unique_ptr<T[]>(new T[kChunk]));
        (*this)[size_++] = v;
    }
    // Keeps the first n, freeing the chunks past them.
    void truncate(std::size_t n)
    {
        size_ = n;
        chunks_.resize((n + kChunk - 1) >> kChunkBits);
    }
    void clear() { truncate(0); }

private:
    std::vector<std::unique_ptr<T[]>> chunks_;
    std::size_t size_ = 0;
};

} // namespace eload::discharge
