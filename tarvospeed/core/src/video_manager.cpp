#include "speed/video_manager.h"

#include <algorithm>

#include "platform/file.h"

namespace tarvospeed {

namespace {

void newest_first(TViewList& list) {
    std::stable_sort(list.begin(), list.end(),
                     [](const TViewRow& a, const TViewRow& b) { return a.Time() > b.Time(); });
}

}  // namespace

TVideoManager::TVideoManager(std::string cache_folder, int grab_delay)
    : CachePath(std::move(cache_folder)),
      GrabDelay(grab_delay),
      default_patterns_(".flv\n.wmv\n"),
      now_([] { return std::time(nullptr); }) {}

void TVideoManager::LoadLibrary(const std::string& filters_file, const std::string& videos_file) {
    Filters.LoadFromXml(filters_file);
    Videos.LoadFromXml(videos_file);
}

int TVideoManager::SaveLibrary(const std::string& videos_file) const {
    return Videos.SaveToXml(videos_file);
}

bool TVideoManager::AddVideo(std::unique_ptr<TVideoItem> entry) {
    if (Videos.FindByPath(entry->Path) != nullptr) return false;
    std::string key = entry->Title;
    Videos.Add(key, std::move(entry));
    return true;
}

void TVideoManager::AddToTag(const TVideoCategory& tag, TVideoItem& entry) {
    if (!entry.HasSpecial(tag.Index)) entry.AddSpecial(tag.Index);
}

bool TVideoManager::passes(std::time_t t) const {
    if (!Recent) return true;
    std::time_t now = now_();
    long long span = now > t ? now - t : t - now;
    return span / 86400 < RECENT_DAYS_BELOW;
}

void TVideoManager::merge() {
    // Until "videofilters.xml" names some, ".flv" and ".wmv" are the videos.
    Files.Scan(CachePath, Filters.Count() ? Filters.FilterNames() : default_patterns_);
    ResultList.clear();
    for (std::size_t i = 0; i < Files.Count(); ++i) {
        TSysFileItem& file = Files.Item(i);
        if (TVideoItem* entry = Videos.FindByPath(file.FilePath)) {
            if (passes(entry->Time)) ResultList.push_back({entry->Title, entry, nullptr});
        } else if (passes(file.FileTime)) {
            ResultList.push_back({UNNAMED_TITLE, nullptr, &file});
        }
    }
    newest_first(ResultList);
}

const TViewList& TVideoManager::AllVideos() {
    Recent = false;
    merge();
    return ResultList;
}

const TViewList& TVideoManager::RecentVideos() {
    Recent = true;
    merge();
    return ResultList;
}

const TViewList& TVideoManager::TagVideos(const TVideoCategory& tag) {
    TagList.clear();
    for (std::size_t i = 0; i < Videos.Count(); ++i) {
        TVideoItem& v = Videos.Item(i);
        if (v.HasSpecial(tag.Index) && platform::file_size(v.Path.c_str()) >= 0)
            TagList.push_back({v.Title, &v, nullptr});
    }
    newest_first(TagList);
    return TagList;
}

std::int64_t TVideoManager::ScannedSize() const {
    std::int64_t sum = 0;
    for (std::size_t i = 0; i < Files.Count(); ++i) sum += Files.Item(i).FileSize;
    return sum;
}

int TVideoManager::GrabThumbnail(TVideoItem& entry, std::string& error) {
    std::string bmp = thumbnail_path(CachePath, entry.Path);
    if (grab_thumbnail(entry.Path, GrabDelay, bmp, error) != 0) return -1;
    entry.GrabPath = bmp;
    return 0;
}

}  // namespace tarvospeed
