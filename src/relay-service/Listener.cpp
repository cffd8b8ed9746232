#include "relay-service/Listener.h"

#include <QFile>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>

namespace hb::relay::service {
namespace {

QSslKey readKey(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray pem = file.readAll();
    for (const QSsl::KeyAlgorithm algorithm : {QSsl::Rsa, QSsl::Ec}) {
        QSslKey key(pem, algorithm, QSsl::Pem, QSsl::PrivateKey);
        if (!key.isNull())
            return key;
    }
    return {};
}

} // namespace

bool Listener::loadTls(const QString& certPath, const QString& keyPath, QString* error) {
    if (!QSslSocket::supportsSsl()) {
        *error = QStringLiteral("this Qt build has no TLS backend");
        return false;
    }
    const QList<QSslCertificate> chain = QSslCertificate::fromPath(certPath, QSsl::Pem);
    if (chain.isEmpty()) {
        *error = QStringLiteral("no PEM certificate in ") + certPath;
        return false;
    }
    const QSslKey key = readKey(keyPath);
    if (key.isNull()) {
        *error = QStringLiteral("no RSA or EC private key in ") + keyPath;
        return false;
    }
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.setLocalCertificateChain(chain);
    config.setPrivateKey(key);
    config.setPeerVerifyMode(QSslSocket::VerifyNone);
    config.setProtocol(QSsl::TlsV1_2OrLater);
    tls_ = config;
    return true;
}

void Listener::incomingConnection(qintptr descriptor) {
    if (!tls_)
        return QTcpServer::incomingConnection(descriptor);
    auto* socket = new QSslSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    socket->setSslConfiguration(*tls_);
    addPendingConnection(socket);
    socket->startServerEncryption();
}

} // namespace hb::relay::service
