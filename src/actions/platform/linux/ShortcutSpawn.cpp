// Detached start of a shortcut. posix_spawn reports exec failures as its result; a detached
// thread reaps the child so that no zombie is left, whatever SIGCHLD disposition the agent has.
#include "actions/platform/linux/Shortcuts.h"

#include "actions/ChildSpawn.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace hb::actions {

namespace {

void reap(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

} // namespace

bool spawnDetached(const QString& program) {
    QByteArray path = program.toUtf8();
    char* argv[] = {path.data(), nullptr};

    const ChildSpawn spawn(POSIX_SPAWN_SETSID);

    pid_t pid = -1;
    const int error = ::posix_spawn(&pid, path.constData(), &spawn.actions, &spawn.attributes, argv, environ);
    if (error != 0)
        return false;
    try {
        std::thread(reap, pid).detach();
    } catch (const std::system_error&) {
        // No thread to spare: the shortcut runs anyway and is reaped when the agent exits.
    }
    return true;
}

} // namespace hb::actions
