// libFuzzer targets of the resource module; RESOURCE_FUZZ_TARGET selects
// what the input is:
//
//   1 (res_list)  the bytes of res_list.dat: loaded, saved and loaded again,
//                 which must give the same records;
//   2 (protocol)  one message from the desktop program, handed to the
//                 protocol parser over a list of a few resources.
//
// Whatever the bytes, nothing may crash, leak or read outside the input.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>

#include "acl_htable.h"
#include "acl_msg.h"
#include "localres_protocal.h"
#include "p2p_resource.h"

#ifndef RESOURCE_FUZZ_TARGET
#error "define RESOURCE_FUZZ_TARGET as 1 (res_list) or 2 (protocol)"
#endif

namespace {

std::string g_dir;

void write_list(const std::string& bytes) {
    std::FILE* fp = std::fopen((g_dir + P2P_RESOURCE_LIST_FILE).c_str(), "wb");
    if (fp == nullptr) __builtin_trap();
    std::fwrite(bytes.data(), 1, bytes.size(), fp);
    std::fclose(fp);
}

std::string record(const char* key, const char* path) {
    std::string out = key;
    out.resize(16, '\0');
    out += std::string("\x10\0\0\0", 4);
    out.push_back(static_cast<char>(std::string(path).size()));
    out.push_back('\0');
    return out + path;
}

// The records listed, by id: what a load must give back after a save.
std::map<std::uint64_t, std::pair<std::uint64_t, std::string>> listed() {
    std::map<std::uint64_t, std::pair<std::uint64_t, std::string>> out;
    acl_htable_walk(
        g_client.res_table,
        [](ACL_HTABLE_INFO* info, void* arg) {
            const auto* item = static_cast<const P2P_RESOURCE_ITEM*>(info->value);
            auto* m =
                static_cast<std::map<std::uint64_t, std::pair<std::uint64_t, std::string>>*>(arg);
            (*m)[item->id] = {item->size, item->file_path};
        },
        &out);
    return out;
}

void fresh_client() {
    _init_client((g_dir + "cache/").c_str(), 10, nullptr);
    g_client.app_dir = g_dir;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    acl_msg_open("/dev/null", "log");
    char tmpl[] = "/tmp/resource_fuzz_XXXXXX";
    if (mkdtemp(tmpl) == nullptr) return 1;
    g_dir = std::string(tmpl) + "/";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::lock_guard<std::recursive_mutex> lock(g_client.res_lock);
    fresh_client();
#if RESOURCE_FUZZ_TARGET == 1
    write_list(input);
    _load_resource_list();
    const int first = resource_count();
    const auto records = listed();
    if (static_cast<int>(records.size()) != first) __builtin_trap();  // one record per id
    if (_save_resource_list() != 0) __builtin_trap();
    fresh_client();
    if (_load_resource_list() != 0 || resource_count() != first) __builtin_trap();
    // Equal records, not only as many: a size read from the file has 32 bits,
    // so it saves exactly.
    if (listed() != records) __builtin_trap();
#else
    write_list(record("1A", "C:\\videos\\a.flv") + record("2B", "/cache/b.flv"));
    _load_resource_list();
    proto_parser(g_client.pipe, input.data(), static_cast<int>(input.size()), nullptr);
    __build_proto_htable(input.c_str(), "&", "=");
    local_res_same_path(input.substr(0, size / 2), input.substr(size / 2));
#endif
    return 0;
}
