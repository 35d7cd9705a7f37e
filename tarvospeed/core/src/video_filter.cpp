#include "speed/video_filter.h"

#include "speed/gbk_xml.h"

namespace tarvospeed {

void TVideoFilterList::LoadFromXml(const std::string& path) {
    pugi::xml_document doc;
    if (load_gbk_xml(path, doc) != XmlLoad::ok) return;
    pugi::xml_node root = doc.child("root");
    if (!root) return;
    Clear();
    for (pugi::xml_node e : root.children()) {
        if (e.type() != pugi::node_element) continue;
        std::string name = e.attribute("name").value();
        if (name.empty()) continue;
        auto f = std::make_unique<TVideoFilter>();
        f->Name = name;
        f->ExtName = e.attribute("extname").value();
        f->Icon = e.attribute("icon").value();
        f->Text = e.text().get();
        Add(name, std::move(f));
    }
}

std::string TVideoFilterList::FilterNames() const {
    std::string text;
    for (std::size_t i = 0; i < Count(); ++i) text += Key(i) + "\n";
    return text;
}

}  // namespace tarvospeed
