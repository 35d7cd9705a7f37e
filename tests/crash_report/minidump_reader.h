// An independent reader of minidump files, written from the format's
// documentation (header, stream directory, the records of each stream), so
// that the tests check the writer against the format rather than against
// itself. It checks every location it follows against the file's size and
// collects the problems it finds.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace minidump_test {

struct Location {
    std::uint32_t size = 0, rva = 0;
};

struct Thread {
    std::uint32_t id = 0;
    std::uint64_t stack_start = 0;
    Location stack, context;
    std::uint64_t rip = 0, rsp = 0;  // from the AMD64 context
};

struct Module {
    std::uint64_t base = 0;
    std::uint32_t size = 0;
    std::string name;
    std::string build_id_hex;  // from the "LEpB" CodeView record
};

struct Dump {
    std::vector<std::string> problems;          // empty for a sound file
    std::map<std::uint32_t, Location> streams;  // by type
    std::vector<std::uint32_t> stream_order;
    std::vector<Thread> threads;
    std::vector<Module> modules;
    std::vector<std::pair<std::uint64_t, Location>> memory;
    std::uint32_t exception_thread = 0, exception_code = 0;
    std::uint64_t exception_address = 0;
    Location exception_context;
    std::uint16_t arch = 0;
    std::uint32_t platform_id = 0;
    std::uint32_t misc_pid = 0;
    std::string proc_status, cmdline, maps;
    std::string auxv;
};

// Reads and checks the whole file.
Dump read_dump(const std::string& bytes);

}  // namespace minidump_test
