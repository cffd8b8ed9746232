#pragma once
// Plumbing shared by the remote-desktop injectors: a private session-bus connection (a
// remote-desktop session lives exactly as long as the connection that made it) and a thread
// with an event loop on which signal receivers run, whatever thread the request came from.
#include <QDBusConnection>
#include <QDBusMessage>
#include <QString>
#include <QVariantList>
#include <optional>

class QObject;
class QThread;

namespace hb::actions {

/// The thread that signal receivers of input sessions are moved to; started on first use and
/// kept until the process ends.
QThread* sessionSignalThread();

/// A connection of its own to the session bus, closed with this object.
class PrivateBus {
  public:
    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    QDBusConnection& connection() { return connection_; }
    bool connected() const { return connection_.isConnected(); }
    /// A blocking call with a short timeout; the reply, or nothing on any error.
    std::optional<QDBusMessage> call(const QString& service, const QString& path, const QString& interface,
                                     const QString& method, const QVariantList& arguments = {});

  private:
    QString name_;
    QDBusConnection connection_;
};

} // namespace hb::actions
