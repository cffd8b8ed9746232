#pragma once
// Shared by the desktop shell tests: a fake tray watcher on the session bus (started before any
// tray icon exists, as Qt decides once per process whether a watcher is there), with the
// support folder, port and hosts of the agent set for the whole process, and helper processes
// run without blocking the event loop.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <chrono>

namespace hb::test {

struct ToolResult {
    int exitCode = -1; ///< -1 when it crashed or did not end in time
    QByteArray out;    ///< standard output and error
};

/// Runs `program` to its end while the event loop keeps serving our own D-Bus objects.
ToolResult runTool(const QString& program, const QStringList& arguments,
                   std::chrono::milliseconds timeout = std::chrono::seconds(20));

/// The newest live tray item's menu as a desktop shows it, read over D-Bus: "Open Control
/// Panel [Control+O] | - | ...", hidden entries marked; empty without one.
QString trayMenu();

/// Sends the dbusmenu "clicked" event to the entry titled `label` of the newest item.
bool trayClick(const QString& label);

} // namespace hb::test
