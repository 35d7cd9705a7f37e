#include <cstdio>
#include <cstring>

#include "crash_report.h"
#include "crash_state.h"
#include "crash_version.h"
#include "platform/crash_signal.h"
#include "platform/debug_help.h"
#include "platform/self.h"
#include "platform/thread_park.h"

namespace {

void copy_cut(char* dst, std::size_t cap, const std::string& src) {
    std::size_t n = src.size() < cap - 1 ? src.size() : cap - 1;
    std::memcpy(dst, src.data(), n);
    dst[n] = '\0';
}

void on_crash(int sig, void* info, void* context) { crash_filter(sig, info, context); }

}  // namespace

CrashState& crash_state() {
    static CrashState state;
    return state;
}

std::string crash_sibling_path(const std::string& program, const char* ext) {
    std::size_t slash = program.rfind('/');
    std::size_t dot = program.rfind('.');
    std::size_t name_at = slash == std::string::npos ? 0 : slash + 1;
    if (dot == std::string::npos || dot < name_at) return program + ext;
    return program.substr(0, dot) + ext;
}

std::string crash_uploader_command_line(const std::string& dump_path, const std::string& version,
                                        const std::string& args) {
    return "-f \"" + dump_path + "\" -v \"" + version + "\" " + args;
}

int crash_report_install(const char* uploader_path, const char* uploader_args) {
    CrashState& st = crash_state();
    if (st.installed) return 0;
    std::string program = platform::program_path();
    if (program.empty()) {
        std::printf("(%d): can't get filename\n", __LINE__);
        return -1;
    }
    if (program.size() >= CRASH_PATH_MAX) {
        std::printf("%s(%d): file(%s) too large\n", __func__, __LINE__, program.c_str());
        return -1;
    }
    copy_cut(st.program_path, sizeof(st.program_path), program);
    copy_cut(st.report_path, sizeof(st.report_path), crash_sibling_path(program, ".rpt"));
    copy_cut(st.dump_path, sizeof(st.dump_path), crash_sibling_path(program, ".dmp"));
    copy_cut(st.uploader_path, sizeof(st.uploader_path), uploader_path ? uploader_path : "");
    copy_cut(st.uploader_args[0], sizeof(st.uploader_args[0]), uploader_args ? uploader_args : "");
    st.args_current.store(0);

    CrashVersion v = crash_build_version();
    copy_cut(st.product_line, sizeof(st.product_line), crash_version_text(v));
    copy_cut(st.version_dotted, sizeof(st.version_dotted), crash_version_dotted(v));

    // Without these the report loses its call stack, the dump its other
    // threads, the uploader its start; the files are still written.
    platform::debug_help_prepare();
    platform::thread_park_prepare();
    st.launch.prepare();

    if (platform::crash_signal_install(on_crash) != 0) return -1;
    st.installed = true;
    return 0;
}

void crash_report_set_uploader_args(const char* args) {
    CrashState& st = crash_state();
    int next = 1 - st.args_current.load(std::memory_order_relaxed);
    copy_cut(st.uploader_args[next], sizeof(st.uploader_args[next]), args ? args : "");
    st.args_current.store(next, std::memory_order_release);
}
