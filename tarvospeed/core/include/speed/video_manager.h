// TVideoManager: the library lists, and the views built from the cache
// folder: "所有视频" (every video file there), "近3天下载的视频" (those of the
// last four days), and one tag's videos.
//
// Views are built from the files that exist: a library entry whose file was
// deleted appears in none. A view refers to objects owned by the manager; it
// is valid until the next scan or library change.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "speed/sys_file.h"
#include "speed/thumbnail.h"
#include "speed/video_category.h"
#include "speed/video_filter.h"
#include "speed/video_item.h"

namespace tarvospeed {

constexpr const char* UNNAMED_TITLE = "未命名";
constexpr int RECENT_DAYS_BELOW = 4;  // whole days between a file and now

// One row of a view: its title and the library entry or the bare file.
struct TViewRow {
    std::string Title;
    TVideoItem* Video = nullptr;   // a library entry, or
    TSysFileItem* File = nullptr;  // a file with no entry
    std::time_t Time() const { return Video ? Video->Time : File->FileTime; }
    const std::string& Path() const { return Video ? Video->Path : File->FilePath; }
};

using TViewList = std::vector<TViewRow>;

class TVideoManager {
  public:
    // `cache_folder`: where the proxy keeps the videos; `grab_delay`: the
    // thumbnail's second.
    TVideoManager(std::string cache_folder, int grab_delay);

    void LoadLibrary(const std::string& filters_file, const std::string& videos_file);
    int SaveLibrary(const std::string& videos_file) const;
    // false (nothing added) when an entry of the same full path exists; the
    // list then keeps the one it had and `entry` is freed.
    bool AddVideo(std::unique_ptr<TVideoItem> entry);
    void AddToTag(const TVideoCategory& tag, TVideoItem& entry);

    const TViewList& AllVideos();
    const TViewList& RecentVideos();
    const TViewList& TagVideos(const TVideoCategory& tag);
    std::int64_t ScannedSize() const;

    // The thumbnail of `entry` into the cache folder's "bmp/"; sets GrabPath.
    // 0, or -1 with the reason in `error` (the entry keeps no GrabPath).
    int GrabThumbnail(TVideoItem& entry, std::string& error);

    // A seam for tests: what "now" is when telling recent files.
    void SetClock(std::function<std::time_t()> now) { now_ = std::move(now); }

    TSysFileList Files;
    TVideoCategoryTree Categories;
    TVideoItemList Videos;
    TVideoFilterList Filters;
    bool Recent = false;
    TViewList ResultList;
    TViewList TagList;
    std::string CachePath;
    int GrabDelay;

  private:
    bool passes(std::time_t t) const;
    void merge();
    std::string default_patterns_;
    std::function<std::time_t()> now_;
};

}  // namespace tarvospeed
