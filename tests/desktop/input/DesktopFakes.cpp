#include "DesktopFakes.h"

#include "support/TestSupport.h"

#include <QFile>

using namespace Qt::StringLiterals;

namespace hb::test {

static const QString kFakes = QStringLiteral(HB_TEST_FAKES_DIR "/hb_fake_dbus.py");

bool inTestDesktop() {
    const QString root = qEnvironmentVariable("HB_TEST_DESKTOP");
    return !root.isEmpty() && qEnvironmentVariable("DBUS_SYSTEM_BUS_ADDRESS")
                                  .startsWith(u"unix:path="_s + root + QLatin1Char('/'));
}

FakeService::FakeService(const QString& kind, const QStringList& arguments) {
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(kFakes, QStringList{kind, dir_.filePath(u"calls.jsonl"_s)} + arguments);
    ready_ = waitFor([this] { return process_.canReadLine() || process_.state() == QProcess::NotRunning; },
                     std::chrono::seconds(10)) &&
             process_.readLine().trimmed() == "READY";
}

FakeService::~FakeService() {
    process_.kill();
    process_.waitForFinished();
}

QList<QJsonObject> FakeService::calls(const QString& member) const {
    QFile file(dir_.filePath(u"calls.jsonl"_s));
    QList<QJsonObject> result;
    for (const QByteArray& line :
         file.open(QIODevice::ReadOnly) ? file.readAll().split('\n') : QByteArrayList()) {
        const QJsonObject call = QJsonDocument::fromJson(line).object();
        if (!line.isEmpty() && (member.isEmpty() || call.value(u"member"_s) == member))
            result.append(call);
    }
    return result;
}

QStringList FakeService::members() const {
    QStringList result;
    for (const QJsonObject& call : calls())
        result.append(call.value(u"member"_s).toString());
    return result;
}

ToolResult tray(const QStringList& arguments) {
    return runTool(kFakes, arguments);
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
