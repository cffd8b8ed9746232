// runProcess against real programs: start failures, output capture, exit status, argument
// passing and descriptor hygiene under concurrency.
#include "actions/Actions.h"

#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

using hb::actions::ProcessResult;
using hb::actions::runProcess;

namespace {

const QString kShell = QStringLiteral("/bin/sh");

ProcessResult shell(const QString& script) {
    return runProcess(kShell, {QStringLiteral("-c"), script});
}

/// fd number -> "pipe:[inode]" for every pipe the process at `fdDir` holds.
QHash<int, QString> pipesIn(const QString& listing) {
    QHash<int, QString> pipes;
    static const QRegularExpression line(QStringLiteral(R"((\d+) -> (pipe:\[\d+\]))"));
    for (auto it = line.globalMatch(listing); it.hasNext();) {
        const auto match = it.next();
        pipes.insert(match.captured(1).toInt(), match.captured(2));
    }
    return pipes;
}

} // namespace

TEST(RunProcess, CannotStart) {
    QTemporaryDir dir;
    QFile plain(dir.filePath(QStringLiteral("not-executable")));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.write("#!/bin/sh\necho ran\n");
    plain.close();

    const struct {
        const char* name;
        QString program;
    } rows[] = {
        {"missing path", QStringLiteral("/nonexistent/tool")},
        {"bare name is not searched on PATH", QStringLiteral("sh")},
        {"not executable", plain.fileName()},
    };
    for (const auto& row : rows) {
        const ProcessResult result = runProcess(row.program, {});
        EXPECT_EQ(result.status, -1) << row.name;
        EXPECT_FALSE(result.output.isEmpty()) << row.name;
        EXPECT_FALSE(result.output.contains(QStringLiteral("ran"))) << row.name;
    }
}

TEST(RunProcess, OutputStatusAndArguments) {
    EXPECT_EQ(shell(QStringLiteral("printf a; printf b >&2; printf c; exit 3")).output,
              QStringLiteral("abc"));
    const struct {
        const char* name;
        QString script;
        int status;
        qsizetype outputSize;
    } rows[] = {
        {"stdin is /dev/null, not ours", QStringLiteral("cat"), 0, 0},
        {"large output comes back whole", QStringLiteral("head -c 524288 /dev/zero | tr '\\000' x"), 0,
         524288},
        {"runaway output drained and dropped", QStringLiteral("head -c 40000000 /dev/zero; exit 7"), 7, 0},
        {"invalid UTF-8 gives no text", QStringLiteral("printf 'ok\\342\\202'; exit 4"), 4, 0},
        {"killed by SIGTERM", QStringLiteral("kill -TERM $$"), 128 + 15, 0},
    };
    for (const auto& row : rows) {
        const ProcessResult result = shell(row.script);
        EXPECT_EQ(result.status, row.status) << row.name;
        EXPECT_EQ(result.output.size(), row.outputSize) << row.name;
    }
    const QStringList arguments{QStringLiteral("a b"), QStringLiteral("it's"), QStringLiteral("$HOME"),
                                QStringLiteral("*"),   QStringLiteral(""),     QStringLiteral("Hé €😀")};
    EXPECT_EQ(
        runProcess(QStringLiteral("/usr/bin/printf"), QStringList{QStringLiteral("[%s]")} + arguments).output,
        QStringLiteral("[a b][it's][$HOME][*][][Hé €😀]"));
}

// Concurrent callers: every child sees only its own pipe on stdout/stderr, never the read end
// or another caller's pipe, and every caller gets its own output.
TEST(RunProcess, ConcurrentCallersDoNotLeakPipes) {
    const ProcessResult own = runProcess(
        QStringLiteral("/bin/ls"), {QStringLiteral("-l"), QStringLiteral("/proc/%1/fd").arg(::getpid())});
    QSet<QString> inherited;
    for (const QString& pipe : pipesIn(own.output))
        inherited.insert(pipe);

    constexpr int kThreads = 6;
    constexpr int kRounds = 10;
    std::vector<QString> failures(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &failures, &inherited] {
            for (int round = 0; round < kRounds; ++round) {
                const ProcessResult result = runProcess(
                    QStringLiteral("/bin/ls"), {QStringLiteral("-l"), QStringLiteral("/proc/self/fd")});
                const QHash<int, QString> pipes = pipesIn(result.output);
                if (result.status != 0 || !pipes.contains(1) || pipes.value(1) != pipes.value(2)) {
                    failures[t] = QStringLiteral("stdout/stderr not one pipe: ") + result.output;
                    return;
                }
                for (auto it = pipes.begin(); it != pipes.end(); ++it) {
                    if (it.key() > 2 && !inherited.contains(it.value())) {
                        failures[t] = QStringLiteral("leaked fd %1: ").arg(it.key()) + result.output;
                        return;
                    }
                }
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    for (const QString& failure : failures)
        EXPECT_TRUE(failure.isEmpty()) << failure.toStdString();
}
