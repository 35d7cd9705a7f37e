#include "speed/gbk_xml.h"

#include <iconv.h>

#include <cerrno>
#include <sstream>

#include "platform/file.h"

namespace tarvospeed {

namespace {

int convert(const char* to, const char* from, const std::string& in, std::string& out) {
    out.clear();
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return -1;
    std::string buf(in.size() * 2 + 16, '\0');
    char* src = const_cast<char*>(in.data());
    std::size_t src_left = in.size();
    int result = 0;
    while (src_left > 0) {
        char* dst = buf.data();
        std::size_t dst_left = buf.size();
        std::size_t r = iconv(cd, &src, &src_left, &dst, &dst_left);
        out.append(buf.data(), buf.size() - dst_left);
        if (r == static_cast<std::size_t>(-1) && errno != E2BIG) {
            result = -1;
            break;
        }
    }
    iconv_close(cd);
    return result;
}

}  // namespace

int gbk_to_utf8(const std::string& in, std::string& out) {
    return convert("UTF-8", "GBK", in, out);
}

int utf8_to_gbk(const std::string& in, std::string& out) {
    return convert("GBK", "UTF-8", in, out);
}

XmlLoad load_gbk_xml(const std::string& path, pugi::xml_document& doc) {
    std::string raw;
    if (platform::file_read_all(path.c_str(), raw) != 0)
        return errno == ENOENT ? XmlLoad::missing : XmlLoad::damaged;
    std::string text;
    if (gbk_to_utf8(raw, text) != 0) return XmlLoad::damaged;
    pugi::xml_parse_result r =
        doc.load_buffer(text.data(), text.size(), pugi::parse_default | pugi::parse_declaration,
                        pugi::encoding_utf8);
    return r ? XmlLoad::ok : XmlLoad::damaged;
}

void new_gbk_xml(pugi::xml_document& doc) {
    doc.reset();
    pugi::xml_node decl = doc.append_child(pugi::node_declaration);
    decl.append_attribute("version") = "1.0";
    decl.append_attribute("encoding") = "GB2312";
}

int save_gbk_xml(const std::string& path, const pugi::xml_document& doc) {
    std::ostringstream s;
    doc.save(s, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
    std::string gbk;
    if (utf8_to_gbk(s.str(), gbk) != 0) return -1;
    return platform::file_replace(path.c_str(), gbk);
}

}  // namespace tarvospeed
