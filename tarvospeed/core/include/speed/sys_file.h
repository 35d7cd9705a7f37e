// The files of the cache folder: TSysFileItem for each file found by a scan.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "speed/string_map.h"
#include "speed/video_item.h"

namespace tarvospeed {

struct TSysFileItem {
    std::string FilePath;
    std::time_t FileTime = NO_FILE_TIME;
    std::int32_t FileSize = 0;

    std::string DateText() const;
    // 0, or -1 when the file could not be removed.
    int DeleteFile() const;
};

class TSysFileList : public TStringMap<TSysFileItem> {
  public:
    // Lists the entries of `folder` whose names end with one of the lines of
    // `patterns` ("*" + line), line by line, in the folder's order. A folder
    // that does not exist gives none. The count found.
    std::size_t Scan(const std::string& folder, const std::string& patterns);
    const std::string& Path(std::size_t i) const { return Key(i); }
};

}  // namespace tarvospeed
