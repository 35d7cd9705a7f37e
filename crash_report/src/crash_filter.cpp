// The crash filter, in the order a crash needs: freeze the other threads,
// write the report, write the dump, start the uploader, hand the signal on.
// Each step that fails is skipped without a message: the process is already
// failing.
#include <signal.h>

#include "crash_codes.h"
#include "crash_report.h"
#include "crash_report_text.h"
#include "crash_state.h"
#include "platform/crash_signal.h"
#include "platform/debug_help.h"
#include "platform/minidump.h"
#include "platform/proc_maps.h"
#include "platform/sigsafe.h"
#include "platform/system_details.h"
#include "platform/thread_park.h"

namespace {

constexpr int kParkTimeoutMs = 3000;     // other threads answer at once unless blocked
constexpr int kSymbolTimeoutMs = 20000;  // the helper reads debug information cold

platform::SystemDetails g_system;
platform::StackFrame g_frames[platform::DEBUG_FRAMES_MAX];
platform::FrameSymbol g_symbols[platform::DEBUG_FRAMES_MAX];
platform::MinidumpCrash g_crash;

bool in_file_mapping(const platform::ProcMaps& maps, std::uint64_t addr) {
    const platform::ProcRegion* r = platform::proc_region_of(maps, addr);
    return r != nullptr && r->path_at >= 0 && maps.text[r->path_at] == '/';
}

void write_report(CrashState& st, int fd, int sig, const siginfo_t* info,
                  const platform::ThreadRegisters& regs, const void* context,
                  const platform::ProcMaps& maps) {
    platform::SafeText text(st.scratch, sizeof(st.scratch));
    platform::system_details_read(g_system);

    auto addr = reinterpret_cast<std::uint64_t>(info != nullptr ? info->si_addr : nullptr);
    CrashFault fault;
    fault.signo = sig;
    fault.si_code = info != nullptr ? info->si_code : 0;
    fault.stack_guard =
        sig == SIGSEGV && platform::proc_is_stack_guard(maps, addr, regs.gregs[platform::TREG_RSP]);
    fault.file_mapping = sig == SIGBUS && in_file_mapping(maps, addr);

    CrashReportHead head;
    head.product_line = st.product_line;
    head.system = &g_system;
    head.code = crash_exception_code(fault);
    head.code_name = crash_exception_name(head.code, sig);
    head.fault_pc = regs.gregs[platform::TREG_RIP];
    head.maps = &maps;
    crash_report_write_head(fd, text, head);

    int count = platform::debug_stack_walk(context, g_frames, platform::DEBUG_FRAMES_MAX);
    bool named = platform::debug_symbolize(g_frames, count, g_symbols, kSymbolTimeoutMs) == 0;
    crash_report_write_stack(fd, text, maps, g_frames, count, named ? g_symbols : nullptr);
}

// Splits the command line in place: blanks separate, double quotes group.
void split_command_line(CrashState& st) {
    platform::SafeText copy(st.argv_text, sizeof(st.argv_text));
    copy.put(st.command_line);
    int argc = 0;
    st.argv[argc++] = st.uploader_path;
    char* p = st.argv_text;
    while (*p != '\0' && argc < CRASH_ARGV_MAX) {
        while (*p == ' ' || *p == '\t') p++;
        if (*p == '\0') break;
        char* out = p;
        st.argv[argc++] = out;
        bool quoted = false;
        for (; *p != '\0'; p++) {
            if (*p == '"') {
                quoted = !quoted;
                continue;
            }
            if (!quoted && (*p == ' ' || *p == '\t')) {
                p++;
                break;
            }
            *out++ = *p;
        }
        *out = '\0';
    }
    st.argv[argc] = nullptr;
}

void start_uploader(CrashState& st) {
    if (st.uploader_path[0] == '\0') return;
    platform::SafeText line(st.command_line, sizeof(st.command_line));
    line.put("-f \"").put(st.dump_path).put("\" -v \"").put(st.version_dotted).put("\" ");
    line.put(st.uploader_args[st.args_current.load(std::memory_order_acquire)]);
    split_command_line(st);
    st.launch.launch(st.uploader_path, st.argv);
}

}  // namespace

void crash_filter(int sig, void* info_ptr, void* context) {
    CrashState& st = crash_state();
    int self = platform::safe_tid();
    int expected = 0;
    if (!st.entered.compare_exchange_strong(expected, self)) {
        // Another thread is writing the report; it parks this one and ends
        // the process.
        for (;;) platform::safe_sleep_ms(1000);
    }
    const auto* info = static_cast<const siginfo_t*>(info_ptr);

    g_crash.signo = sig;
    g_crash.si_code = info != nullptr ? info->si_code : 0;
    g_crash.fault_address =
        reinterpret_cast<std::uint64_t>(info != nullptr ? info->si_addr : nullptr);
    platform::thread_registers_from_context(context, self, g_crash.crashing);
    g_crash.other_count = platform::thread_park_others(kParkTimeoutMs, &g_crash.others);

    platform::ProcMaps maps;
    if (platform::proc_maps_read(maps) != 0) maps = platform::ProcMaps{};

    int report = platform::safe_create(st.report_path);
    int dump = platform::safe_create(st.dump_path);
    if (report >= 0) write_report(st, report, sig, info, g_crash.crashing, context, maps);
    if (dump >= 0) platform::minidump_write(dump, g_crash, maps);
    platform::safe_close(report);
    platform::safe_close(dump);

    start_uploader(st);
    platform::crash_signal_pass_on(sig, info_ptr, context);
}
