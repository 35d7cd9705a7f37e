#include "localres_protocal.h"

#include <strings.h>

#include <cctype>
#include <cstring>
#include <vector>

#include "acl_htable.h"
#include "acl_msg.h"
#include "named_pipe.h"
#include "p2p_resource.h"

namespace {

typedef int (*PROTO_HANDLER)(NAMED_PIPE* pipe, const std::map<std::string, std::string>& params);

struct PROTO_CMD {
    const char* cmd;
    const char* item_sep;
    const char* kv_sep;
    PROTO_HANDLER handler;
};

int proto_on_res_deleted(NAMED_PIPE* pipe, const std::map<std::string, std::string>& params);

int proto_on_close(NAMED_PIPE*, const std::map<std::string, std::string>&) {
    p2p_client_close();
    return 0;
}

const PROTO_CMD kCommands[] = {
    {"DEL", "&", "=", proto_on_res_deleted},
    {"SPX", "&", "=", proto_on_close},
    {nullptr, nullptr, nullptr, nullptr},
};

struct PathParts {
    std::string drive, dir, name, ext;
};

// Splits a path into drive, folder, name and extension, as the Windows
// runtime does; "\" and "/" both separate.
PathParts split_path(const std::string& path) {
    PathParts p;
    std::string rest = path;
    if (rest.size() >= 2 && rest[1] == ':') {
        p.drive = rest.substr(0, 2);
        rest = rest.substr(2);
    }
    std::size_t slash = rest.find_last_of("\\/");
    std::string file = slash == std::string::npos ? rest : rest.substr(slash + 1);
    p.dir = slash == std::string::npos ? "" : rest.substr(0, slash + 1);
    std::size_t dot = file.find_last_of('.');
    p.name = dot == std::string::npos ? file : file.substr(0, dot);
    p.ext = dot == std::string::npos ? "" : file.substr(dot);
    // __remove_path_back_slash: the folder's trailing separators go.
    while (!p.dir.empty() && (p.dir.back() == '\\' || p.dir.back() == '/')) p.dir.pop_back();
    return p;
}

bool iequal(const std::string& a, const std::string& b) {
    return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

struct RemoveWalk {
    std::string path;
    std::uint64_t match = 0;
};

void __remove_resource_item(ACL_HTABLE_INFO* info, void* arg) {
    auto* walk = static_cast<RemoveWalk*>(arg);
    const auto* item = static_cast<const P2P_RESOURCE_ITEM*>(info->value);
    if (local_res_same_path(item->file_path, walk->path)) walk->match = item->id;
}

int proto_on_res_deleted(NAMED_PIPE*, const std::map<std::string, std::string>& params) {
    auto it = params.find("res_path");
    if (it == params.end()) {
        acl_msg_error("%s(%d): Can not found RES_PATH parameter", __func__, __LINE__);
        return -1;
    }
    std::lock_guard<std::recursive_mutex> lock(g_client.res_lock);
    if (g_client.res_table == nullptr) return 0;
    RemoveWalk walk;
    walk.path = it->second;
    acl_htable_walk(g_client.res_table, __remove_resource_item, &walk);
    if (walk.match == 0) return 0;
    acl_msg_info("%s(%d): deleted resource(%llu)", __func__, __LINE__,
                 static_cast<unsigned long long>(walk.match));
    p2p_resource_remove(walk.match);
    return 0;
}

}  // namespace

bool local_res_same_path(const std::string& a, const std::string& b) {
    PathParts x = split_path(a), y = split_path(b);
    // Doubled separators inside the folder ("C:\v\\a.flv") name the same folder.
    auto squeeze = [](std::string d) {
        std::string out;
        for (char c : d) {
            char s = c == '/' ? '\\' : c;
            if (s == '\\' && !out.empty() && out.back() == '\\') continue;
            out.push_back(s);
        }
        return out;
    };
    return iequal(x.drive, y.drive) && iequal(squeeze(x.dir), squeeze(y.dir)) &&
           iequal(x.name, y.name) && iequal(x.ext, y.ext);
}

void local_res_ready_build(const char* file_path, const char* caption, std::string& out) {
    // "RDY" "PATH=" p "\r\n" "CAPTION=" c "\r\n" and the NUL, in 1,024 bytes:
    // the caption gives way first, then the path.
    const std::size_t fixed = 3 + 5 + 2 + 8 + 2 + 1;
    std::string path = file_path;
    std::string cap = caption != nullptr ? caption : "";
    const std::size_t room = NAMED_PIPE_BUF_SIZE - fixed;
    if (path.size() > room) path.resize(room);
    if (path.size() + cap.size() > room) cap.resize(room - path.size());
    out = "RDYPATH=" + path + "\r\nCAPTION=" + cap + "\r\n";
    out.push_back('\0');
}

int local_res_ready(NAMED_PIPE* pipe, const char* file_path, const char* caption) {
    if (pipe == nullptr) acl_msg_fatal("%s(%d): pipe is null.", __func__, __LINE__);
    if (file_path == nullptr) acl_msg_fatal("%s(%d): file_path is null.", __func__, __LINE__);
    std::string msg;
    local_res_ready_build(file_path, caption, msg);
    acl_msg_info("%s(%d): send RES_READY message. (%s)", __func__, __LINE__, msg.c_str());
    if (named_pipe_send(pipe, msg.data(), static_cast<int>(msg.size())) != 0) {
        acl_msg_error("%s, %s(%d): named_pipe_send error", __FILE__, __func__, __LINE__);
        return -1;
    }
    return 0;
}

std::map<std::string, std::string> __build_proto_htable(const char* text, const char* item_sep,
                                                        const char* kv_sep) {
    std::map<std::string, std::string> table;
    const std::string s = text;
    std::size_t pos = 0;
    while (pos <= s.size()) {
        std::size_t end = s.find(item_sep, pos);
        if (end == std::string::npos) end = s.size();
        std::string item = s.substr(pos, end - pos);
        pos = end + std::strlen(item_sep);
        if (item.empty()) continue;
        std::size_t eq = item.find(kv_sep);
        if (eq == std::string::npos || eq == 0) {
            acl_msg_error("%s, %s(%d): item(%s) invalid ", __FILE__, __func__, __LINE__,
                          item.c_str());
            continue;
        }
        if (eq + std::strlen(kv_sep) >= item.size()) {
            acl_msg_error("%s, %s(%d): item(%s) invalid", __FILE__, __func__, __LINE__,
                          item.c_str());
            continue;
        }
        std::string key = item.substr(0, eq);
        for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (!table.emplace(key, item.substr(eq + std::strlen(kv_sep))).second)
            acl_msg_warn("%s(%d): duplex key(%s) exist", __func__, __LINE__, key.c_str());
    }
    return table;
}

int proto_parser(NAMED_PIPE* pipe, const char* data, int len, void*) {
    if (data == nullptr) acl_msg_fatal("%s, %s(%d): data is null", __FILE__, __func__, __LINE__);
    if (len < 3 || len >= LOCAL_RES_PARAM_MAX + 3) {
        acl_msg_warn("%s(%d): message of %d bytes has no command", __func__, __LINE__, len);
        return -1;
    }
    char cmd[4] = {data[0], data[1], data[2], '\0'};
    const PROTO_CMD* row = kCommands;
    while (row->cmd != nullptr && strcasecmp(row->cmd, cmd) != 0) row++;
    if (row->cmd == nullptr) {
        acl_msg_warn("%s(%d): unknown cmd(%s)", __func__, __LINE__, cmd);
        return -1;
    }
    // The parameters end at the message's own NUL, or at its end.
    std::string params(data + 3, static_cast<std::size_t>(len - 3));
    params.resize(std::strlen(params.c_str()));
    std::map<std::string, std::string> table =
        __build_proto_htable(params.c_str(), row->item_sep, row->kv_sep);
    return row->handler(pipe, table);
}

int local_res_server_start(NAMED_PIPE* pipe) {
    if (pipe == nullptr) return -1;
    return named_pipe_listener_start(pipe, false, ".", LOCAL_RES_PIPE_NAME, LOCAL_RES_CMD_STOP,
                                     proto_parser, nullptr);
}
