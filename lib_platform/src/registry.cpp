// The registry file. Every call parses the file afresh into sections of lines;
// a change edits only the lines it concerns and writes every other line back
// as it was read, so comments, other hives and value types this code does not
// know (hex:, hex(2): ...) survive a rewrite by this program.
#include "platform/registry.h"

#include "platform/file.h"
#include "whole_file.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <functional>

namespace platform {

namespace {

constexpr std::string_view file_header = "Windows Registry Editor Version 5.00";
constexpr std::string_view old_file_header = "REGEDIT4";
constexpr std::string_view root_names[] = {"HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER"};

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Letter case is ignored for ASCII letters; other UTF-8 text compares as bytes.
bool same_name(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); i++)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

std::string_view trim(std::string_view s) {
    auto first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

// "a/b\\\\c\\" -> "a\\b\\c": one separator, none at either end.
std::string normal_path(std::string_view path) {
    std::string out;
    std::size_t start = 0;
    while (start <= path.size()) {
        auto end = path.find_first_of("\\/", start);
        if (end == std::string_view::npos) end = path.size();
        if (end > start) {
            if (!out.empty()) out += '\\';
            out.append(path.substr(start, end - start));
        }
        start = end + 1;
    }
    return out;
}

bool has_line_break(std::string_view s) {
    return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

std::string quoted(std::string_view s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

// Reads a quoted text at the start of `s` (which begins with '"'), undoing the
// two escapes. Returns the length taken, 0 when the closing quote is missing.
std::size_t unquote(std::string_view s, std::string& out) {
    out.clear();
    for (std::size_t i = 1; i < s.size(); i++) {
        char c = s[i];
        if (c == '"') return i + 1;
        if (c == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"')) c = s[++i];
        out += c;
    }
    return 0;
}

// One logical line of a section: a value (which may run over continuation
// lines ending with '\'), or anything else (comment, blank, unknown text).
struct Item {
    std::string raw;  // as read, continuation lines joined by CR LF
    bool is_value = false;
    std::string name;  // "" for the default value "@"
    RegValue value;    // type none for data of a kind this code leaves alone
};

// A "[...]" section, or the lines before the first one (empty header).
struct Section {
    std::string header;   // the raw header line
    bool is_key = false;  // one of our two roots, not a "[-...]" removal
    RegRoot root = RegRoot::local_machine;
    std::string path;  // normalised, without the root
    std::vector<Item> items;
};

struct Doc {
    std::vector<Section> sections;  // sections[0]: the lines before any section
};

std::string header_of(RegRoot root, const std::string& path) {
    std::string h = "[";
    h += root_names[root == RegRoot::local_machine ? 0 : 1];
    if (!path.empty()) h += "\\" + path;
    return h + "]";
}

void parse_header(std::string_view line, Section& s) {
    s.header = std::string(line);
    line = trim(line);
    auto close = line.rfind(']');
    std::string_view inner = line.substr(
        1, close == std::string_view::npos || close == 0 ? std::string_view::npos : close - 1);
    if (inner.empty() || inner.front() == '-') return;
    std::string full = normal_path(inner);
    std::string_view f = full;
    std::string_view root = f.substr(0, f.find('\\'));
    for (int r = 0; r < 2; r++) {
        if (same_name(root, root_names[r])) {
            s.is_key = true;
            s.root = r == 0 ? RegRoot::local_machine : RegRoot::current_user;
            s.path = root.size() < f.size() ? std::string(f.substr(root.size() + 1)) : "";
        }
    }
}

void parse_value(Item& item) {
    std::string_view t = trim(item.raw);
    std::size_t taken;
    if (!t.empty() && t.front() == '@') {
        item.name.clear();
        taken = 1;
    } else if (!t.empty() && t.front() == '"') {
        taken = unquote(t, item.name);
        if (taken == 0) return;
    } else {
        return;
    }
    std::string_view rest = trim(t.substr(taken));
    if (rest.empty() || rest.front() != '=') return;
    std::string_view data = trim(rest.substr(1));
    item.is_value = true;
    if (!data.empty() && data.front() == '"' && unquote(data, item.value.text) != 0) {
        item.value.type = RegType::string;
    } else if (data.size() > 6 && data.size() <= 14 && same_name(data.substr(0, 6), "dword:") &&
               data.find_first_not_of("0123456789abcdefABCDEF", 6) == std::string_view::npos) {
        item.value.type = RegType::dword;
        item.value.dword = static_cast<std::uint32_t>(
            std::strtoul(std::string(data.substr(6)).c_str(), nullptr, 16));
    } else {
        item.value.type = RegType::none;
        item.value.text = std::string(data);
    }
}

bool continues(std::string_view line) {
    line = trim(line);
    return !line.empty() && line.back() == '\\';
}

void parse(std::string_view data, Doc& doc) {
    doc.sections.assign(1, Section{});
    if (data.substr(0, 3) == "\xEF\xBB\xBF") data.remove_prefix(3);
    bool continuing = false;
    while (!data.empty()) {
        auto nl = data.find('\n');
        std::string_view line = data.substr(0, nl);
        data.remove_prefix(nl == std::string_view::npos ? data.size() : nl + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

        Section& cur = doc.sections.back();
        if (continuing) {
            cur.items.back().raw.append("\r\n").append(line);
            continuing = continues(line);
            continue;
        }
        std::string_view t = trim(line);
        if (!t.empty() && t.front() == '[') {
            doc.sections.emplace_back();
            parse_header(line, doc.sections.back());
            continue;
        }
        Item item;
        item.raw = std::string(line);
        if (doc.sections.size() > 1 && !t.empty() && t.front() != ';') {
            parse_value(item);
            continuing = continues(line);
            if (continuing) {
                // The data is complete only with its continuation lines.
                item.value.type = RegType::none;
            }
        }
        cur.items.push_back(std::move(item));
    }
}

std::string render(const Doc& doc) {
    std::string out;
    for (const Section& s : doc.sections) {
        if (!s.header.empty()) out.append(s.header).append("\r\n");
        for (const Item& item : s.items) out.append(item.raw).append("\r\n");
    }
    return out;
}

// The file cannot be understood as UTF-8 text; rewriting it would destroy it.
bool unreadable_text(std::string_view data) {
    return data.substr(0, 2) == "\xFF\xFE" || data.substr(0, 2) == "\xFE\xFF" ||
           data.find('\0') != std::string_view::npos;
}

// Loads the registry: a missing file is an empty registry.
int load(Doc& doc) {
    std::string file = registry_file();
    if (file.empty()) {
        errno = ENOENT;
        return -1;
    }
    std::string data;
    if (!detail::read_whole_file(file.c_str(), data)) {
        if (errno != ENOENT) return -1;
        data.clear();
    }
    if (unreadable_text(data)) {
        errno = EILSEQ;
        return -1;
    }
    parse(data, doc);
    return 0;
}

bool is_key(const Section& s, RegRoot root, std::string_view path) {
    return s.is_key && s.root == root && same_name(s.path, path);
}

bool is_below(const Section& s, RegRoot root, std::string_view path) {
    if (!s.is_key || s.root != root || s.path.size() <= path.size()) return false;
    if (path.empty()) return true;
    return s.path[path.size()] == '\\' &&
           same_name(std::string_view(s.path).substr(0, path.size()), path);
}

// A key exists when its section does, or the section of a key below it (a
// hand-written file may list only the deepest keys).
bool key_exists(const Doc& doc, RegRoot root, std::string_view path) {
    if (path.empty()) return true;
    for (const Section& s : doc.sections)
        if (is_key(s, root, path) || is_below(s, root, path)) return true;
    return false;
}

Item* find_value(Doc& doc, RegRoot root, std::string_view path, std::string_view name) {
    for (Section& s : doc.sections)
        if (is_key(s, root, path))
            for (Item& item : s.items)
                if (item.is_value && same_name(item.name, name)) return &item;
    return nullptr;
}

// Adds the section of a key: before the first key below it, so a tree stays
// together, else at the end after a blank line.
Section& add_section(Doc& doc, RegRoot root, const std::string& path) {
    Section s;
    s.header = header_of(root, path);
    s.is_key = true;
    s.root = root;
    s.path = path;
    s.items.push_back(Item{});  // the blank line that ends a section
    for (std::size_t i = 1; i < doc.sections.size(); i++)
        if (is_below(doc.sections[i], root, path))
            return *doc.sections.insert(doc.sections.begin() + static_cast<long>(i), std::move(s));
    Section& last = doc.sections.back();
    if (!last.items.empty() ? !trim(last.items.back().raw).empty() : doc.sections.size() > 1)
        last.items.push_back(Item{});
    doc.sections.push_back(std::move(s));
    return doc.sections.back();
}

void ensure_file_header(Doc& doc) {
    for (const Item& item : doc.sections[0].items) {
        std::string_view t = trim(item.raw);
        if (t == file_header || t == old_file_header) return;
    }
    auto& items = doc.sections[0].items;
    Item head;
    head.raw = std::string(file_header);
    bool blank_follows = !items.empty() && trim(items.front().raw).empty();
    if (!blank_follows) items.insert(items.begin(), Item{});
    items.insert(items.begin(), std::move(head));
}

// The exclusive lock of writers, on a companion file: the registry file itself
// is replaced by every write, so it cannot carry the lock.
class WriteLock {
  public:
    explicit WriteLock(const std::string& file) {
        std::string lock = file + ".lock";
        fd_ = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd_ < 0) return;
        while (::flock(fd_, LOCK_EX) != 0) {
            if (errno != EINTR) {
                int saved = errno;
                ::close(fd_);
                fd_ = -1;
                errno = saved;
                return;
            }
        }
    }
    ~WriteLock() {
        if (fd_ >= 0) ::close(fd_);  // releases the lock
    }
    WriteLock(const WriteLock&) = delete;
    WriteLock& operator=(const WriteLock&) = delete;
    bool held() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

// Read-change-write under the lock. `change` returns 1 when it changed the
// document, 0 when nothing needs writing, -1 (errno set) to give up.
int modify(const std::function<int(Doc&)>& change) {
    std::string file = registry_file();
    if (file.empty()) {
        errno = ENOENT;
        return -1;
    }
    auto slash = file.rfind('/');
    if (slash != std::string::npos && slash > 0 && make_folders(file.substr(0, slash).c_str()) != 0)
        return -1;
    WriteLock lock(file);
    if (!lock.held()) return -1;
    Doc doc;
    if (load(doc) != 0) return -1;
    int r = change(doc);
    if (r <= 0) return r;
    ensure_file_header(doc);
    return detail::replace_whole_file(file.c_str(), render(doc), 0644);
}

int set_value(RegRoot root, const std::string& path, std::string_view name, const RegValue& v) {
    if (has_line_break(name) || (v.type == RegType::string && has_line_break(v.text))) {
        errno = EINVAL;  // a line break would end the line and corrupt the file
        return -1;
    }
    std::string raw = name.empty() ? std::string("@") : quoted(name);
    raw += '=';
    if (v.type == RegType::string) {
        raw += quoted(v.text);
    } else {
        char hex[16];
        std::snprintf(hex, sizeof(hex), "dword:%08x", static_cast<unsigned>(v.dword));
        raw += hex;
    }
    return modify([&](Doc& doc) {
        if (!key_exists(doc, root, path)) {
            errno = ENOENT;
            return -1;
        }
        if (Item* item = find_value(doc, root, path, name)) {
            item->raw = raw;
            return 1;
        }
        Section* sec = nullptr;
        for (Section& s : doc.sections)
            if (is_key(s, root, path)) {
                sec = &s;
                break;
            }
        if (sec == nullptr) sec = &add_section(doc, root, path);
        // After the last line that is not blank, so the blank line that
        // separates sections stays last.
        auto at = sec->items.end();
        while (at != sec->items.begin() && trim((at - 1)->raw).empty()) --at;
        Item item;
        item.raw = raw;
        sec->items.insert(at, std::move(item));
        return 1;
    });
}

int check_path(std::string_view path, std::string& out) {
    if (has_line_break(path)) {
        errno = EINVAL;
        return -1;
    }
    out = normal_path(path);
    return 0;
}

// Reads the file for a look at one key: 0, or -1 with errno (ENOENT when the
// key is not there).
int load_key(Doc& doc, RegRoot root, const std::string& path) {
    if (load(doc) != 0) return -1;
    if (!key_exists(doc, root, path)) {
        errno = ENOENT;
        return -1;
    }
    return 0;
}

// Names compare without case: a second spelling of one is not listed again.
void add_name_once(std::vector<std::string>& names, std::string name) {
    for (const std::string& have : names) {
        if (same_name(have, name)) return;
    }
    names.push_back(std::move(name));
}

}  // namespace

std::string registry_file() {
    const char* env = std::getenv("TARVO_REGISTRY");
    if (env != nullptr && *env != '\0') return env;
    env = std::getenv("XDG_CONFIG_HOME");
    if (env != nullptr && *env == '/')  // a relative value is to be ignored
        return std::string(env) + "/tarvo/registry.reg";
    std::string home;
    env = std::getenv("HOME");
    if (env != nullptr && *env != '\0') {
        home = env;
    } else if (struct passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr) {
        home = pw->pw_dir;
    }
    if (home.empty()) return {};
    return home + "/.config/tarvo/registry.reg";
}

int RegKey::open(RegRoot root, std::string_view path, RegKey& out) {
    std::string p;
    if (check_path(path, p) != 0) return -1;
    Doc doc;
    if (load_key(doc, root, p) != 0) return -1;
    out.root_ = root;
    out.path_ = std::move(p);
    return 0;
}

int RegKey::create(RegRoot root, std::string_view path, RegKey& out) {
    std::string p;
    if (check_path(path, p) != 0) return -1;
    Doc doc;
    if (load(doc) != 0) return -1;
    if (!key_exists(doc, root, p)) {
        int r = modify([&](Doc& d) {
            if (key_exists(d, root, p)) return 0;  // another writer made it meanwhile
            // Parents first, each one that is missing.
            for (std::size_t end = 0; end != std::string::npos;) {
                end = p.find('\\', end + 1);
                std::string prefix = p.substr(0, end);
                if (!key_exists(d, root, prefix)) add_section(d, root, prefix);
            }
            return 1;
        });
        if (r != 0) return -1;
    }
    out.root_ = root;
    out.path_ = std::move(p);
    return 0;
}

int RegKey::query(std::string_view name, RegValue& out) const {
    Doc doc;
    if (load(doc) != 0) return -1;
    Item* item = find_value(doc, root_, path_, name);
    if (item == nullptr) {
        errno = ENOENT;
        return -1;
    }
    out = item->value;
    return 0;
}

int RegKey::set_string(std::string_view name, std::string_view text) const {
    RegValue v;
    v.type = RegType::string;
    v.text = std::string(text);
    return set_value(root_, path_, name, v);
}

int RegKey::set_dword(std::string_view name, std::uint32_t value) const {
    RegValue v;
    v.type = RegType::dword;
    v.dword = value;
    return set_value(root_, path_, name, v);
}

int RegKey::delete_value(std::string_view name) const {
    int r = modify([&](Doc& doc) {
        bool found = false;
        for (Section& s : doc.sections) {
            if (!is_key(s, root_, path_)) continue;
            // Every copy, so a hand-edited duplicate does not come back.
            std::erase_if(s.items, [&](const Item& item) {
                bool hit = item.is_value && same_name(item.name, name);
                found = found || hit;
                return hit;
            });
        }
        if (!found) {
            errno = ENOENT;
            return -1;
        }
        return 1;
    });
    return r < 0 ? -1 : 0;
}

int RegKey::subkeys(std::vector<std::string>& out) const {
    out.clear();
    Doc doc;
    if (load_key(doc, root_, path_) != 0) return -1;
    std::size_t skip = path_.empty() ? 0 : path_.size() + 1;
    for (const Section& s : doc.sections) {
        if (!is_below(s, root_, path_)) continue;
        std::string_view rest = std::string_view(s.path).substr(skip);
        add_name_once(out, std::string(rest.substr(0, rest.find('\\'))));
    }
    return 0;
}

int RegKey::value_names(std::vector<std::string>& out) const {
    out.clear();
    Doc doc;
    if (load_key(doc, root_, path_) != 0) return -1;
    for (const Section& s : doc.sections) {
        if (!is_key(s, root_, path_)) continue;
        for (const Item& item : s.items) {
            if (item.is_value) add_name_once(out, item.name);
        }
    }
    return 0;
}

int registry_delete_key(RegRoot root, std::string_view path) {
    std::string p;
    if (check_path(path, p) != 0) return -1;
    if (p.empty()) {
        errno = EINVAL;  // a root cannot be removed
        return -1;
    }
    int r = modify([&](Doc& doc) {
        if (!key_exists(doc, root, p)) {
            errno = ENOENT;
            return -1;
        }
        std::erase_if(doc.sections,
                      [&](const Section& s) { return is_key(s, root, p) || is_below(s, root, p); });
        return 1;
    });
    return r < 0 ? -1 : 0;
}

}  // namespace platform
