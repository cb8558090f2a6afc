#pragma once
// Backend object lists addressed by u32 ids (index + 1, so 0 names nothing). Released
// slots are reused, so a long run that keeps replacing buffers does not grow the list.

#include <utility>
#include <vector>

#include "base/types.h"

namespace kestrune::render {

template <class T>
class SlotList {
public:
    u32 add(T value) {
        if (!free_.empty()) {
            const u32 index = free_.back();
            free_.pop_back();
            slots_[index] = std::move(value);
            return index + 1;
        }
        slots_.push_back(std::move(value));
        return static_cast<u32>(slots_.size());
    }

    T& at(u32 id) { return slots_.at(id - 1); }

    // Returns the released value so the caller can free what it holds.
    T release(u32 id) noexcept {
        T value = std::exchange(slots_[id - 1], T{});
        free_.push_back(id - 1);
        return value;
    }

    bool empty() const noexcept { return slots_.empty(); }
    std::vector<T>& all() noexcept { return slots_; }

    void clear() noexcept {
        slots_.clear();
        free_.clear();
    }

private:
    std::vector<T> slots_;
    std::vector<u32> free_;
};

}  // namespace kestrune::render
