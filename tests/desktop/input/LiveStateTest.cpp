// What plays and the volume, changed on the computer, reach an event-stream reader: a player's
// track through MPRIS signals, the volume through the PulseAudio subscription.
#include "DesktopFakes.h"
#include "actions/platform/linux/MediaWatcher.h"
#include "server/Server.h"
#include "support/TestSupport.h"

#include <QDBusInterface>
#include <QElapsedTimer>
#include <gtest/gtest.h>

using namespace hb::test;

namespace {

/// Reads the stream until `needle` arrives (generous deadline); prints how long it took.
bool streamShows(RawClient& reader, QByteArray& received, const QByteArray& needle) {
    QElapsedTimer clock;
    clock.start();
    while (!received.contains(needle) && clock.elapsed() < 10'000)
        received += reader.read(std::chrono::milliseconds(100));
    std::printf("%s after %lld ms\n", needle.constData(), static_cast<long long>(clock.elapsed()));
    return received.contains(needle);
}

int pactl(const QStringList& arguments) {
    return QProcess::execute(QStringLiteral("/usr/bin/pactl"), arguments);
}

TEST(LiveState, TrackAndVolumeChangesReachTheEventStream) {
    if (!inTestDesktop())
        GTEST_SKIP() << "needs the private test desktop (tests/desktop.sh)";
    ASSERT_EQ(
        pactl({QStringLiteral("set-sink-volume"), QStringLiteral("@DEFAULT_SINK@"), QStringLiteral("30%")}),
        0);
    hb::server::ServerOptions options;
    options.port = 0;
    options.handler = [](const hb::server::Request&, hb::server::Responder responder) {
        responder.openEventStream();
    };
    hb::server::Server server(options);
    server.start();
    ASSERT_TRUE(server.waitUntilListening(std::chrono::seconds(5)));
    FakeService player(QStringLiteral("fake_mpris_player.py"),
                       {QStringLiteral("live"), QStringLiteral("Paused")});
    ASSERT_TRUE(player.ready());
    hb::actions::MediaWatcher watcher(
        [&server](const QJsonObject& state) { server.broadcast(hb::actions::mediaEvent(state)); });
    RawClient reader(server.listeningPort());
    ASSERT_TRUE(reader.send("GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
    QByteArray received;
    ASSERT_TRUE(streamShows(reader, received, ": connected"));

    // Catches a watcher that misses the player's PropertiesChanged or reads its metadata wrong.
    QDBusInterface test(QStringLiteral("org.mpris.MediaPlayer2.live"),
                        QStringLiteral("/org/mpris/MediaPlayer2"), QStringLiteral("org.harbly.Test"));
    ASSERT_TRUE(test.call(QStringLiteral("SetTrack"), QStringLiteral("Blue Monday"),
                          QStringLiteral("New Order"), QStringLiteral("Playing"))
                    .errorMessage()
                    .isEmpty());
    EXPECT_TRUE(
        streamShows(reader, received,
                    R"("artist":"New Order","muted":false,"player":"live","playing":true,"status":"Playing",)"
                    R"("title":"Blue Monday","volume":30})"));

    // Catches a watcher deaf to the sink: the slider would stay where the phone last left it.
    ASSERT_EQ(
        pactl({QStringLiteral("set-sink-volume"), QStringLiteral("@DEFAULT_SINK@"), QStringLiteral("37%")}),
        0);
    EXPECT_TRUE(streamShows(reader, received, R"("volume":37})"));
}

} // namespace
