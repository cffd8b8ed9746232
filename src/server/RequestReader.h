#pragma once
#include "server/Request.h"

#include <QByteArray>
#include <cstdint>

namespace hb::server {

/// Reads one request from bytes as they arrive: a header block ended by CR LF CR LF, then
/// Content-Length bytes of body. Bounded: the header block and the body have limits.
class RequestReader {
  public:
    enum class State {
        Incomplete,     ///< more bytes are needed
        Complete,       ///< `request()` holds the request
        HeaderTooLarge, ///< answer 431 and close
        BodyTooLarge,   ///< answer 413 and close
        BadLength,      ///< negative or overflowing Content-Length: answer 400 and close
    };

    RequestReader(qsizetype maxHeaderBytes, qsizetype maxBodyBytes);

    /// Appends bytes and advances; once a final state is reached, further bytes are ignored.
    State feed(QByteArrayView bytes);

    State state() const { return state_; }
    bool headerComplete() const { return headerEnd_ >= 0; }
    /// The request (without the socket fields), valid in the Complete state.
    const Request& request() const { return request_; }
    /// Complete, and nothing beyond the request has arrived or can follow: no bytes past the
    /// body and no Transfer-Encoding (whose body this reader does not take in).
    bool endedCleanly() const { return state_ == State::Complete && endedCleanly_; }

  private:
    State parseHeaderBlock();
    State completeIfBodyArrived();

    qsizetype maxHeaderBytes_;
    qsizetype maxBodyBytes_;
    QByteArray buffer_;
    qsizetype scanFrom_ = 0;
    qsizetype headerEnd_ = -1;
    std::int64_t contentLength_ = 0;
    State state_ = State::Incomplete;
    bool endedCleanly_ = false;
    Request request_;
};

/// Content-Length as a signed 64-bit decimal: nothing for text that is not a number (which
/// counts as 0); `overflow` is set for digits beyond the 64-bit range.
std::optional<std::int64_t> readContentLength(const QString& value, bool& overflow);

} // namespace hb::server
