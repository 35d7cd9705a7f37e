#include "crash_seam.h"

#include <cstdlib>
#include <cstring>

#include "acl_msg.h"
#include "acl_workq.h"

// The faults are meant: the sanitizers must not report them first.
#define CRASH_SEAM_FN __attribute__((noinline, no_sanitize("address", "undefined")))

namespace {

CRASH_SEAM_FN void crash_seam_null_write() {
    int* volatile target = nullptr;
    *target = 1;
}

CRASH_SEAM_FN int crash_seam_divide_by_zero() {
    volatile int zero = 0;
    volatile int one = 1;
    return one / zero;
}

CRASH_SEAM_FN int crash_seam_recurse(int depth) {
    volatile char frame[1024];
    frame[0] = static_cast<char>(depth);
    if (depth < 0) return 0;  // never: the stack ends first
    return crash_seam_recurse(depth + 1) + frame[0];
}

CRASH_SEAM_FN void crash_seam_damaged_stack() {
    asm volatile(
        "mov $0x10, %%rsp\n\t"
        "mov $0x10, %%rbp\n\t"
        "movl $0, 0\n\t" ::
            : "memory");
}

void crash_seam_abort_job(int, ACL_WORKER_ATTR*) { std::abort(); }

}  // namespace

const char* crash_seam_default_logsvr_host() {
    const char* host = std::getenv(CRASH_SEAM_LOGSVR_ENV);
    return host != nullptr && *host != '\0' ? host : SERVICE_DEFAULT_LOGSVR_IP;
}

void crash_seam_run(SERVICE_CONF& conf) {
    const char* kind = std::getenv(CRASH_SEAM_ENV);
    if (kind == nullptr || *kind == '\0') return;
    acl_msg_info("%s(%d): test crash %s", __func__, __LINE__, kind);
    if (std::strcmp(kind, "null_write") == 0)
        crash_seam_null_write();
    else if (std::strcmp(kind, "divide_by_zero") == 0)
        crash_seam_divide_by_zero();
    else if (std::strcmp(kind, "stack_overflow") == 0)
        crash_seam_recurse(0);
    else if (std::strcmp(kind, "damaged_stack") == 0)
        crash_seam_damaged_stack();
    else if (std::strcmp(kind, "worker_abort") == 0)
        acl_workq_add(conf.workq, crash_seam_abort_job, 0, nullptr);
    else
        acl_msg_error("%s(%d): unknown test crash %s", __func__, __LINE__, kind);
}
