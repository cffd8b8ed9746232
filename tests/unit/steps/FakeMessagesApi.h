#pragma once
// A stand-in for the Anthropic Messages API: a real HTTP/1.1 server on 127.0.0.1, on a thread
// of its own (so that tests may block in their own socket calls), that records every request
// and answers each through a function of the test. Header-only so that the planner's unit
// and integration tests share it.
#include "core/HandOff.h"

#include <QByteArray>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QMutex>
#include <QMutexLocker>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <functional>
#include <memory>

namespace hb::test {

struct RecordedRequest {
    QByteArray method;
    QByteArray target;
    QHash<QByteArray, QByteArray> headers; ///< lower-cased names
    QByteArray body;
    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
};

struct FakeReply {
    int status = 200;
    QByteArray body;
    bool never = false;      ///< keep the connection open and never answer
    QByteArray extraHeaders; ///< "Name: value\r\n" lines added to the head
};

class FakeMessagesApi {
  public:
    using Answer = std::function<FakeReply(const RecordedRequest&)>;

    /// Answers every request with `answer`; replies are held back until `holdUntil` requests
    /// have arrived (then all are sent), which proves that many were in flight at once.
    explicit FakeMessagesApi(Answer answer, int holdUntil = 0)
        : answer_(std::move(answer)), holdUntil_(holdUntil) {
        thread_.setObjectName(QStringLiteral("fake-messages-api"));
        thread_.start();
        home_ = new QObject;
        home_->moveToThread(&thread_);
        hb::callOn(home_, [this] { listen(); });
    }

    ~FakeMessagesApi() {
        hb::callOn(home_, [this] { delete server_; });
        thread_.quit();
        thread_.wait();
        delete home_; // its thread has ended
    }

    quint16 port() const { return port_; }
    QString baseUrl() const { return QStringLiteral("http://127.0.0.1:") + QString::number(port_); }

    QList<RecordedRequest> requests() const {
        QMutexLocker lock(&mutex_);
        return requests_;
    }

    /// A Messages API reply whose one text block is `text`.
    static FakeReply modelText(const QString& text, int status = 200) {
        const QJsonObject block{{QStringLiteral("type"), QStringLiteral("text")},
                                {QStringLiteral("text"), text}};
        const QJsonObject reply{{QStringLiteral("type"), QStringLiteral("message")},
                                {QStringLiteral("content"), QJsonArray{block}}};
        return FakeReply{status, QJsonDocument(reply).toJson(QJsonDocument::Compact), false, {}};
    }

  private:
    struct Pending {
        QTcpSocket* socket;
        FakeReply reply;
    };

    void listen() {
        server_ = new QTcpServer(home_);
        server_->listen(QHostAddress::LocalHost, 0);
        port_ = server_->serverPort();
        QObject::connect(server_, &QTcpServer::newConnection, server_, [this] {
            while (QTcpSocket* socket = server_->nextPendingConnection()) {
                auto buffer = std::make_shared<QByteArray>();
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
                    *buffer += socket->readAll();
                    if (read(socket, *buffer))
                        QObject::disconnect(socket, &QTcpSocket::readyRead, nullptr, nullptr);
                });
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }

    /// True once a whole request has been read and handled.
    bool read(QTcpSocket* socket, const QByteArray& buffer) {
        const qsizetype end = buffer.indexOf("\r\n\r\n");
        if (end < 0)
            return false;
        RecordedRequest request;
        const QList<QByteArray> lines = buffer.left(end).split('\n');
        const QList<QByteArray> start = lines.value(0).trimmed().split(' ');
        request.method = start.value(0);
        request.target = start.value(1);
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines[i].indexOf(':');
            if (colon > 0)
                request.headers.insert(lines[i].left(colon).trimmed().toLower(),
                                       lines[i].mid(colon + 1).trimmed());
        }
        const qsizetype length = request.headers.value("content-length").toLongLong();
        if (buffer.size() < end + 4 + length)
            return false;
        request.body = buffer.mid(end + 4, length);
        handle(socket, request);
        return true;
    }

    void handle(QTcpSocket* socket, const RecordedRequest& request) {
        const FakeReply reply = answer_(request);
        int received = 0;
        {
            QMutexLocker lock(&mutex_);
            requests_.append(request);
            received = int(requests_.size());
        }
        held_.append(Pending{socket, reply});
        if (received < holdUntil_)
            return;
        for (const Pending& pending : std::exchange(held_, {}))
            send(pending.socket, pending.reply);
    }

    static void send(QTcpSocket* socket, const FakeReply& reply) {
        if (reply.never)
            return;
        socket->write("HTTP/1.1 " + QByteArray::number(reply.status) +
                      " Fake\r\nContent-Type: application/json\r\n" + "Content-Length: " +
                      QByteArray::number(reply.body.size()) + "\r\nConnection: close\r\n\r\n" + reply.body);
        socket->disconnectFromHost();
    }

    Answer answer_;
    int holdUntil_ = 0;
    QThread thread_;
    QObject* home_ = nullptr;
    QTcpServer* server_ = nullptr; // sockets are its children: they go with it
    quint16 port_ = 0;
    QList<Pending> held_; // touched on the fake's thread only
    mutable QMutex mutex_;
    QList<RecordedRequest> requests_;
};

} // namespace hb::test
