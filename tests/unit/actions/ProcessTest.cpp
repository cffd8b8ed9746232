// runProcess against real programs: start failures, output capture, exit status, argument
// passing and descriptor hygiene under concurrency.
#include "actions/Actions.h"

#include <QRegularExpression>
#include <QSet>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace Qt::StringLiterals;

using hb::actions::ProcessResult;
using hb::actions::runProcess;

namespace {

/// fd number -> "pipe:[inode]" for every pipe in an `ls -l /proc/<pid>/fd` listing.
QHash<int, QString> pipesIn(const QString& listing) {
    QHash<int, QString> pipes;
    static const QRegularExpression line(uR"((\d+) -> (pipe:\[\d+\]))"_s);
    for (auto it = line.globalMatch(listing); it.hasNext();) {
        const auto match = it.next();
        pipes.insert(match.captured(1).toInt(), match.captured(2));
    }
    return pipes;
}

} // namespace

TEST(RunProcess, StartFailuresOutputStatusAndArguments) {
    const QString sh = u"/bin/sh"_s;
    const struct {
        const char* name;
        QString program;
        const char* script;
        int status;
        qsizetype outputSize; ///< -1: an error text, not the program's output
    } rows[] = {
        {"missing path", u"/nonexistent/tool"_s, nullptr, -1, -1},
        {"bare name is not searched on PATH", u"sh"_s, nullptr, -1, -1},
        {"not executable", u"/etc/passwd"_s, nullptr, -1, -1},
        {"large output comes back whole", sh, "head -c 524288 /dev/zero | tr '\\000' x", 0, 524288},
        {"runaway output drained and dropped", sh, "head -c 40000000 /dev/zero; exit 7", 7, 0},
        {"invalid UTF-8 gives no text", sh, "printf 'ok\\342\\202'; exit 4", 4, 0},
        {"killed by SIGTERM", sh, "kill -TERM $$", 128 + 15, 0},
    };
    for (const auto& row : rows) {
        const ProcessResult result = runProcess(
            row.program, row.script ? QStringList{u"-c"_s, QString::fromUtf8(row.script)} : QStringList{});
        EXPECT_EQ(result.status, row.status) << row.name;
        if (row.outputSize >= 0)
            EXPECT_EQ(result.output.size(), row.outputSize) << row.name;
        else
            EXPECT_FALSE(result.output.isEmpty()) << row.name;
    }
    EXPECT_EQ(runProcess(sh, {u"-c"_s, u"printf a; printf b >&2; printf c; exit 3"_s}).output, u"abc"_s);
    // With our stdin a pipe, the child still reads /dev/null (a script's `read` would steal ours).
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    const int saved = ::dup(STDIN_FILENO);
    ::dup2(ends[0], STDIN_FILENO);
    const QString childStdin = runProcess(sh, {u"-c"_s, u"readlink /proc/self/fd/0"_s}).output;
    ::dup2(saved, STDIN_FILENO);
    for (const int fd : {saved, ends[0], ends[1]})
        ::close(fd);
    EXPECT_EQ(childStdin, u"/dev/null\n"_s);
    const QStringList arguments{u"[%s]"_s, u"a b"_s, u"it's"_s, u"$HOME"_s, u"*"_s, u""_s, u"Hé €😀"_s};
    EXPECT_EQ(runProcess(u"/usr/bin/printf"_s, arguments).output, u"[a b][it's][$HOME][*][][Hé €😀]"_s);
}

// Concurrent callers: every child sees only its own pipe on stdout/stderr, never the read end
// or another caller's pipe, and every caller gets its own output.
TEST(RunProcess, ConcurrentCallersDoNotLeakPipes) {
    const QStringList own{u"-l"_s, u"/proc/%1/fd"_s.arg(::getpid())};
    QSet<QString> inherited;
    for (const QString& pipe : pipesIn(runProcess(u"/bin/ls"_s, own).output))
        inherited.insert(pipe);
    std::vector<QString> failures(6);
    std::vector<std::thread> threads;
    for (QString& failure : failures) {
        threads.emplace_back([&failure, &inherited] {
            for (int round = 0; round < 10 && failure.isEmpty(); ++round) {
                const ProcessResult result = runProcess(u"/bin/ls"_s, {u"-l"_s, u"/proc/self/fd"_s});
                const QHash<int, QString> pipes = pipesIn(result.output);
                if (result.status != 0 || !pipes.contains(1) || pipes.value(1) != pipes.value(2))
                    failure = u"stdout/stderr not one pipe: "_s + result.output;
                for (auto it = pipes.begin(); it != pipes.end(); ++it)
                    if (it.key() > 2 && !inherited.contains(it.value()))
                        failure = u"leaked fd %1: "_s.arg(it.key()) + result.output;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    for (const QString& failure : failures)
        EXPECT_TRUE(failure.isEmpty()) << failure.toStdString();
}
