// A resource module of its own for each test: g_client set up over a
// temporary program folder with its cache folder, the pipe folder and the
// registry file in there too. Helpers write res_list.dat records by hand and
// read the file back with a reader of the test's own.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "p2p_resource.h"
#include "test_support.h"

namespace resource_test {

struct Record {
    std::string key;  // as stored, without the NUL padding
    std::uint32_t size = 0;
    std::string path;
};

// One res_list.dat record in the file's layout; `path_len` overrides the
// length field when not -1.
std::string record_bytes(const std::string& key, std::uint32_t size, const std::string& path,
                         int path_len = -1);

// res_list.dat as a list of records, read from the layout independently of
// the module; `ok` is false when the file does not end on a record boundary.
std::vector<Record> read_list_file(const std::string& path, bool* ok);

class ResourceFixture : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    std::string list_file() const { return dir_.file(P2P_RESOURCE_LIST_FILE); }
    std::string cache() const { return dir_.folder() + "cache/"; }
    // A cache file with `n` pattern bytes; returns its path.
    std::string cache_file(const std::string& name, std::size_t n, std::uint32_t seed = 3);

    tarvo_test::TempDir dir_;
};

}  // namespace resource_test
