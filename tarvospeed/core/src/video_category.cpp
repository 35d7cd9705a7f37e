#include "speed/video_category.h"

#include <algorithm>
#include <charconv>
#include <functional>

#include "speed/gbk_xml.h"
#include "speed/text_util.h"

namespace tarvospeed {

namespace {

// Depth first: a node, then its children, then its next sibling.
const TCategoryNode* find_in(const TCategoryNode& node, int index) {
    for (const auto& child : node.Children) {
        if (child->Data && child->Data->Index == index) return child.get();
        if (const TCategoryNode* n = find_in(*child, index)) return n;
    }
    return nullptr;
}

int max_index(const TCategoryNode& node) {
    int m = 0;
    for (const auto& child : node.Children) {
        if (child->Data) m = std::max(m, child->Data->Index);
        m = std::max(m, max_index(*child));
    }
    return m;
}

void write_items(const TCategoryNode& node, pugi::xml_node parent) {
    for (const auto& child : node.Children) {
        if (!child->Data) continue;
        pugi::xml_node item = parent.append_child("item");
        item.append_attribute("index") = child->Data->Index;
        item.append_attribute("name") = child->Data->Name.c_str();
        write_items(*child, item);
    }
}

}  // namespace

TCategoryNode* TCategoryNode::AddChild(const std::string& text) {
    auto node = std::make_unique<TCategoryNode>();
    node->Text = text;
    node->Parent = this;
    Children.push_back(std::move(node));
    return Children.back().get();
}

TVideoCategoryTree::TVideoCategoryTree(std::string root_text) { root_.Text = std::move(root_text); }

bool TVideoCategoryTree::NameExists(const TCategoryNode* parent, const std::string& name) const {
    const TCategoryNode& p = parent ? *parent : root_;
    return std::any_of(p.Children.begin(), p.Children.end(), [&](const auto& c) {
        return same_text(c->Data ? c->Data->Name : c->Text, name);
    });
}

TVideoCategory* TVideoCategoryTree::AddCategory(TCategoryNode* parent, const std::string& name,
                                                TCategoryNode** node_out) {
    TCategoryNode* p = parent ? parent : &root_;
    if (NameExists(p, name)) return nullptr;
    int index = NextIndex();
    TCategoryNode* node = p->AddChild(name);
    node->Data = std::make_unique<TVideoCategory>(TVideoCategory{index, name});
    node->StateIndex = TAG_STATE_INDEX;
    if (node_out) *node_out = node;
    return node->Data.get();
}

int TVideoCategoryTree::NextIndex() const { return max_index(root_) + 1; }

TCategoryNode* TVideoCategoryTree::FindNode(int index) const {
    return const_cast<TCategoryNode*>(find_in(root_, index));
}

TVideoCategory* TVideoCategoryTree::FindByIndex(int index) const {
    TCategoryNode* n = FindNode(index);
    return n ? n->Data.get() : nullptr;
}

bool TVideoCategoryTree::RenameCategory(TCategoryNode* node, const std::string& name) {
    if (node == nullptr || !node->Data || NameExists(node->Parent, name)) return false;
    node->Data->Name = name;
    node->Text = name;
    return true;
}

void TVideoCategoryTree::DeleteCategory(TCategoryNode* node) {
    if (node == nullptr || node->Parent == nullptr) return;
    auto& siblings = node->Parent->Children;
    siblings.erase(std::remove_if(siblings.begin(), siblings.end(),
                                  [&](const auto& c) { return c.get() == node; }),
                   siblings.end());
}

void TVideoCategoryTree::Clear() { root_.Children.clear(); }

int TVideoCategoryTree::LoadFromXml(const std::string& path, std::string* error) {
    if (path.empty()) {
        if (error) *error = "没有指定合法的路径";
        return -1;
    }
    pugi::xml_document doc;
    if (load_gbk_xml(path, doc) != XmlLoad::ok) return 0;
    pugi::xml_node root = doc.child("root");
    if (!root) return 0;
    Clear();
    std::function<void(pugi::xml_node, TCategoryNode&)> read_level = [&](pugi::xml_node element,
                                                                         TCategoryNode& parent) {
        for (pugi::xml_node child : element.children()) {
            if (child.type() != pugi::node_element) continue;
            std::string name = child.attribute("name").value();
            if (name.empty()) return;  // ends this level
            std::string text = child.attribute("index").value();
            int index = 0;
            if (text.empty()) {
                index = NextIndex();
            } else {
                auto r = std::from_chars(text.data(), text.data() + text.size(), index);
                if (r.ec != std::errc() || r.ptr != text.data() + text.size()) {
                    // Not added; its own items go to its parent so none is lost.
                    read_level(child, parent);
                    continue;
                }
            }
            TCategoryNode* node = parent.AddChild(name);
            node->Data = std::make_unique<TVideoCategory>(TVideoCategory{index, name});
            node->StateIndex = TAG_STATE_INDEX;
            read_level(child, *node);
        }
    };
    read_level(root, root_);
    return 0;
}

int TVideoCategoryTree::SaveToXml(const std::string& path) const {
    pugi::xml_document doc;
    new_gbk_xml(doc);
    write_items(root_, doc.append_child("root"));
    return save_gbk_xml(path, doc);
}

}  // namespace tarvospeed
