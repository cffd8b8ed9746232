#pragma once
#include <QByteArray>
#include <QByteArrayView>
#include <QHash>

namespace hb::relay::service {

/// The request line and header fields of one HTTP/1.1 request.
struct HttpHead {
    QByteArray method;
    QByteArray target;                    ///< as sent: path and optional query
    QHash<QByteArray, QByteArray> fields; ///< lower-cased names, trimmed values; repeats joined by ", "
    qint64 contentLength = 0;
    int error = 0; ///< 0, or the status to refuse the request with (400, 413, 501, 505)

    QByteArray field(const QByteArray& lowerName) const { return fields.value(lowerName); }
    bool isWebSocketUpgrade() const;
};

/// Parses the head up to (not including) the blank line; `maxBody` bounds Content-Length.
HttpHead parseHead(QByteArrayView head, qint64 maxBody);

/// One complete response with "Connection: close" and the headers every answer of the relay carries.
QByteArray httpResponse(int status, const QByteArray& contentType, const QByteArray& body,
                        const QByteArray& extraHead = {}, bool withBody = true);

/// "Not Found" for 404 and so on; "Status" for codes without a phrase here.
QByteArray reasonPhrase(int status);

} // namespace hb::relay::service
