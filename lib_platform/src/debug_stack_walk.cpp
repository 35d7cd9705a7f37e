#include <dlfcn.h>

#include "platform/debug_help.h"

#define UNW_LOCAL_ONLY
#include <libunwind.h>

namespace platform {

namespace {

#define UNW_SYMBOL(x) UNW_SYMBOL_TEXT(x)
#define UNW_SYMBOL_TEXT(x) #x

using InitFn = int (*)(unw_cursor_t*, unw_context_t*, int);
using StepFn = int (*)(unw_cursor_t*);
using GetRegFn = int (*)(unw_cursor_t*, unw_regnum_t, unw_word_t*);
using CachingFn = int (*)(unw_addr_space_t, unw_caching_policy_t);

InitFn g_init = nullptr;
StepFn g_step = nullptr;
GetRegFn g_get_reg = nullptr;

}  // namespace

int debug_stack_walk_prepare() {
    // Private: its _Unwind_* entry points must not replace the C++ runtime's.
    void* lib = ::dlopen("libunwind.so.8", RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr) return -1;
    auto init = reinterpret_cast<InitFn>(::dlsym(lib, UNW_SYMBOL(unw_init_local2)));
    auto step = reinterpret_cast<StepFn>(::dlsym(lib, UNW_SYMBOL(unw_step)));
    auto get_reg = reinterpret_cast<GetRegFn>(::dlsym(lib, UNW_SYMBOL(unw_get_reg)));
    auto caching = reinterpret_cast<CachingFn>(::dlsym(lib, UNW_SYMBOL(unw_set_caching_policy)));
    auto space = static_cast<unw_addr_space_t*>(::dlsym(lib, UNW_SYMBOL(unw_local_addr_space)));
    if (init == nullptr || step == nullptr || get_reg == nullptr || caching == nullptr ||
        space == nullptr)
        return -1;
    // A cache would take locks and allocate inside the signal handler.
    caching(*space, UNW_CACHE_NONE);
    g_init = init;
    g_step = step;
    g_get_reg = get_reg;
    return 0;
}

int debug_stack_walk(const void* context, StackFrame* frames, int max) {
    if (g_init == nullptr || max <= 0) return 0;
    unw_cursor_t cursor;
    auto* uc = static_cast<unw_context_t*>(const_cast<void*>(context));
    if (g_init(&cursor, uc, UNW_INIT_SIGNAL_FRAME) < 0) return 0;
    int n = 0;
    for (;;) {
        unw_word_t ip = 0, sp = 0;
        if (g_get_reg(&cursor, UNW_REG_IP, &ip) < 0 || ip == 0) break;
        g_get_reg(&cursor, UNW_REG_SP, &sp);
        frames[n].pc = ip;
        frames[n].sp = sp;
        n++;
        if (n >= max || g_step(&cursor) <= 0) break;
    }
    return n;
}

}  // namespace platform
