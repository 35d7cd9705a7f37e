#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>

#include "speed/thumbnail.h"
#include "speed/video_manager.h"
#include "speed_fixture.h"

namespace {

using tarvo_test::read_file;
using tarvo_test::write_file;
using tarvospeed::TVideoItem;
using tarvospeed::TVideoManager;

constexpr std::time_t kDay = 86400;

void set_age(const std::string& path, std::time_t now, std::time_t age) {
    auto when =
        std::chrono::file_clock::from_sys(std::chrono::system_clock::from_time_t(now - age));
    std::filesystem::last_write_time(path, when);
}

std::vector<std::string> titles_and_names(const tarvospeed::TViewList& view) {
    std::vector<std::string> out;
    for (const auto& row : view)
        out.push_back(row.Title + " " + row.Path().substr(row.Path().rfind('/') + 1));
    return out;
}

// A cache folder as the proxy leaves it: videos, a download still running,
// other files and a folder.
class CacheScan : public ::testing::Test {
  protected:
    void SetUp() override {
        cache = env.dir.folder() + "cache/";
        std::filesystem::create_directories(cache + "sub");
        ASSERT_TRUE(speed_test::make_video(cache + "new.flv", 5));
        write_file(cache + "edge.flv", "FLV edge");
        write_file(cache + "old.flv", "FLV old");
        write_file(cache + "clip.wmv", "WMV");
        write_file(cache + "run.flv.part", "part");
        write_file(cache + "notes.txt", "text");
        write_file(cache + "sub/inner.flv", "FLV inner");
        now = std::time(nullptr);
        set_age(cache + "new.flv", now, 60);
        set_age(cache + "edge.flv", now, 3 * kDay + 23 * 3600);
        set_age(cache + "old.flv", now, 4 * kDay);
        set_age(cache + "clip.wmv", now, 10 * kDay);
    }

    speed_test::SpeedEnv env;
    std::string cache;
    std::time_t now = 0;
};

TEST_F(CacheScan, ViewsListTheVideosNewestFirst) {
    TVideoManager m(cache, 3);
    m.SetClock([this] { return now; });
    auto entry = std::make_unique<TVideoItem>();
    entry->Title = "新视频";
    entry->Path = cache + "new.flv";
    ASSERT_TRUE(entry->ReadFileData());
    TVideoItem* in_library = entry.get();
    ASSERT_TRUE(m.AddVideo(std::move(entry)));
    auto again = std::make_unique<TVideoItem>();
    again->Path = cache + "./NEW.flv";
    EXPECT_FALSE(m.AddVideo(std::move(again))) << "one entry per full path";

    EXPECT_EQ(titles_and_names(m.AllVideos()),
              (std::vector<std::string>{"新视频 new.flv", "未命名 edge.flv", "未命名 old.flv",
                                        "未命名 clip.wmv"}));
    EXPECT_EQ(m.ScannedSize(),
              static_cast<std::int64_t>(std::filesystem::file_size(cache + "new.flv")) + 8 + 7 + 3);
    EXPECT_EQ(m.ResultList[0].Video, in_library);
    ASSERT_NE(m.ResultList[1].File, nullptr);
    EXPECT_EQ(m.ResultList[1].File->FileSize, 8);

    EXPECT_EQ(titles_and_names(m.RecentVideos()),
              (std::vector<std::string>{"新视频 new.flv", "未命名 edge.flv"}));

    // Filters read from "videofilters.xml" replace ".flv" and ".wmv".
    write_file(env.dir.file("videofilters.xml"),
               "<root><f name=\".wmv\"/><f name=\".part\"/></root>");
    m.LoadLibrary(env.dir.file("videofilters.xml"), env.dir.file("none.xml"));
    m.AllVideos();
    std::vector<std::string> names;
    for (const auto& row : m.ResultList)
        names.push_back(row.Path().substr(row.Path().rfind('/') + 1));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"clip.wmv", "run.flv.part"}));
}

TEST_F(CacheScan, TagViewHoldsTaggedVideosWhoseFileExists) {
    TVideoManager m(cache, 3);
    tarvospeed::TVideoCategory* tag = m.Categories.AddCategory(nullptr, "电影");
    ASSERT_NE(tag, nullptr);
    for (const char* name : {"new.flv", "edge.flv", "gone.flv"}) {
        auto e = std::make_unique<TVideoItem>();
        e->Title = name;
        e->Path = cache + name;
        e->ReadFileData();
        TVideoItem& ref = *e;
        m.AddVideo(std::move(e));
        m.AddToTag(*tag, ref);
        m.AddToTag(*tag, ref);
        EXPECT_EQ(ref.Specials.size(), 1u);
    }
    EXPECT_EQ(titles_and_names(m.TagVideos(*tag)),
              (std::vector<std::string>{"new.flv new.flv", "edge.flv edge.flv"}));
}

