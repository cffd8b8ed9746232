#pragma once
// Shared pieces of the plan and flow endpoint tests: a harness with a paired token and an
// allowed-application set, and an event stream read over a raw socket.
#include "support/TestSupport.h"
#include "support/api/ApiHarness.h"
#include "unit/steps/JsonPrinting.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <gtest/gtest.h>

namespace hb::test {

inline QByteArray compactJson(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

inline QJsonObject parsedObject(const QByteArray& json) {
    return QJsonDocument::fromJson(json).object();
}

/// "Calculator" and "Ghost" (allowed, not installed) are app tiles, so both are allowed.
inline QJsonObject configWithApps() {
    return parsedObject(R"({"pages":[{"name":"Apps","icon":"A","tiles":[
        {"type":"app","value":"Calculator"},{"type":"app","value":"Ghost"}]}],"settings":{}})");
}

/// One open "/api/events" stream; counts the reload events it has received.
class EventStream {
  public:
    explicit EventStream(quint16 port) : client_(port) {
        client_.send("GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
        opened_ = readUntil([this] { return received_.contains(": connected\n\n"); });
    }

    bool opened() const { return opened_; }

    /// Waits until `count` reload events have arrived in all; true when they did.
    bool waitForReloads(int count, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
        return readUntil([&] { return reloads() >= count; }, limit);
    }

    int reloads() const { return int(received_.count(kReload)); }

  private:
    static constexpr const char* kReload = "event: reload\ndata: 1\n\n";

    bool readUntil(const std::function<bool()>& done,
                   std::chrono::milliseconds limit = std::chrono::seconds(5)) {
        QElapsedTimer timer;
        timer.start();
        while (!done() && timer.elapsed() < limit.count())
            received_ += client_.read(std::chrono::milliseconds(100), 1);
        return done();
    }

    RawClient client_;
    QByteArray received_;
    bool opened_ = false;
};

} // namespace hb::test
