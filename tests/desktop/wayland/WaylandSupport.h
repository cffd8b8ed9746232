#pragma once
// Real Wayland sessions for the tests: a headless mutter (with or without Xwayland) on the
// test desktop's session bus.
#include <QProcess>
#include <QStringList>

namespace hb::test {

/// `mutter --headless --wayland --virtual-monitor 1024x768`, `--no-x11` unless `xwayland`.
class HeadlessMutter {
  public:
    explicit HeadlessMutter(bool xwayland);
    ~HeadlessMutter();
    bool ready() const { return !waylandDisplay_.isEmpty() && (!xwayland_ || !x11Display_.isEmpty()); }
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

} // namespace hb::test
