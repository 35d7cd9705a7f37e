#include "speed/video_item.h"

#include <algorithm>
#include <charconv>

#include "platform/file.h"
#include "platform/folder_walk.h"
#include "speed/gbk_xml.h"
#include "speed/start_log.h"
#include "speed/text_util.h"

namespace tarvospeed {

void TVideoItem::RemoveSpecial(int index) {
    auto it = std::find(Specials.begin(), Specials.end(), index);
    if (it != Specials.end()) Specials.erase(it);
}

bool TVideoItem::HasSpecial(int index) const {
    return std::find(Specials.begin(), Specials.end(), index) != Specials.end();
}

std::string TVideoItem::TimeText() const { return local_time_text(Time); }

bool TVideoItem::ReadFileData() {
    std::int64_t size = platform::file_size(Path.c_str());
    if (size < 0) return false;
    Size = static_cast<std::int32_t>(size);
    std::time_t t;
    Time = platform::file_time(Path, &t) == 0 ? t : NO_FILE_TIME;
    return true;
}

void TVideoItemList::LoadFromXml(const std::string& path) {
    pugi::xml_document doc;
    if (load_gbk_xml(path, doc) != XmlLoad::ok) return;
    pugi::xml_node root = doc.child("root");
    if (!root) return;
    Clear();
    for (pugi::xml_node v : root.children()) {
        if (v.type() != pugi::node_element) continue;
        std::string file = v.attribute("path").value();
        if (file.empty()) continue;
        auto item = std::make_unique<TVideoItem>();
        item->Path = file;
        item->Title = v.attribute("title").value();
        if (item->Title.empty()) item->Title = file;
        item->GrabPath = v.attribute("grabpath").value();
        std::string descr = v.attribute("descr").value();
        for (std::size_t i = 0; i < descr.size(); ++i) {
            if (descr[i] == '\r' && i + 1 < descr.size() && descr[i + 1] == '\n') continue;
            if (descr[i] == '\n') item->Descr += '\r';
            item->Descr += descr[i];
        }
        if (!item->ReadFileData()) continue;  // the video is gone
        bool bad = false;
        for (pugi::xml_node s : v.children("specials")) {
            for (pugi::xml_node i : s.children()) {
                std::string text = i.attribute("index").value();
                if (text.empty()) continue;
                int n = 0;
                auto r = std::from_chars(text.data(), text.data() + text.size(), n);
                if (r.ec != std::errc() || r.ptr != text.data() + text.size()) bad = true;
                item->AddSpecial(n);
            }
        }
        if (bad) continue;
        Add(file, std::move(item));
    }
}

int TVideoItemList::SaveToXml(const std::string& path) const {
    pugi::xml_document doc;
    new_gbk_xml(doc);
    pugi::xml_node root = doc.append_child("root");
    for (std::size_t i = 0; i < Count(); ++i) {
        const TVideoItem& item = Item(i);
        pugi::xml_node v = root.append_child("video");
        v.append_attribute("title") = item.Title.c_str();
        v.append_attribute("path") = item.Path.c_str();
        v.append_attribute("grabpath") = item.GrabPath.c_str();
        // Line breaks go out as LF alone: the reader turns each LF into CR LF.
        std::string descr;
        for (std::size_t k = 0; k < item.Descr.size(); ++k)
            if (!(item.Descr[k] == '\r' && k + 1 < item.Descr.size() && item.Descr[k + 1] == '\n'))
                descr += item.Descr[k];
        v.append_attribute("descr") = descr.c_str();
        v.append_attribute("time") = item.TimeText().c_str();
        for (int index : item.Specials)
            v.append_child("specials").append_child("item").append_attribute("index") = index;
    }
    return save_gbk_xml(path, doc);
}

TVideoItem* TVideoItemList::FindByPath(const std::string& path) const {
    std::string want = full_path(path);
    for (std::size_t i = 0; i < Count(); ++i)
        if (same_text(full_path(Item(i).Path), want)) return &Item(i);
    return nullptr;
}

}  // namespace tarvospeed
