#pragma once
#include <QSslConfiguration>
#include <QTcpServer>
#include <optional>

namespace hb::relay::service {

/// The service's TCP listener; with a certificate and key every connection is TLS from the start.
class Listener : public QTcpServer {
    Q_OBJECT
  public:
    using QTcpServer::QTcpServer;

    /// Loads a PEM certificate (chain) and PEM private key (RSA or EC); false with `error` set otherwise.
    bool loadTls(const QString& certPath, const QString& keyPath, QString* error);

  protected:
    void incomingConnection(qintptr descriptor) override;

  private:
    std::optional<QSslConfiguration> tls_;
};

} // namespace hb::relay::service
