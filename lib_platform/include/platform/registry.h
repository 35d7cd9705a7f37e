// The registry: HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER kept in one text file.
//
// File: the ".reg" format of the Windows registry editor, UTF-8, written with
// CR LF line ends (CR LF and LF both read):
//
//     Windows Registry Editor Version 5.00
//
//     [HKEY_LOCAL_MACHINE\Software\Quorlen\Productions\06]
//     "CachePath"="C:\\videos"
//     "MaxSpace"=dword:000003e8
//
// String values escape '\' and '"' with a backslash. Where the file lives: the
// environment variable TARVO_REGISTRY, else $XDG_CONFIG_HOME/tarvo/registry.reg,
// else ~/.config/tarvo/registry.reg. Tests always point TARVO_REGISTRY at a
// temporary file.
//
// Key paths use "\" (a "/" is read as "\") and compare without regard to letter
// case; value names do too (ASCII letters; other UTF-8 text compares exactly).
// A key exists when its section exists, or the section of a key below it;
// creating a key creates its missing parents. The value name "" is the key's
// default value, written "@". A value of a kind other than string and dword
// (hex:, hex(2): ...) is listed and reads as RegType::none with its data text
// as written; rewriting the file keeps such lines, comments and other hives.
//
// Several programs use the file at once. Every operation reads the file afresh;
// a writer holds an exclusive lock on a companion lock file for the whole
// read-change-write, writes a temporary file and renames it over the old one.
// So no reader sees a torn file and no concurrent write is lost.
//
// Results: 0 on success, -1 on failure with the reason in
// platform::last_error_text() (and errno: ENOENT for a missing key or value,
// EINVAL for a name, path or text holding a line break, EILSEQ for a file that
// is not UTF-8 text, which is then left untouched).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

enum class RegRoot { local_machine, current_user };

enum class RegType { none, string, dword };

struct RegValue {
    RegType type = RegType::none;
    std::string text;         // for RegType::string
    std::uint32_t dword = 0;  // for RegType::dword
};

// The path of the registry file in use.
std::string registry_file();

// An open key: a root and a path. Opening checks the key exists; each
// operation then works on the file as it is at that moment.
class RegKey {
  public:
    // 0 when the key exists, -1 (ENOENT) when it does not.
    static int open(RegRoot root, std::string_view path, RegKey& out);
    // Opens the key, creating it and its parents when missing.
    static int create(RegRoot root, std::string_view path, RegKey& out);

    // -1 (ENOENT) when the value or the key is gone.
    int query(std::string_view name, RegValue& out) const;
    int set_string(std::string_view name, std::string_view text) const;
    int set_dword(std::string_view name, std::uint32_t value) const;
    int delete_value(std::string_view name) const;

    // Names of the direct subkeys and of the values, in file order.
    int subkeys(std::vector<std::string>& out) const;
    int value_names(std::vector<std::string>& out) const;

    RegRoot root() const { return root_; }
    const std::string& path() const { return path_; }

  private:
    RegRoot root_ = RegRoot::local_machine;
    std::string path_;
};

// Removes a key with its values and subkeys. 0, or -1 when it did not exist.
int registry_delete_key(RegRoot root, std::string_view path);

}  // namespace platform
