#pragma once
// Helpers for the desktop tests: the private desktop guard, fake D-Bus services run as real
// processes and the tray's client, and running a tool without blocking the event loop.
#include <QJsonObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

namespace hb::test {

/// True inside tests/desktop.sh: private X, buses, audio and home, and a system bus that is the
/// desktop's stand-in, never the machine's own.
bool inTestDesktop();

/// One fake of tests/fakes/hb_fake_dbus.py (`kind`, then its arguments), recording its calls.
class FakeService {
  public:
    explicit FakeService(const QString& kind, const QStringList& arguments = {});
    ~FakeService();
    bool ready() const { return ready_; }
    /// The calls (of `member`, if given) recorded so far, oldest first.
    QList<QJsonObject> calls(const QString& member = {}) const;
    QStringList members() const; ///< of the calls so far

  private:
    QTemporaryDir dir_;
    QProcess process_;
    bool ready_ = false;
};

struct ToolResult {
    int exitCode = -1; ///< -1 when it crashed or did not end within 20 s
    QByteArray out;    ///< standard output and error
};

/// Runs `program` to its end while the event loop keeps serving this process's windows and
/// D-Bus objects.
ToolResult runTool(const QString& program, const QStringList& arguments);

/// The fakes' client of the newest live tray item over D-Bus: {"menu"} prints its menu as a desktop
/// shows it ("Open Control Panel [Control+O] | - | ...", hidden entries marked); {"click", label}
/// sends the dbusmenu "clicked" event to the entry titled `label`.
ToolResult tray(const QStringList& arguments);

} // namespace hb::test
