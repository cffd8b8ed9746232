#include "RemoteSession.h"

#include "SystemDBus.h"

#include <QThread>
#include <atomic>

namespace hb::actions {

QThread* sessionSignalThread() {
    // Never freed: receivers may still run while the process exits.
    static QThread* thread = [] {
        auto* created = new QThread;
        created->setObjectName(QStringLiteral("hb-input-session"));
        created->start();
        return created;
    }();
    return thread;
}

namespace {
QString uniqueConnectionName() {
    static std::atomic<int> counter{0};
    return QStringLiteral("hb-input-session-%1").arg(++counter);
}
} // namespace

PrivateBus::PrivateBus()
    : name_(uniqueConnectionName()),
      connection_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, name_)) {}

PrivateBus::~PrivateBus() {
    QDBusConnection::disconnectFromBus(name_);
}

std::optional<QDBusMessage> PrivateBus::call(const QString& service, const QString& path,
                                             const QString& interface, const QString& method,
                                             const QVariantList& arguments) {
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    QDBusMessage reply = connection_.call(message, QDBus::Block, kDBusTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage)
        return std::nullopt;
    return reply;
}

} // namespace hb::actions
