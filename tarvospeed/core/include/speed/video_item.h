// The library: TVideoItem records and their list, kept in "videos.xml".
//
// "videos.xml": <root><video title path grabpath descr time><specials><item
// index/></specials>...</video>...</root>, one `specials` per tag index. A
// video whose file is gone (its size cannot be read) is dropped at loading,
// so the next save leaves it out.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "speed/string_map.h"

namespace tarvospeed {

constexpr const char* VIDEOS_XML = "videos.xml";

// "1 January 100", the time of a file whose time cannot be read.
constexpr std::time_t NO_FILE_TIME = -58979923200;

struct TVideoItem {
    std::string Title, Path, GrabPath;
    std::string Descr;  // lines joined by CR LF
    std::time_t Time = NO_FILE_TIME;
    std::int32_t Size = 0;
    std::vector<int> Specials;

    void AddSpecial(int index) { Specials.push_back(index); }
    void RemoveSpecial(int index);
    bool HasSpecial(int index) const;
    std::string TimeText() const;
    // Size and Time from the file on disk; false when its size cannot be read.
    bool ReadFileData();
};

class TVideoItemList : public TStringMap<TVideoItem> {
  public:
    // A missing or damaged file leaves the list as it is.
    void LoadFromXml(const std::string& path);
    // 0, or -1 (the file is then not changed); callers ignore the result as
    // the program always has.
    int SaveToXml(const std::string& path) const;
    // The first item whose full path equals `path`'s (letter case aside).
    TVideoItem* FindByPath(const std::string& path) const;
};

}  // namespace tarvospeed
