#pragma once
// Helpers for the input and media tests: the private desktop guard, fake D-Bus services run as
// real processes, a second X server without XTEST, and running a call off the GUI thread.
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>

namespace hb::test {

/// True inside tests/desktop.sh (private X, buses, audio and home); the second, when the system
/// bus is the desktop's stand-in, never the machine's own.
bool inTestDesktop();
bool systemBusIsPrivate();

/// One fake service from tests/fakes, recording its calls to a file.
class FakeService {
  public:
    FakeService(const QString& script, const QStringList& arguments = {});
    ~FakeService();
    bool ready() const { return ready_; }
    /// The calls (of `member`, if given) recorded so far, oldest first.
    QList<QJsonObject> calls(const QString& member = {}) const;
    QStringList members() const; ///< of the calls so far

  private:
    QTemporaryDir dir_;
    QString record_;
    QProcess process_;
    bool ready_ = false;
};

/// An Xvfb started with XTEST disabled.
class XServerWithoutXTest {
  public:
    XServerWithoutXTest();
    ~XServerWithoutXTest();
    QByteArray display() const { return display_; } ///< ":N", or empty when it did not start

  private:
    QProcess process_;
    QByteArray display_;
};

/// How many keycodes of `display` (empty: $DISPLAY) carry no symbol; -1 when it cannot be opened.
int emptyKeycodes(const QByteArray& display = {});

/// Runs `call` on a worker thread while the GUI thread keeps handling events (typing rebinds
/// keys that this process's own windows must read meanwhile).
bool runOffGuiThread(const std::function<bool()>& call);

} // namespace hb::test
