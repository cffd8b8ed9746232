#pragma once
// Real Wayland sessions for the tests: a headless mutter (with or without Xwayland) on the
// test desktop's session bus, and fake services from tests/fakes.
#include <QJsonObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

namespace hb::test {

/// `mutter --headless --wayland --virtual-monitor 1024x768`, `--no-x11` unless `xwayland`.
class HeadlessMutter {
  public:
    explicit HeadlessMutter(bool xwayland);
    ~HeadlessMutter();
    bool ready() const { return !waylandDisplay_.isEmpty() && (!xwayland_ || !x11Display_.isEmpty()); }
    QString waylandDisplay() const { return waylandDisplay_; }
    /// ":N" of its Xwayland, empty without one.
    QString x11Display() const { return x11Display_; }
    /// The session's environment for a client: Wayland, and DISPLAY only with Xwayland.
    QProcessEnvironment environment() const;
    /// Puts this process into the session (its environment) until this object ends.
    void enter();

  private:
    bool xwayland_;
    QProcess process_;
    QString waylandDisplay_;
    QString x11Display_;
    QString xauthority_;
    QProcessEnvironment left_;
};

/// One fake service from tests/fakes, recording its calls to a file.
class Fake {
  public:
    Fake(const QString& script, const QStringList& arguments);
    ~Fake();
    bool ready() const { return ready_; }
    /// The recorded calls of `member`, oldest first.
    QList<QJsonObject> calls(const QString& member) const;

  private:
    QTemporaryDir dir_;
    QProcess process_;
    bool ready_ = false;
};

} // namespace hb::test
