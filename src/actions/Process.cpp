#include "actions/Actions.h"
#include "actions/ChildSpawn.h"

#include <QStringDecoder>
#include <QUrl>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace hb::actions {

namespace {

// A tool that prints more than this is not one we understand; its output is dropped (the pipe
// is still drained so the tool can finish).
constexpr qsizetype kMaxProcessOutputBytes = 32 * 1024 * 1024;
constexpr size_t kReadChunkBytes = 64 * 1024;
// Shell convention for "ended by a signal".
constexpr int kSignalStatusBase = 128;

/// Closes a descriptor on scope exit.
struct Fd {
    int fd = -1;
    ~Fd() { reset(); }
    void reset() {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
};

/// The spawn setup: stdout and stderr both into `writeEnd`, the rest as for every child.
struct SpawnSetup : ChildSpawn {
    explicit SpawnSetup(int writeEnd) {
        posix_spawn_file_actions_adddup2(&actions, writeEnd, STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, writeEnd, STDERR_FILENO);
    }
};

/// Reads `fd` to end of file; false when the output grew past the limit (still drained).
bool readToEnd(int fd, QByteArray& output) {
    bool withinLimit = true;
    std::vector<char> chunk(kReadChunkBytes);
    for (;;) {
        const ssize_t got = ::read(fd, chunk.data(), chunk.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        if (withinLimit && output.size() + got <= kMaxProcessOutputBytes)
            output.append(chunk.data(), got);
        else
            withinLimit = false;
    }
    return withinLimit;
}

int waitForExit(pid_t pid) {
    int raw = 0;
    while (::waitpid(pid, &raw, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    if (WIFEXITED(raw))
        return WEXITSTATUS(raw);
    if (WIFSIGNALED(raw))
        return kSignalStatusBase + WTERMSIG(raw);
    return -1;
}

QString decodeUtf8(const QByteArray& bytes) {
    // Stateless: a sequence cut off at the end is an error, not a pending state.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
    QString text = decoder(bytes);
    return decoder.hasError() ? QString() : text;
}

ProcessResult startFailure(int error) {
    return ProcessResult{-1, QString::fromLocal8Bit(std::strerror(error))};
}

} // namespace

ProcessResult runProcess(const QString& program, const QStringList& arguments) {
    const QByteArray path = program.toUtf8();
    if (path.isEmpty() || path.contains('\0'))
        return startFailure(ENOENT);
    std::vector<QByteArray> storage{path};
    for (const QString& argument : arguments)
        storage.push_back(argument.toUtf8());
    std::vector<char*> argv;
    for (QByteArray& item : storage)
        argv.push_back(item.data());
    argv.push_back(nullptr);

    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return startFailure(errno);
    Fd readEnd{ends[0]};
    Fd writeEnd{ends[1]};

    pid_t pid = -1;
    int spawnError = 0;
    {
        SpawnSetup setup(writeEnd.fd);
        // posix_spawn (not posix_spawnp): no PATH search; exec failures come back as its result.
        spawnError =
            ::posix_spawn(&pid, path.constData(), &setup.actions, &setup.attributes, argv.data(), environ);
    }
    writeEnd.reset();
    if (spawnError != 0)
        return startFailure(spawnError);

    QByteArray output;
    const bool complete = readToEnd(readEnd.fd, output);
    const int status = waitForExit(pid);
    return ProcessResult{status, complete ? decodeUtf8(output) : QString()};
}

bool isWebAddress(const QString& address) {
    const QUrl url(address, QUrl::StrictMode);
    if (!url.isValid())
        return false;
    const QString scheme = url.scheme().toLower();
    return scheme == QStringLiteral("http") || scheme == QStringLiteral("https");
}

} // namespace hb::actions
