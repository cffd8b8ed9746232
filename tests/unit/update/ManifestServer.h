#pragma once
// A loopback HTTP server that answers every request with one canned response (or never),
// standing in for the update manifest host. Header-only so the desktop tests can share it.
#include <QByteArray>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

namespace hb::test {

class ManifestServer : public QTcpServer {
  public:
    ManifestServer() {
        connect(this, &QTcpServer::newConnection, this, &ManifestServer::acceptAll);
        listen(QHostAddress::LocalHost, 0);
    }

    /// Every later request gets this status and body.
    void serve(const QByteArray& body, int status = 200) {
        body_ = body;
        status_ = status;
        silent_ = false;
    }
    /// Later requests are read but never answered.
    void stayQuiet() { silent_ = true; }

    QByteArray manifestUrl() const {
        return "http://127.0.0.1:" + QByteArray::number(serverPort()) + "/latest.json";
    }
    int requests() const { return requests_; }
    QByteArray lastRequest() const { return lastRequest_; }

  private:
    void acceptAll() {
        while (QTcpSocket* socket = nextPendingConnection()) {
            socket->setParent(this);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { answer(socket); });
        }
    }

    void answer(QTcpSocket* socket) {
        QByteArray& received = pending_[socket];
        received += socket->readAll();
        if (!received.contains("\r\n\r\n"))
            return;
        ++requests_;
        lastRequest_ = received;
        received.clear();
        if (silent_)
            return;
        socket->write("HTTP/1.1 " + QByteArray::number(status_) + " X\r\nContent-Type: application/json\r\n" +
                      "Content-Length: " + QByteArray::number(body_.size()) +
                      "\r\nConnection: close\r\n\r\n" + body_);
        socket->disconnectFromHost();
    }

    QByteArray body_;
    int status_ = 200;
    bool silent_ = false;
    int requests_ = 0;
    QByteArray lastRequest_;
    QHash<QTcpSocket*, QByteArray> pending_;
};

} // namespace hb::test
