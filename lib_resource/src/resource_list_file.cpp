// res_list.dat: reading it back at start-up and rewriting it after every
// change (layout in p2p_resource.h).
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "acl_htable.h"
#include "acl_msg.h"
#include "p2p_resource.h"
#include "platform/disk.h"
#include "resource_list.h"

namespace {

std::string list_path() { return g_client.app_dir + P2P_RESOURCE_LIST_FILE; }

bool read_le(std::FILE* fp, std::uint64_t* v, int width) {
    unsigned char b[8];
    if (std::fread(b, 1, static_cast<std::size_t>(width), fp) != static_cast<std::size_t>(width))
        return false;
    *v = 0;
    for (int i = width - 1; i >= 0; i--) *v = *v << 8 | b[i];
    return true;
}

void put_le(std::string& out, std::uint64_t v, int width) {
    for (int i = 0; i < width; i++) out.push_back(static_cast<char>(v >> (8 * i)));
}

// The id text of a record: 1 to 16 hex digits (either case, leading zeros
// allowed) before the NUL padding. Anything else names no resource.
bool parse_id(const char* text, std::uint64_t* id) {
    const std::size_t n = std::strlen(text);
    if (n == 0) return false;
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < n; i++) {
        const char c = text[i];
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else
            return false;
        v = v << 4 | static_cast<std::uint64_t>(d);
    }
    *id = v;
    return true;
}

struct WalkState {
    std::string bytes;
};

void append_record(ACL_HTABLE_INFO* info, void* arg) {
    auto* st = static_cast<WalkState*>(arg);
    const auto* item = static_cast<const P2P_RESOURCE_ITEM*>(info->value);
    std::string key = resource_key(item->id);
    key.resize(16, '\0');
    std::string path = item->file_path.substr(0, P2P_RESOURCE_PATH_MAX);
    st->bytes += key;
    put_le(st->bytes, item->size & 0xffffffffULL, 4);
    put_le(st->bytes, path.size(), 2);
    st->bytes += path;
}

}  // namespace

int _load_resource_list(void) {
    const std::string path = list_path();
    std::FILE* fp = std::fopen(path.c_str(), "rb");
    if (fp == nullptr) {
        acl_msg_error("%s(%d): fopen file(%s) error(%s)", __func__, __LINE__, path.c_str(),
                      std::strerror(errno));
        return -1;
    }
    int ret = 0;
    for (;;) {
        auto* item = new P2P_RESOURCE_ITEM;
        char key[17] = {0};
        if (std::fread(key, 1, 16, fp) != 16) {
            delete item;
            break;  // the end of the file, or of its last whole record
        }
        std::uint64_t size = 0, path_len = 0;
        if (!read_le(fp, &size, 4)) {
            acl_msg_error("%s(%d): read resource file size from resources file failed.", __func__,
                          __LINE__);
            delete item;
            ret = -1;
            break;
        }
        if (!read_le(fp, &path_len, 2)) {
            acl_msg_error("%s(%d): read resource file path size from resources file failed.",
                          __func__, __LINE__);
            delete item;
            ret = -1;
            break;
        }
        if (path_len == 0 || path_len > P2P_RESOURCE_PATH_MAX) {
            acl_msg_error("%s(%d): read a invalid resource file path size. path size is %d",
                          __func__, __LINE__, static_cast<int>(path_len));
            delete item;
            ret = -1;
            break;
        }
        item->file_path.resize(path_len);
        if (std::fread(item->file_path.data(), 1, path_len, fp) != path_len) {
            acl_msg_error("%s(%d): read a invalid resource file path size. path size is %d",
                          __func__, __LINE__, static_cast<int>(path_len));
            delete item;
            ret = -1;
            break;
        }
        // The path is text: a NUL inside ends it, and a path that ends before
        // its first byte is as invalid as a length of 0.
        item->file_path.resize(std::strlen(item->file_path.c_str()));
        if (item->file_path.empty()) {
            acl_msg_error("%s(%d): read a invalid resource file path size. path size is %d",
                          __func__, __LINE__, 0);
            delete item;
            ret = -1;
            break;
        }
        // The record is listed under the id printed as every lookup and the
        // saver print it, not under the text as read: "1a" and "01A" are the
        // id 0x1A, and keyed as read they would be unreachable and save as
        // two records of one key that the next load folds into one.
        std::uint64_t id = 0;
        if (!parse_id(key, &id)) {
            acl_msg_error("%s(%d): read a invalid resource id from resources file, record skipped.",
                          __func__, __LINE__);
            delete item;
            ret = -1;
            continue;  // the record's length is sound, so the ones after it still load
        }
        item->size = size;
        item->id = id;
        if (!resource_list_enter(resource_key(id).c_str(), item))
            delete item;  // the first record stays
    }
    std::fclose(fp);
    return ret;
}

int _save_resource_list(void) {
    const std::string path = list_path();
    WalkState st;
    acl_htable_walk(g_client.res_table, append_record, &st);

    // A new file beside the old one, renamed over it once it is complete: a
    // crash between leaves either list, never none.
    const std::string tmp = path + ".tmp";
    std::FILE* fp = std::fopen(tmp.c_str(), "wb");
    if (fp == nullptr) {
        acl_msg_error("%s(%d): fopen file(%s) error(%s)", __func__, __LINE__, tmp.c_str(),
                      std::strerror(errno));
        return -1;
    }
    if (std::fwrite(st.bytes.data(), 1, st.bytes.size(), fp) != st.bytes.size() ||
        platform::file_sync(fp) != 0) {
        acl_msg_error("%s(%d): write resource list(%s) error(%s)", __func__, __LINE__, tmp.c_str(),
                      std::strerror(errno));
        std::fclose(fp);
        std::remove(tmp.c_str());
        return -1;
    }
    std::fclose(fp);
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        acl_msg_error("%s(%d): remove res_data failed!", __func__, __LINE__);
        std::remove(tmp.c_str());
        return -1;
    }
    return 0;
}
