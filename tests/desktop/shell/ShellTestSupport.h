#pragma once
// Shared by the desktop shell tests: a fake tray watcher on the session bus (started before any
// tray icon exists, as Qt decides once per process whether a watcher is there), and helper
// processes run without blocking the event loop.
#include <QByteArray>
#include <QJsonObject>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <chrono>

namespace hb::test {

struct ToolResult {
    bool finished = false;
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

/// Runs `program` to its end while the event loop keeps serving our own D-Bus objects.
ToolResult runTool(const QString& program, const QStringList& arguments,
                   std::chrono::milliseconds timeout = std::chrono::seconds(20));

/// The newest live tray item's state read over D-Bus by the fake watcher's client (tool tip, menu
/// layout as JSON); `pid` > 0 picks the item of that process. Empty object when there is none.
QJsonObject trayDump(qint64 pid = 0);

/// Sends the dbusmenu "clicked" event to the entry titled `label` of the newest item (of `pid`).
bool trayClick(const QString& label, qint64 pid = 0);

/// The agent's environment for child processes and in-process use: temporary support folder,
/// relay and update hosts on closed loopback ports.
QProcessEnvironment agentEnvironment(const QString& supportDir, const QString& configHome);

} // namespace hb::test
