// The library's XML files: GB2312 documents (read and written as GBK, the
// code page that GB2312 files hold in practice) with the declaration
// `<?xml version="1.0" encoding="GB2312"?>`, without indentation.
//
// In memory every text is UTF-8; the code page is converted with iconv at the
// file's edge. A file is replaced through a temporary file in the same folder,
// so a failed or interrupted save leaves the old file whole.
#pragma once

#include <pugixml.hpp>
#include <string>

namespace tarvospeed {

// GBK bytes to UTF-8 and back. 0, or -1 when the text does not convert (a
// character GBK cannot hold, a broken byte sequence).
int gbk_to_utf8(const std::string& in, std::string& out);
int utf8_to_gbk(const std::string& in, std::string& out);

enum class XmlLoad { ok, missing, damaged };

// Reads the GB2312 file `path` into `doc`.
XmlLoad load_gbk_xml(const std::string& path, pugi::xml_document& doc);

// A new document holding the declaration; the caller adds `root`.
void new_gbk_xml(pugi::xml_document& doc);

// Writes `doc` to `path` as GB2312. 0, or -1 (the old file stays).
int save_gbk_xml(const std::string& path, const pugi::xml_document& doc);

}  // namespace tarvospeed
