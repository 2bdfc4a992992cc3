// Per-thread host hooks. Each thread has its own set, silent until a hook is installed.
#include "syskit/host.hpp"

#include <utility>

namespace syskit::host {
namespace {

struct Hooks {
    YieldHook yield;
    ProgressHook progress;
    BusyHook busy;
};

Hooks& hooks() {
    thread_local Hooks instance;
    return instance;
}

}  // namespace

YieldHook set_yield_hook(YieldHook hook) {
    return std::exchange(hooks().yield, std::move(hook));
}

ProgressHook set_progress_hook(ProgressHook hook) {
    return std::exchange(hooks().progress, std::move(hook));
}

BusyHook set_busy_hook(BusyHook hook) {
    return std::exchange(hooks().busy, std::move(hook));
}

void yield() {
    if (auto& hook = hooks().yield) hook();
}

void progress(float percent) {
    if (auto& hook = hooks().progress) hook(percent);
}

void busy(Pointer pointer) {
    if (auto& hook = hooks().busy) hook(pointer);
}

}  // namespace syskit::host
