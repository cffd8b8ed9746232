#pragma once
#include "relay-service/ServiceOptions.h"
#include "server/Request.h"
#include "server/RequestReader.h"

#include <QObject>
#include <QTimer>

class QTcpSocket;

namespace hb::relay::service {

/// Reads one request off a fresh connection with the server's reader, within the header and body
/// limits and timeouts. A WebSocket upgrade is reported before any byte is consumed, so the socket
/// can be handed on whole. Lives as a child of its socket.
class IncomingConnection : public QObject {
    Q_OBJECT
  public:
    IncomingConnection(QTcpSocket* socket, const ServiceOptions& options);

    /// Answers with one response and closes (the socket is dropped if the peer stops reading).
    static void answer(QTcpSocket* socket, const QByteArray& response,
                       std::chrono::milliseconds writeTimeout);

  Q_SIGNALS:
    /// A complete head asking for a WebSocket; the bytes are still unread on the socket.
    void upgradeRequested(QTcpSocket* socket, const hb::server::Request& request);
    /// A complete request with its body.
    void requestReady(QTcpSocket* socket, const hb::server::Request& request);

  private:
    void onReadyRead();
    void readHead();
    void readBody();
    void refuse(int status);
    void finish();

    enum class Stage { Head, Body, Done };
    QTcpSocket* socket_;
    const ServiceOptions& options_;
    Stage stage_ = Stage::Head;
    QTimer deadline_;
    server::RequestReader reader_;
};

/// The relay's own plain-text answer for `status`, with the fields every relay answer carries.
QByteArray statusResponse(int status);
/// One answer of the relay: no caching, no sniffing, no referrer (relayed answers carry tokens).
QByteArray relayResponse(int status, QByteArrayView contentType, QByteArrayView body,
                         QByteArrayView extraHead = {}, bool withBody = true);

} // namespace hb::relay::service
