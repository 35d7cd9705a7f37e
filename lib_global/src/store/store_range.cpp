#include "store/store_range.h"

#include <algorithm>
#include <utility>
#include <vector>

struct STORE_RANGE_SET {
    std::vector<STORE_RANGE> ranges;  // ordered by begin, disjoint, never touching
};

STORE_RANGE_SET* store_range_set_new(int size_hint) {
    auto* set = new STORE_RANGE_SET;
    if (size_hint > 0) set->ranges.reserve(static_cast<std::size_t>(size_hint));
    return set;
}

void store_range_set_free(STORE_RANGE_SET* set) { delete set; }

void store_range_set_insert(STORE_RANGE_SET* set, int64_t begin, int64_t end) {
    if (begin > end) std::swap(begin, end);
    if (begin == end) return;  // no bytes: nothing to record
    auto& v = set->ranges;
    // First range that ends at or after `begin`: every range before it lies
    // wholly before the new one without touching it.
    auto first = std::lower_bound(v.begin(), v.end(), begin,
                                  [](const STORE_RANGE& r, int64_t b) { return r.end < b; });
    auto last = first;
    while (last != v.end() && last->begin <= end) {
        begin = std::min(begin, last->begin);
        end = std::max(end, last->end);
        ++last;
    }
    first = v.erase(first, last);
    v.insert(first, STORE_RANGE{begin, end});
}

const STORE_RANGE* store_range_set_lookup(const STORE_RANGE_SET* set, int64_t pos) {
    const auto& v = set->ranges;
    auto it = std::lower_bound(v.begin(), v.end(), pos,
                               [](const STORE_RANGE& r, int64_t p) { return r.end < p; });
    if (it == v.end() || it->begin > pos) return nullptr;
    return &*it;
}

int store_range_set_size(const STORE_RANGE_SET* set) {
    return static_cast<int>(set->ranges.size());
}

const STORE_RANGE* store_range_set_index(const STORE_RANGE_SET* set, int i) {
    if (i < 0 || i >= store_range_set_size(set)) return nullptr;
    return &set->ranges[static_cast<std::size_t>(i)];
}

int64_t store_range_set_sum(const STORE_RANGE_SET* set) {
    int64_t sum = 0;
    for (const auto& r : set->ranges) sum += r.end - r.begin;
    return sum;
}

void store_range_set_clear(STORE_RANGE_SET* set) { set->ranges.clear(); }