TEST_F(CacheScan, MissingCacheFolderGivesAnEmptyScan) {
    TVideoManager m(env.dir.folder() + "nowhere/", 3);
    EXPECT_TRUE(m.AllVideos().empty());
    EXPECT_EQ(m.ScannedSize(), 0);
}

// The BMP's pixel at (x, y) counted from the top, as B, G, R.
std::array<int, 3> pixel(const std::string& bmp, int x, int y) {
    int row = (tarvospeed::THUMB_WIDTH * 3 + 3) & ~3;
    std::size_t at = 54 + static_cast<std::size_t>(tarvospeed::THUMB_HEIGHT - 1 - y) * row + x * 3;
    return {static_cast<unsigned char>(bmp[at]), static_cast<unsigned char>(bmp[at + 1]),
            static_cast<unsigned char>(bmp[at + 2])};
}

TEST_F(CacheScan, ThumbnailIsTheFrameAtTheGrabSecond) {
    TVideoManager m(cache, 3);
    TVideoItem entry;
    entry.Path = cache + "new.flv";
    std::string error;
    ASSERT_EQ(m.GrabThumbnail(entry, error), 0) << error;
    EXPECT_EQ(entry.GrabPath, cache + "bmp/new.bmp");
    std::string bmp = read_file(entry.GrabPath);
    ASSERT_EQ(bmp.size(), 54u + 90u * 360u);
    EXPECT_EQ(bmp.substr(0, 2), "BM");

    // ffmpeg's own frame at 3 s, scaled to the same size, as the reference.
    std::string ref_path = env.dir.file("ref.rgb");
    std::string out;
    ASSERT_EQ(platform::run_program({"/usr/bin/ffmpeg", "-v", "error", "-y", "-ss", "3", "-i",
                                     entry.Path, "-frames:v", "1", "-s", "120x90", "-pix_fmt",
                                     "bgr24", "-f", "rawvideo", ref_path},
                                    out, 120000),
              0);
    std::string ref = read_file(ref_path);
    ASSERT_EQ(ref.size(), 120u * 90u * 3u);
    long diff = 0;
    for (int y = 0; y < 90; ++y)
        for (int x = 0; x < 120; ++x) {
            auto p = pixel(bmp, x, y);
            for (int c = 0; c < 3; ++c)
                diff += std::abs(p[c] - static_cast<unsigned char>(ref[(y * 120 + x) * 3 + c]));
        }
    EXPECT_LT(diff / (120 * 90 * 3), 12) << "mean difference per channel";
    // The first frame differs from the one at 3 s: the grab did seek.
    ASSERT_EQ(platform::run_program(
                  {"/usr/bin/ffmpeg", "-v", "error", "-y", "-i", entry.Path, "-frames:v", "1", "-s",
                   "120x90", "-pix_fmt", "bgr24", "-f", "rawvideo", ref_path},
                  out, 120000),
              0);
    EXPECT_NE(read_file(ref_path), ref);
}

TEST_F(CacheScan, PlainColourVideoGivesThatColour) {
    ASSERT_TRUE(speed_test::make_video(cache + "red.mp4", 2, "red"));
    std::string error;
    std::string bmp_path = tarvospeed::thumbnail_path(cache, cache + "red.mp4");
    EXPECT_EQ(bmp_path, cache + "bmp/red.bmp");
    ASSERT_EQ(tarvospeed::grab_thumbnail(cache + "red.mp4", 3, bmp_path, error), 0)
        << "shorter than the grab second: its last frame" << error;
    std::string bmp = read_file(bmp_path);
    for (auto [x, y] : {std::pair{0, 0}, {60, 45}, {119, 89}}) {
        auto p = pixel(bmp, x, y);
        EXPECT_LT(p[0], 40);
        EXPECT_LT(p[1], 40);
        EXPECT_GT(p[2], 200);
    }
}

TEST_F(CacheScan, UnreadableVideoGetsNoThumbnail) {
    TVideoManager m(cache, 3);
    for (const char* name : {"edge.flv", "missing.flv"}) {
        TVideoItem entry;
        entry.Path = cache + name;
        std::string error;
        EXPECT_EQ(m.GrabThumbnail(entry, error), -1);
        EXPECT_NE(error.find(name), std::string::npos) << error;
        EXPECT_TRUE(entry.GrabPath.empty());
    }
    EXPECT_FALSE(std::filesystem::exists(cache + "bmp/edge.bmp"));
}

TEST(ThumbnailName, ExtensionReplacedEverywhere) {
    EXPECT_EQ(tarvospeed::thumbnail_path("/c", "/v/a.flv"), "/c/bmp/a.bmp");
    EXPECT_EQ(tarvospeed::thumbnail_path("/c/", "/v/x.flv.flv"), "/c/bmp/x.bmp.bmp");
    EXPECT_EQ(tarvospeed::thumbnail_path("/c/", "/v/noext"), "/c/bmp/noext.bmp");
}

}  // namespace
