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
        {"empty path", QString()},
        {"not executable", plain.fileName()},
        {"a directory", dir.path()},
    };
    for (const auto& row : rows) {
        const ProcessResult result = runProcess(row.program, {});
        EXPECT_EQ(result.status, -1) << row.name;
        EXPECT_FALSE(result.output.isEmpty()) << row.name;
        EXPECT_FALSE(result.output.contains(QStringLiteral("ran"))) << row.name;
    }
}

TEST(RunProcess, CollectsBothStreamsInOrder) {
    EXPECT_EQ(shell(QStringLiteral("echo oops >&2")).output, QStringLiteral("oops\n"));
    EXPECT_EQ(shell(QStringLiteral("printf a; printf b >&2; printf c")).output, QStringLiteral("abc"));
    // stdin is /dev/null: a reader of stdin ends at once instead of waiting on ours.
    const ProcessResult cat = runProcess(QStringLiteral("/bin/cat"), {});
    EXPECT_EQ(cat.status, 0);
    EXPECT_TRUE(cat.output.isEmpty());
}

TEST(RunProcess, LargeOutputComesBackWhole) {
    const qsizetype size = 512 * 1024;
    const ProcessResult result =
        shell(QStringLiteral("head -c %1 /dev/zero | tr '\\000' x; echo done >&2").arg(size));
    EXPECT_EQ(result.status, 0);
    ASSERT_EQ(result.output.size(), size + 5);
    EXPECT_EQ(result.output.count(QLatin1Char('x')), size);
    EXPECT_TRUE(result.output.endsWith(QStringLiteral("done\n")));
}

// Past the output limit the pipe is still drained (the tool finishes) and the text is dropped.
TEST(RunProcess, RunawayOutputIsDrainedAndDropped) {
    const ProcessResult result = shell(QStringLiteral("head -c 40000000 /dev/zero; exit 7"));
    EXPECT_EQ(result.status, 7);
    EXPECT_TRUE(result.output.isEmpty());
}

TEST(RunProcess, ExitStatus) {
    const struct {
        const char* name;
        QString script;
        int status;
    } rows[] = {
        {"success", QStringLiteral("exit 0"), 0},
        {"failure", QStringLiteral("exit 3"), 3},
        {"highest", QStringLiteral("exit 255"), 255},
        {"killed by SIGTERM", QStringLiteral("kill -TERM $$"), 128 + 15},
    };
    for (const auto& row : rows)
        EXPECT_EQ(shell(row.script).status, row.status) << row.name;
}

TEST(RunProcess, ArgumentsArePassedVerbatim) {
    const QStringList arguments{QStringLiteral("a b"),   QStringLiteral("it's"), QStringLiteral("\"q\""),
                                QStringLiteral("$HOME"), QStringLiteral("*"),    QStringLiteral(""),
                                QStringLiteral("; ls"),  QStringLiteral("Hé €😀")};
    const ProcessResult result =
        runProcess(QStringLiteral("/usr/bin/printf"), QStringList{QStringLiteral("[%s]")} + arguments);
    EXPECT_EQ(result.status, 0);
    QString expected;
    for (const QString& argument : arguments)
        expected += QLatin1Char('[') + argument + QLatin1Char(']');
    EXPECT_EQ(result.output, expected);
}

TEST(RunProcess, InvalidUtf8GivesEmptyOutputAndKeepsStatus) {
    const struct {
        const char* name;
        QString script;
    } rows[] = {
        {"stray byte", QStringLiteral("printf 'ok\\377'; exit 4")},
        {"truncated sequence", QStringLiteral("printf 'ok\\342\\202'; exit 4")},
        {"overlong slash", QStringLiteral("printf '\\300\\257'; exit 4")},
    };
    for (const auto& row : rows) {
        const ProcessResult result = shell(row.script);
        EXPECT_EQ(result.status, 4) << row.name;
        EXPECT_TRUE(result.output.isEmpty()) << row.name;
    }
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
