#include "platform/self.h"
#include "platform/file.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "test_support.h"

using tarvo_test::TempDir;
using tarvo_test::write_file;

namespace fs = std::filesystem;

TEST(Self, ProgramFolderIsTheFolderOfThisBinary) {
    std::string folder = platform::program_folder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.front(), '/');
    EXPECT_EQ(folder.back(), '/');
    EXPECT_TRUE(fs::is_regular_file(folder + "platform_tests"));
}

TEST(File, MakeFoldersCreatesNestedParents) {
    TempDir tmp;
    // Folder names in this system end with "/".
    EXPECT_EQ(platform::make_folders((tmp.folder() + "a/b/c/").c_str()), 0);
    EXPECT_TRUE(fs::is_directory(tmp.folder() + "a/b/c"));
    EXPECT_EQ(platform::make_folders((tmp.folder() + "a/b/c").c_str()), 0);  // already there

    write_file(tmp.file("f"), "x");
    EXPECT_EQ(platform::make_folders((tmp.folder() + "f/g/").c_str()), -1);
}
