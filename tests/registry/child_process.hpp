// Forked children for the store's tests on Linux: a body run in a process of its own, whose
// failures come back as its exit status.
#pragma once

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>

#include <gtest/gtest.h>

namespace registry_test_keys {

// Forks a child running `body` (as uid 65534 when `unprivileged` and root); exit 0: no failure.
inline pid_t spawn(bool unprivileged, const std::function<void()>& body) {
    const pid_t pid = fork();
    if (pid != 0) return pid;
    if (unprivileged && geteuid() == 0 &&
        (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
        _exit(90);
    body();
    std::fflush(stdout);
    _exit(testing::Test::HasFailure() ? 1 : 0);
}

// The child's exit status, or 128 + the signal that ended it.
inline int exit_code(pid_t pid) {
    int status = 0;
    if (pid <= 0 || waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

inline int in_child(bool unprivileged, const std::function<void()>& body) {
    return exit_code(spawn(unprivileged, body));
}

}  // namespace registry_test_keys
