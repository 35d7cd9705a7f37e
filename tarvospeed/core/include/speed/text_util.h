// Small text helpers the library classes share.
#pragma once

#include <string>
#include <vector>

namespace tarvospeed {

// ASCII letters compare without regard to case; other bytes exactly.
bool same_text(const std::string& a, const std::string& b);

// `path` made absolute against the current folder and cleaned of "." and
// ".." parts, for comparing two paths of one file.
std::string full_path(const std::string& path);

// The part after the last "/".
std::string file_name_of(const std::string& path);

// Lines of `text` split at LF (a CR before it dropped); no empty last line.
std::vector<std::string> split_lines(const std::string& text);

}  // namespace tarvospeed
