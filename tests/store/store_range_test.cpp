// The range set: merging, lookup at the edges, and agreement with a bitmap.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <vector>

#include "store/store_range.h"

namespace {

std::vector<STORE_RANGE> ranges_of(const STORE_RANGE_SET* set) {
    std::vector<STORE_RANGE> v;
    for (int i = 0; i < store_range_set_size(set); i++) v.push_back(*store_range_set_index(set, i));
    return v;
}

TEST(StoreRange, InsertsMergeAndSwap) {
    struct Case {
        const char* name;
        std::vector<STORE_RANGE> inserts;
        std::vector<STORE_RANGE> want;
    } cases[] = {
        {"touching ranges become one", {{0, 100}, {100, 200}}, {{0, 200}}},
        {"reversed pair is swapped", {{200, 100}}, {{100, 200}}},
        {"disjoint stay apart, in order",
         {{500, 600}, {0, 10}, {20, 30}},
         {{0, 10}, {20, 30}, {500, 600}}},
        {"bridge merges three", {{0, 10}, {20, 30}, {40, 50}, {5, 45}}, {{0, 50}}},
        {"contained changes nothing", {{0, 100}, {10, 20}}, {{0, 100}}},
        {"touching on the left", {{100, 200}, {50, 100}}, {{50, 200}}},
        {"empty range records nothing", {{7, 7}}, {}},
    };
    for (const auto& c : cases) {
        STORE_RANGE_SET* set = store_range_set_new(10);
        int64_t sum = 0;
        for (const auto& r : c.inserts) store_range_set_insert(set, r.begin, r.end);
        for (const auto& r : c.want) sum += r.end - r.begin;
        EXPECT_EQ(ranges_of(set), c.want) << c.name;
        EXPECT_EQ(store_range_set_sum(set), sum) << c.name;
        store_range_set_free(set);
    }
}

TEST(StoreRange, LookupCountsTheEndAsInside) {
    STORE_RANGE_SET* set = store_range_set_new(10);
    store_range_set_insert(set, 0, 100);
    store_range_set_insert(set, 100, 200);
    store_range_set_insert(set, 300, 400);
    struct Case {
        int64_t pos;
        int64_t want_begin;  // -1: not found
    } cases[] = {{0, 0},     {150, 0},   {200, 0},  {201, -1}, {299, -1},
                 {300, 300}, {400, 300}, {401, -1}, {-1, -1}};
    for (const auto& c : cases) {
        const STORE_RANGE* r = store_range_set_lookup(set, c.pos);
        if (c.want_begin < 0) {
            EXPECT_EQ(r, nullptr) << c.pos;
        } else {
            ASSERT_NE(r, nullptr) << c.pos;
            EXPECT_EQ(r->begin, c.want_begin) << c.pos;
        }
    }
    EXPECT_EQ(store_range_set_index(set, 2), nullptr);
    store_range_set_free(set);
}

// Random inserts in random order against a plain bitmap of the same space.
TEST(StoreRange, AgreesWithABitmapModel) {
    unsigned seed = std::random_device{}();
    std::printf("range set property test seed=%u\n", seed);
    std::mt19937 rng(seed);
    constexpr int kSpace = 400;
    for (int round = 0; round < 3000; round++) {
        std::vector<bool> bits(kSpace, false);
        STORE_RANGE_SET* set = store_range_set_new(10);
        int inserts = 1 + static_cast<int>(rng() % 12);
        for (int i = 0; i < inserts; i++) {
            int64_t a = rng() % kSpace, b = rng() % kSpace;
            store_range_set_insert(set, a, b);
            for (int64_t x = std::min(a, b); x < std::max(a, b); x++) bits[x] = true;
        }
        // Runs of set bits are the ranges, exactly.
        std::vector<STORE_RANGE> want;
        for (int x = 0; x < kSpace;) {
            if (!bits[x]) {
                x++;
                continue;
            }
            int y = x;
            while (y < kSpace && bits[y]) y++;
            want.push_back({x, y});
            x = y;
        }
        ASSERT_EQ(ranges_of(set), want) << "seed=" << seed << " round=" << round;
        int64_t ones = 0;
        for (bool b : bits) ones += b;
        ASSERT_EQ(store_range_set_sum(set), ones) << "seed=" << seed << " round=" << round;
        for (int x = 0; x <= kSpace; x++) {
            bool inside = (x < kSpace && bits[x]) || (x > 0 && bits[x - 1]);
            ASSERT_EQ(store_range_set_lookup(set, x) != nullptr, inside)
                << "seed=" << seed << " round=" << round << " pos=" << x;
        }
        store_range_set_free(set);
    }
}

}  // namespace
