#include "FfdshowSettings.h"

#include "platform/registry.h"
#include "speed/text_util.h"

namespace {

int adjust_key(const char* path, const std::string& program) {
    platform::RegKey key;
    if (platform::RegKey::create(platform::RegRoot::current_user, path, key) != 0) return -1;
    if (key.set_dword("trayIcon", 0) != 0) return -1;
    platform::RegValue value;
    std::string old;
    if (key.query("useonlyin", value) == 0 && value.type == platform::RegType::string)
        old = value.text;
    std::string joined;
    for (const std::string& p : ffdshow_adjust_programs(ffdshow_split_programs(old), program))
        joined += (joined.empty() ? "" : ";") + p;
    return key.set_string("useonlyin", joined);
}

}  // namespace

std::vector<std::string> ffdshow_split_programs(const std::string& value) {
    std::vector<std::string> out;
    std::string cur;
    for (char c : value) {
        if (c == ';' || c == '\r' || c == '\n') {
            out.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    out.push_back(cur);
    return out;
}

std::vector<std::string> ffdshow_adjust_programs(const std::vector<std::string>& programs,
                                                 const std::string& program) {
    std::vector<std::string> out;
    for (const std::string& p : programs)
        if (!p.empty() && !tarvospeed::same_text(p, "DuDozi.exe") &&
            !tarvospeed::same_text(p, program))
            out.push_back(p);
    out.push_back(program);
    return out;
}

int ffdshow_adjust(const std::string& program) {
    int rc = 0;
    for (const char* path : {kFfdshowVideoKey, kFfdshowAudioKey})
        if (adjust_key(path, program) != 0) rc = -1;
    return rc;
}
