// The file types that count as videos, from "videofilters.xml" (never
// written by the program): any child of `root` with `name` (the file-name
// ending searched for), `extname`, `icon` and its text.
#pragma once

#include <string>

#include "speed/string_map.h"

namespace tarvospeed {

constexpr const char* VIDEOFILTERS_XML = "videofilters.xml";

struct TVideoFilter {
    std::string Name, ExtName, Icon, Text;
};

class TVideoFilterList : public TStringMap<TVideoFilter> {
  public:
    // A missing or damaged file leaves the list as it is.
    void LoadFromXml(const std::string& path);
    // The names, one per line.
    std::string FilterNames() const;
};

}  // namespace tarvospeed
