#include "DesktopFakes.h"

#include "support/TestSupport.h"

#include <QFile>

namespace hb::test {

static const QString kFakes = QStringLiteral(HB_TEST_FAKES_DIR "/hb_fake_dbus.py");

bool inTestDesktop() {
    const QString root = qEnvironmentVariable("HB_TEST_DESKTOP");
    return !root.isEmpty() && qEnvironmentVariable("DBUS_SYSTEM_BUS_ADDRESS")
                                  .startsWith(QStringLiteral("unix:path=") + root + QLatin1Char('/'));
}

FakeService::FakeService(const QString& kind, const QStringList& arguments) {
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(QStringLiteral("/usr/bin/python3"),
                   QStringList{kFakes, kind, dir_.filePath(QStringLiteral("calls.jsonl"))} + arguments);
    ready_ = waitFor([this] { return process_.canReadLine() || process_.state() == QProcess::NotRunning; },
                     std::chrono::seconds(10)) &&
             process_.readLine().trimmed() == "READY";
}

FakeService::~FakeService() {
    process_.kill();
    process_.waitForFinished();
}

QList<QJsonObject> FakeService::calls(const QString& member) const {
    QFile file(dir_.filePath(QStringLiteral("calls.jsonl")));
    QList<QJsonObject> result;
    for (const QByteArray& line :
         file.open(QIODevice::ReadOnly) ? file.readAll().split('\n') : QByteArrayList()) {
        const QJsonObject call = QJsonDocument::fromJson(line).object();
        if (!line.isEmpty() && (member.isEmpty() || call.value(QStringLiteral("member")) == member))
            result.append(call);
    }
    return result;
}

QStringList FakeService::members() const {
    QStringList result;
    for (const QJsonObject& call : calls())
        result.append(call.value(QStringLiteral("member")).toString());
    return result;
}

QString trayMenu() {
    const ToolResult result = runTool(QStringLiteral("/usr/bin/python3"), {kFakes, QStringLiteral("menu")});
    return result.exitCode == 0 ? QString::fromUtf8(result.out).chopped(1) : QString();
}

bool trayClick(const QString& label) {
    return runTool(QStringLiteral("/usr/bin/python3"), {kFakes, QStringLiteral("click"), label}).exitCode ==
           0;
}

ToolResult runTool(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!waitFor([&] { return process.state() == QProcess::NotRunning; }, std::chrono::seconds(20))) {
        process.kill();
        process.waitForFinished();
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAll()};
}

} // namespace hb::test
