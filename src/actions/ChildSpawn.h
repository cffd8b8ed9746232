#pragma once
// What every child we start gets: stdin from /dev/null, no blocked signals and SIGPIPE back
// at its default (the agent ignores it), whatever the starting thread's own settings.
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

namespace hb::actions {

struct ChildSpawn {
    /// `extraFlags`: further POSIX_SPAWN_* flags, e.g. POSIX_SPAWN_SETSID for a detached child.
    explicit ChildSpawn(short extraFlags = 0) {
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawnattr_init(&attributes);
        sigset_t none;
        sigemptyset(&none);
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        posix_spawnattr_setsigmask(&attributes, &none);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        posix_spawnattr_setflags(&attributes,
                                 short(POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | extraFlags));
    }
    ~ChildSpawn() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
    ChildSpawn(const ChildSpawn&) = delete;
    ChildSpawn& operator=(const ChildSpawn&) = delete;

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
};

} // namespace hb::actions
