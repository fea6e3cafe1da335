#include "platform/abandon.h"

namespace zel::platform {
namespace {

// initial-exec: one register-relative load on every register access
thread_local const std::atomic<bool> *abandonFlag __attribute__((tls_model("initial-exec"))) = nullptr;

} // namespace

bool CurrentThreadAbandoned() {
    const std::atomic<bool> *flag = abandonFlag;
    return flag != nullptr && flag->load(std::memory_order_relaxed);
}

void BindAbandonFlag(const std::atomic<bool> *flag) { abandonFlag = flag; }

} // namespace zel::platform
