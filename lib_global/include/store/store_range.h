// store_range: an ordered set of disjoint byte ranges [begin, end), `end` just
// past the last byte. It records which bytes of a download are on disk, and
// serves the planner as scratch.
//
// Inserting an empty range changes nothing. Inserting merges the new range with every range it
// overlaps or touches: a range ending at x and one beginning at x become one. A reversed pair is
// swapped. A lookup finds the range with begin <= pos <= end: a position equal
// to a range's end counts as inside it (a chunk ending where a range starts or
// ends "meets" it).
//
// Ownership: the set owns its ranges; pointers it returns stay valid until the
// next insert or free. Used by one thread (the controller).
#pragma once

#include <cstdint>

struct STORE_RANGE {
    int64_t begin;
    int64_t end;
};

inline bool operator==(const STORE_RANGE& a, const STORE_RANGE& b) {
    return a.begin == b.begin && a.end == b.end;
}

struct STORE_RANGE_SET;

// An empty set with room for `size_hint` ranges.
STORE_RANGE_SET* store_range_set_new(int size_hint);
void store_range_set_free(STORE_RANGE_SET* set);

void store_range_set_insert(STORE_RANGE_SET* set, int64_t begin, int64_t end);

// The range holding `pos` (begin <= pos <= end), or null.
const STORE_RANGE* store_range_set_lookup(const STORE_RANGE_SET* set, int64_t pos);

// Number of ranges, and the i-th in order (null outside 0 .. size - 1).
int store_range_set_size(const STORE_RANGE_SET* set);
const STORE_RANGE* store_range_set_index(const STORE_RANGE_SET* set, int i);

// Sum of end - begin over the set.
int64_t store_range_set_sum(const STORE_RANGE_SET* set);

// Drops every range.
void store_range_set_clear(STORE_RANGE_SET* set);
