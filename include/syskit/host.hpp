// syskit/host.hpp — the services a host application provides to the components.
//
// A desktop host used to give the components three services: a yield to its event processing
// during long loops, a progress figure, and a busy mouse pointer. Here each one is a hook the host
// may install for the current thread; every hook is silent until one is installed. Hooks are per
// thread, like the codec's state, so threads never see each other's hooks.
#pragma once

#include <functional>

namespace syskit::host {

// Mouse pointer codes passed to the busy hook.
enum class Pointer : int { Default = 0, Hourglass = 11 };

using YieldHook = std::function<void()>;
using ProgressHook = std::function<void(float percent)>;
using BusyHook = std::function<void(Pointer pointer)>;

// Install a hook for the calling thread and return the one it replaces. An empty function
// makes the service silent again.
YieldHook set_yield_hook(YieldHook hook);
ProgressHook set_progress_hook(ProgressHook hook);
BusyHook set_busy_hook(BusyHook hook);

// Call the calling thread's hooks (nothing happens when none is installed).
void yield();
void progress(float percent);
void busy(Pointer pointer);

// Installs hooks for the lifetime of a scope and puts the previous ones back afterwards.
class ScopedHooks {
  public:
    ScopedHooks(YieldHook yield_hook, ProgressHook progress_hook, BusyHook busy_hook)
        : yield_(set_yield_hook(std::move(yield_hook))),
          progress_(set_progress_hook(std::move(progress_hook))),
          busy_(set_busy_hook(std::move(busy_hook))) {}
    ~ScopedHooks() {
        set_yield_hook(std::move(yield_));
        set_progress_hook(std::move(progress_));
        set_busy_hook(std::move(busy_));
    }
    ScopedHooks(const ScopedHooks&) = delete;
    ScopedHooks& operator=(const ScopedHooks&) = delete;

  private:
    YieldHook yield_;
    ProgressHook progress_;
    BusyHook busy_;
};

}  // namespace syskit::host
