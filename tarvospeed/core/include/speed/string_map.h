// TStringMap: an ordered list of (key, object) pairs that owns its objects.
// Duplicate keys are kept; positions count from 0.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tarvospeed {

// Broken contracts of the lists (a position past the end) end the program.
[[noreturn]] void fatal_index_out_of_bound();

template <typename T>
class TStringMap {
  public:
    void Add(std::string key, std::unique_ptr<T> object) {
        items_.emplace_back(std::move(key), std::move(object));
    }
    std::size_t Count() const { return items_.size(); }
    // "Index out of bound." for a position at or past the count.
    T& Item(std::size_t i) const {
        if (i >= items_.size()) fatal_index_out_of_bound();
        return *items_[i].second;
    }
    const std::string& Key(std::size_t i) const {
        if (i >= items_.size()) fatal_index_out_of_bound();
        return items_[i].first;
    }
    void Delete(std::size_t i) {
        if (i >= items_.size()) fatal_index_out_of_bound();
        items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(i));
    }
    // Removes (and frees) `object` when listed.
    void Remove(const T* object) {
        for (std::size_t i = 0; i < items_.size(); ++i)
            if (items_[i].second.get() == object) {
                Delete(i);
                return;
            }
    }
    void Clear() { items_.clear(); }

  private:
    std::vector<std::pair<std::string, std::unique_ptr<T>>> items_;
};

}  // namespace tarvospeed
