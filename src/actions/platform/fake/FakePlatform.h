#pragma once
// A recording stand-in for every desktop action, for routing and step tests. Each call is
// appended to `calls` as "operation:argument"; answers come from the public fields.
#include "actions/Actions.h"

#include <QHash>
#include <QMutex>
#include <QStringList>
#include <atomic>
#include <optional>

namespace hb::actions {

class FakePlatform final : public Applications,
                           public Shortcuts,
                           public Input,
                           public Media,
                           public HostIdentity {
  public:
    FakePlatform();

    Platform platform() { return Platform{*this, *this, *this, *this, *this}; }

    // Applications
    QStringList listApps() override;
    bool launchApp(const QString& name) override;
    std::optional<QByteArray> iconPNG(const QString& name) override;
    bool openURL(const QString& address) override;
    // Shortcuts
    QStringList listShortcuts() override;
    bool runShortcut(const QString& name) override;
    // Input
    bool accessibilityTrusted() override;
    void promptAccessibility() override;
    bool runGesture(const QString& name) override;
    bool typeText(const QString& text) override;
    bool setClipboard(const QString& text) override;
    bool pointer(const PointerCommand& command) override;
    bool pressKey(const KeyCommand& command) override;
    // Media
    bool mediaAction(const QString& name) override;
    bool setVolume(int level) override;
    int getVolume() override;
    bool setMuted(bool muted) override;
    bool isMuted() override;
    bool systemAction(const QString& name) override;
    // Host
    QString lanIP() override;
    QString computerName() override;
    QString hostName() override;

    /// Change answers while requests may run.
    void setIcon(const QString& name, const QByteArray& png);
    void setShortcuts(const QStringList& names);

    /// Every call so far, in order.
    QStringList calls() const;
    void clearCalls();

    // What the fake answers. Guarded by the same mutex as `calls`: set them before the fake is
    // in use, or through the setters above.
    QStringList apps{QStringLiteral("Calculator"), QStringLiteral("Files"), QStringLiteral("Text Editor")};
    QHash<QString, QByteArray> icons; ///< name -> PNG bytes
    QStringList shortcuts{QStringLiteral("Backup"), QStringLiteral("Focus")};
    // Scalars may also change while requests run (atomics).
    std::atomic<bool> trusted = true;
    std::atomic<bool> actionsSucceed = true; ///< result of gestures, typing, media, system
    std::atomic<int> volume = 40;
    std::atomic<bool> muted = false;
    QString lan = QStringLiteral("192.168.1.20");
    QString computer = QStringLiteral("Test Desk");
    QString host = QStringLiteral("testdesk");

  private:
    void record(const QString& call);
    mutable QMutex mutex_;
    QStringList calls_;
};

} // namespace hb::actions
