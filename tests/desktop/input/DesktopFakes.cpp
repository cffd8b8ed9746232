#include "DesktopFakes.h"

#include "support/TestSupport.h"

#include <QFile>
#include <QJsonDocument>
#include <QThread>
#include <algorithm>
#include <atomic>

// Last: Xlib's macros clash with Qt names.
#include <X11/Xlib.h>

namespace hb::test {

namespace {

constexpr auto kStartTimeout = std::chrono::seconds(10);
constexpr auto kCallTimeout = std::chrono::seconds(20);

} // namespace

bool inTestDesktop() {
    return !qEnvironmentVariableIsEmpty("HB_TEST_DESKTOP");
}

bool systemBusIsPrivate() {
    const QString root = qEnvironmentVariable("HB_TEST_DESKTOP");
    const QString address = qEnvironmentVariable("DBUS_SYSTEM_BUS_ADDRESS");
    return !root.isEmpty() && address.startsWith(QStringLiteral("unix:path=") + root + QLatin1Char('/'));
}

FakeService::FakeService(const QString& script, const QStringList& arguments)
    : record_(dir_.filePath(QStringLiteral("calls.jsonl"))) {
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(QStringLiteral("/usr/bin/python3"),
                   QStringList{QStringLiteral(HB_TEST_FAKES_DIR "/") + script, record_} + arguments);
    ready_ = waitFor([this] { return process_.canReadLine() || process_.state() == QProcess::NotRunning; },
                     kStartTimeout) &&
             process_.readLine().trimmed() == "READY";
}

FakeService::~FakeService() {
    process_.kill();
    process_.waitForFinished();
}

QList<QJsonObject> FakeService::calls(const QString& member) const {
    QFile file(record_);
    QList<QJsonObject> result;
    if (!file.open(QIODevice::ReadOnly))
        return result;
    for (const QByteArray& line : file.readAll().split('\n')) {
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

XServerWithoutXTest::XServerWithoutXTest() {
    // -displayfd 1: the server writes its display number on stdout once it accepts clients.
    // -noreset: by default the server resets when its last client leaves and refuses
    // connections meanwhile; every probe of this server is such a last client.
    process_.start(QStringLiteral("Xvfb"),
                   {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-noreset"),
                    QStringLiteral("-extension"), QStringLiteral("XTEST"), QStringLiteral("-nolisten"),
                    QStringLiteral("tcp")});
    if (waitFor([this] { return process_.canReadLine(); }, kStartTimeout))
        display_ = ':' + process_.readLine().trimmed();
}

XServerWithoutXTest::~XServerWithoutXTest() {
    process_.terminate();
    if (!process_.waitForFinished())
        process_.kill();
}

int emptyKeycodes(const QByteArray& displayName) {
    Display* display = XOpenDisplay(displayName.isEmpty() ? nullptr : displayName.constData());
    if (!display)
        return -1;
    int minCode = 0, maxCode = 0, perCode = 0;
    XDisplayKeycodes(display, &minCode, &maxCode);
    KeySym* map =
        XGetKeyboardMapping(display, static_cast<KeyCode>(minCode), maxCode - minCode + 1, &perCode);
    int empty = 0;
    for (int code = 0; map && code <= maxCode - minCode; ++code) {
        const KeySym* row = map + static_cast<std::ptrdiff_t>(code) * perCode;
        empty += std::all_of(row, row + perCode, [](KeySym sym) { return sym == NoSymbol; }) ? 1 : 0;
    }
    if (map)
        XFree(map);
    XCloseDisplay(display);
    return empty;
}

bool runOffGuiThread(const std::function<bool()>& call) {
    std::atomic<bool> result{false};
    QThread* worker = QThread::create([&] { result = call(); });
    worker->start();
    const bool finished = waitFor([worker] { return worker->isFinished(); }, kCallTimeout);
    if (!finished)
        worker->wait();
    delete worker;
    return result;
}

} // namespace hb::test
