// Registry access of tarvoproxy: one value per call. Each function opens the
// key under `root`, does one operation and closes the key; 0 on success, -1
// after an error line in the log.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/registry.h"

// Key of the proxy's values under HKEY_LOCAL_MACHINE.
#define SERVICE_REGISTRY_KEY "Software\\Quorlen\\Productions\\06"

// Copies a string value into `buf`; fails when it does not fit (terminator
// included) rather than cutting it.
int registry_read_string(platform::RegRoot root, const char* key, const char* name, char* buf,
                         std::size_t size);

int registry_read_int(platform::RegRoot root, const char* key, const char* name,
                      std::uint32_t* value);

int registry_write_int(platform::RegRoot root, const char* key, const char* name,
                       std::uint32_t value);

int registry_write_string(platform::RegRoot root, const char* key, const char* name,
                          const char* text);
