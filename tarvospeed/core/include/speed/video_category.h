// The tag tree (TVideoCategory below a root node, "我的标签"), kept in
// "specials.xml": <root><item index name>...nested items...</item></root>.
//
// The tree is the core's own node structure; the GUI mirrors it in its tree
// view. The tree owns its nodes and their tags: deleting a node frees its
// subtree.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace tarvospeed {

constexpr const char* SPECIALS_XML = "specials.xml";
constexpr int TAG_STATE_INDEX = 3;  // how the window tells a tag node

struct TVideoCategory {
    int Index = 0;
    std::string Name;
};

struct TCategoryNode {
    std::string Text;
    std::unique_ptr<TVideoCategory> Data;  // null for the root
    int StateIndex = 0;
    TCategoryNode* Parent = nullptr;
    std::vector<std::unique_ptr<TCategoryNode>> Children;

    TCategoryNode* AddChild(const std::string& text);
};

class TVideoCategoryTree {
  public:
    explicit TVideoCategoryTree(std::string root_text = "我的标签");

    TCategoryNode& Root() { return root_; }
    // A new tag below `parent` (the root when null), or null when a sibling
    // has that name (letter case aside).
    TVideoCategory* AddCategory(TCategoryNode* parent, const std::string& name,
                                TCategoryNode** node_out = nullptr);
    int NextIndex() const;
    TVideoCategory* FindByIndex(int index) const;
    TCategoryNode* FindNode(int index) const;
    bool NameExists(const TCategoryNode* parent, const std::string& name) const;
    bool RenameCategory(TCategoryNode* node, const std::string& name);
    void DeleteCategory(TCategoryNode* node);
    void Clear();

    // An empty path fails with "没有指定合法的路径" (returned in `error`, -1).
    // A missing or damaged file leaves the tree. 0 otherwise.
    int LoadFromXml(const std::string& path, std::string* error = nullptr);
    // 0, or -1 when the file could not be written (the caller reports it).
    int SaveToXml(const std::string& path) const;

  private:
    TCategoryNode root_;
};

}  // namespace tarvospeed
