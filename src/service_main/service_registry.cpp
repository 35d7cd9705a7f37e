#include "service_registry.h"

#include <cstring>

#include "acl_msg.h"
#include "platform/self.h"

using platform::RegKey;
using platform::RegRoot;
using platform::RegType;
using platform::RegValue;

int registry_read_string(RegRoot root, const char* key, const char* name, char* buf,
                         std::size_t size) {
    RegKey hkey;
    if (RegKey::open(root, key, hkey) != 0) {
        acl_msg_error("%s(%d): RegOpenKeyEx error.", __func__, __LINE__);
        return -1;
    }
    RegValue value;
    if (hkey.query(name, value) != 0 || value.type != RegType::string) {
        acl_msg_error("%s(%d): RegQueryValueEx get value size error.", __func__, __LINE__);
        return -1;
    }
    // The stored size counts the terminator, as the registry reports it.
    if (size < value.text.size() + 1) {
        acl_msg_error("%s(%d): value_len < value_size.", __func__, __LINE__);
        return -1;
    }
    std::memcpy(buf, value.text.c_str(), value.text.size() + 1);
    return 0;
}

int registry_read_int(RegRoot root, const char* key, const char* name, std::uint32_t* value) {
    RegKey hkey;
    if (RegKey::open(root, key, hkey) != 0) {
        acl_msg_error("%s(%d): RegOpenKeyEx '%s' error. %s", __func__, __LINE__, key,
                      platform::last_error_text().c_str());
        return -1;
    }
    RegValue got;
    if (hkey.query(name, got) != 0 || got.type != RegType::dword) {
        acl_msg_error("%s(%d): RegQueryValueEx get value size error. %s", __func__, __LINE__,
                      platform::last_error_text().c_str());
        return -1;
    }
    *value = got.dword;
    return 0;
}

namespace {

// Both writers report under the name of registry_write_int, as the log
// vocabulary has it. A writer creates the key when it is missing: on a machine
// where nothing made the key yet, the client id and the space figure would
// otherwise never be kept.
int write_value(RegRoot root, const char* key, const char* name, const RegValue& value) {
    static const char* const func = "registry_write_int";
    RegKey hkey;
    if (RegKey::create(root, key, hkey) != 0) {
        acl_msg_error("%s(%d): RegOpenKeyEx '%s' error. %s", func, __LINE__, key,
                      platform::last_error_text().c_str());
        return -1;
    }
    int ret = value.type == RegType::dword ? hkey.set_dword(name, value.dword)
                                           : hkey.set_string(name, value.text);
    if (ret != 0) {
        acl_msg_error("%s(%d): RegSetValueEx error. %s", func, __LINE__,
                      platform::last_error_text().c_str());
        return -1;
    }
    return 0;
}

}  // namespace

int registry_write_int(RegRoot root, const char* key, const char* name, std::uint32_t value) {
    RegValue v;
    v.type = RegType::dword;
    v.dword = value;
    return write_value(root, key, name, v);
}

int registry_write_string(RegRoot root, const char* key, const char* name, const char* text) {
    RegValue v;
    v.type = RegType::string;
    v.text = text;
    return write_value(root, key, name, v);
}
