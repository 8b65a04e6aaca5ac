#pragma once
// Values gathered in fixed blocks (internal): growing never copies what is
// there, so a read holds what it keeps plus one block, not the three times of
// a doubling vector's last step; handed over as one vector at the end, block
// by block.

#include <cstddef>
#include <vector>

namespace eload::reader {

template <typename T, std::size_t kBlock = 65536> class Blocks {
public:
    void push_back(const T& value)
    {
        if (blocks_.empty() || blocks_.back().size() == kBlock) {
            blocks_.emplace_back();
            blocks_.back().reserve(kBlock);
        }
        blocks_.back().push_back(value);
        ++size_;
    }
    std::size_t size() const { return size_; }
    const T& operator[](std::size_t i) const { return blocks_[i / kBlock][i % kBlock]; }

    // Every value, in order; the blocks are released as they are copied.
    std::vector<T> take()
    {
        std::vector<T> all;
        all.reserve(size_);
        for (std::vector<T>& block : blocks_) {
            all.insert(all.end(), block.begin(), block.end());
            std::vector<T>().swap(block);
        }
        blocks_.clear();
        size_ = 0;
        return all;
    }

private:
    std::vector<std::vector<T>> blocks_;
    std::size_t size_ = 0;
};

} // namespace eload::reader
