#include "speed/sys_file.h"

#include <vector>

#include "platform/folder_walk.h"
#include "speed/start_log.h"
#include "speed/text_util.h"

namespace tarvospeed {

namespace {

// The "*" + ending match of a Windows file search: letter case aside.
bool name_ends_with(const std::string& name, const std::string& ending) {
    return name.size() >= ending.size() &&
           same_text(name.substr(name.size() - ending.size()), ending);
}

}  // namespace

std::string TSysFileItem::DateText() const { return local_time_text(FileTime); }

int TSysFileItem::DeleteFile() const { return platform::file_remove(FilePath); }

std::size_t TSysFileList::Scan(const std::string& folder, const std::string& patterns) {
    Clear();
    std::string base = folder;
    if (!base.empty() && base.back() != '/') base += '/';
    std::vector<platform::FolderEntry> entries;
    if (platform::folder_entries(base, entries) != 0) return 0;
    for (const std::string& ending : split_lines(patterns)) {
        if (ending.empty()) continue;
        for (const auto& e : entries) {
            if (!name_ends_with(e.name, ending)) continue;
            auto item = std::make_unique<TSysFileItem>();
            item->FilePath = base + e.name;
            item->FileSize = static_cast<std::int32_t>(e.size);
            item->FileTime = e.time;
            std::string key = item->FilePath;
            Add(key, std::move(item));
        }
    }
    return Count();
}

}  // namespace tarvospeed
