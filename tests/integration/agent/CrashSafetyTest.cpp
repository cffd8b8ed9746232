// The real harbly executable killed with SIGKILL at random moments while it pairs, unpairs,
// saves the configuration and changes flows: after every restart both files parse, keep
// their modes, and every token that was answered to a client still works.
#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

class Agent {
  public:
    Agent(const QString& support, quint16 port) : port_(port) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("DISPLAY"));
        environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
        environment.insert(QStringLiteral("HB_SUPPORT"), support);
        environment.insert(QStringLiteral("HB_PORT"), QString::number(port));
        environment.insert(QStringLiteral("HB_RESOURCES"), QStringLiteral(HB_RESOURCES_DIR));
        process_.setProcessEnvironment(environment);
        process_.setProgram(QStringLiteral(HB_BIN_DIR "/harbly"));
        process_.setStandardOutputFile(QProcess::nullDevice());
        process_.setStandardErrorFile(QProcess::nullDevice());
    }
    bool start() {
        process_.start();
        if (!process_.waitForStarted(5000))
            return false;
        for (int i = 0; i < 500; ++i) {
            if (hb::test::rawRequest(port_, "OPTIONS / HTTP/1.1\r\n\r\n", 200ms).status == 204)
                return true;
            ::usleep(10'000);
        }
        return false;
    }
    void kill() {
        process_.kill();
        process_.waitForFinished(5000);
    }

  private:
    quint16 port_;
    QProcess process_;
};

QJsonObject post(quint16 port, const QByteArray& path, const QJsonObject& body, const QString& token = {}) {
    QHash<QByteArray, QByteArray> headers;
    if (!token.isEmpty())
        headers.insert("x-hb-token", token.toUtf8());
    return hb::test::httpRequest(port, "POST", path, QJsonDocument(body).toJson(QJsonDocument::Compact),
                                 headers)
        .json();
}

} // namespace

TEST(CrashSafety, KilledAtRandomMomentsNeverLosesOrDamagesState) {
    const int iterations = qEnvironmentVariableIntValue("HB_CRASH_ITERATIONS") > 0
                               ? qEnvironmentVariableIntValue("HB_CRASH_ITERATIONS")
                               : 60;
    QTemporaryDir root;
    const QString support = root.path() + QStringLiteral("/support");
    const QString stateFile = support + QStringLiteral("/state.json");
    const QString configFile = support + QStringLiteral("/config.json");
    const quint16 port = hb::test::freePort();
    QStringList answeredTokens;
    auto* random = QRandomGenerator::global();

    for (int round = 0; round < iterations; ++round) {
        Agent agent(support, port);
        ASSERT_TRUE(agent.start()) << "round " << round;
        // After every restart: files parse, modes hold, answered tokens still work.
        const auto state = QJsonDocument::fromJson([&] {
            QFile f(stateFile);
            f.open(QIODevice::ReadOnly);
            return f.readAll();
        }());
        ASSERT_TRUE(state.isObject()) << "round " << round;
        QFile config(configFile);
        ASSERT_TRUE(config.open(QIODevice::ReadOnly));
        ASSERT_TRUE(QJsonDocument::fromJson(config.readAll()).isObject()) << "round " << round;
        EXPECT_EQ(hb::test::fileMode(stateFile), 0600);
        EXPECT_EQ(hb::test::fileMode(support), 0700);
        for (const QString& token : answeredTokens) {
            const auto check =
                hb::test::httpRequest(port, "GET", "/api/config", {}, {{"x-hb-token", token.toUtf8()}});
            ASSERT_EQ(check.status, 200) << "round " << round << ": an answered token was lost";
        }
        const QString pin = state.object().value(QStringLiteral("pin")).toString();

        // Work, then a kill at a random moment inside it.
        const int killAfter = int(random->bounded(40));
        QElapsedTimer timer;
        timer.start();
        for (int step = 0; timer.elapsed() < killAfter || step < 1; ++step) {
            switch (random->bounded(4)) {
            case 0: {
                const auto paired = post(port, "/api/pair", {{QStringLiteral("pin"), pin}});
                if (paired.value(QStringLiteral("ok")).toBool())
                    answeredTokens.append(paired.value(QStringLiteral("token")).toString());
                break;
            }
            case 1:
                if (answeredTokens.size() > 3) // the token may be gone once the request is sent
                    post(port, "/api/unpair", {}, answeredTokens.takeFirst());
                break;
            case 2:
                post(port, "/api/config",
                     {{QStringLiteral("pages"),
                       QJsonArray{QJsonObject{{QStringLiteral("name"), QString::number(step)},
                                              {QStringLiteral("tiles"), QJsonArray{}}}}},
                      {QStringLiteral("round"), round}});
                break;
            default:
                post(port, "/api/flows",
                     {{QStringLiteral("label"), QStringLiteral("f%1").arg(step)},
                      {QStringLiteral("steps"),
                       QJsonArray{
                           QJsonObject{{QStringLiteral("type"), QStringLiteral("url")},
                                       {QStringLiteral("value"), QStringLiteral("https://example.org/")}}}}});
                break;
            }
        }
        agent.kill();
    }
}
