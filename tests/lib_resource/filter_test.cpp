// The eligibility filter on PCRE2: what the default patterns and a few
// configured ones make of URLs and content types.
#include <gtest/gtest.h>

#include <filesystem>

#include "acl_msg.h"
#include "p2p_filter.h"
#include "test_support.h"

namespace {

class Filter : public ::testing::Test {
  protected:
    P2P_FILTER* load(const std::string& ini) {
        if (!ini.empty()) tarvo_test::write_file(dir_.file("tarvoproxy.ini"), ini);
        P2P_FILTER* pf = p2p_filter_new();
        load_result_ = p2p_filter_load(pf, dir_.file("tarvoproxy.ini").c_str());
        return pf;
    }
    std::string log() { return tarvo_test::read_file(dir_.file("log.txt")); }
    void SetUp() override { acl_msg_open(dir_.file("log.txt").c_str(), "log"); }
    void TearDown() override { acl_msg_close(); }

    tarvo_test::TempDir dir_;
    int load_result_ = 0;
};

TEST_F(Filter, Cases) {
    struct Case {
        const char* name;
        std::string ini;  // "" : no file
        const char* url;
        const char* type;
        int want;
    };
    const Case cases[] = {
        {"no section: .flv URL", "", "http://a.com/v.flv", "text/plain", 1},
        {"no section: video/flv", "", "http://a.com/watch", "video/flv", 1},
        {"video/x-flv is not", "", "http://a.com/watch", "video/x-flv", 0},
        {"video/FLV is not (not lowercased)", "", "http://a.com/watch", "video/FLV", 0},
        {"query after .flv falls through to the type", "", "http://a.com/a.flv?start=0",
         "video/flv", 1},
        {"query after .flv, other type", "", "http://a.com/a.flv?start=0", "text/html", 0},
        {"empty content type", "", "http://a.com/watch", "", 0},
        {"empty file_regular: nothing", "[p2p]\nfile_regular=\n", "http://a.com/v.flv", "video/flv",
         0},
        {"empty type_regular: URL decides", "[p2p]\ntype_regular=\n", "http://a.com/v.flv",
         "text/plain", 1},
        {"empty type_regular: type not used", "[p2p]\ntype_regular=\n", "http://a.com/x",
         "video/flv", 0},
        {"two patterns, doubled separator", "[p2p]\nfile_regular=\\.mp4$;;\\.flv$\n",
         "http://a.com/v.mp4", "", 1},
        {"capturing group matches nothing", "[p2p]\nfile_regular=(flv)$\ntype_regular=x^\n",
         "http://a.com/v.flv", "video/flv", 0},
        {"pattern that does not compile is skipped", "[p2p]\nfile_regular=([;\\.flv$\n",
         "http://a.com/v.flv", "", 1},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(dir_.file("tarvoproxy.ini"));
        P2P_FILTER* pf = load(c.ini);
        EXPECT_EQ(p2p_filter_check(pf, c.url, c.type), c.want) << c.name;
        p2p_filter_free(pf);
    }
    EXPECT_NE(log().find("pcre_exec failed. ((flv)$)"), std::string::npos) << log();
    EXPECT_NE(log().find("pcre_compile failed."), std::string::npos);
}

TEST_F(Filter, LoadingStopsAtTheFirstEmptyKey) {
    P2P_FILTER* pf = load("");  // no exclude: both lists stored, then -1
    EXPECT_EQ(load_result_, -1);
    ASSERT_NE(pf->file_patterns, nullptr);
    EXPECT_EQ(*pf->file_patterns, std::vector<std::string>{".+\\.flv$"});
    ASSERT_NE(pf->type_patterns, nullptr);
    EXPECT_EQ(pf->exclude_patterns, nullptr);
    p2p_filter_free(pf);

    pf = load("[p2p]\nfile_regular=\n");
    EXPECT_EQ(load_result_, -1);
    EXPECT_EQ(pf->file_patterns, nullptr);
    EXPECT_EQ(pf->type_patterns, nullptr);
    p2p_filter_free(pf);

    pf = load("[p2p]\nexclude=a;b\n");
    EXPECT_EQ(load_result_, 0);
    EXPECT_EQ(pf->exclude_patterns->size(), 2u);
    p2p_filter_free(pf);
    EXPECT_NE(log().find("read ini file ("), std::string::npos);
}

TEST(FilterSplit, EmptyPiecesAreDropped) {
    EXPECT_EQ(p2p_filter_split("a;;b;"), (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(p2p_filter_split(";;").empty());
}

}  // namespace
