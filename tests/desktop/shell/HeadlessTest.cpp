// The headless presentation printing to a real pseudo-terminal and to a pipe.
#include "app/Headless.h"
#include "actions/platform/linux/HostIdentityLinux.h"
#include "store/Store.h"
#include "support/TestSupport.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <memory>
#include <unistd.h>

namespace hb::test {
namespace {

constexpr quint16 kPort = 8799;

/// Everything written to the far end of a terminal or pipe so far, read without blocking.
QString drain(int fd, QByteArray& received) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    char buffer[4096];
    for (ssize_t got = 0; (got = ::read(fd, buffer, sizeof buffer)) > 0;)
        received.append(buffer, got);
    return QString::fromUtf8(received).remove(u'\r'); // the terminal turns \n into \r\n
}

class Headless : public ::testing::Test {
  protected:
    Headless() : store(store::Store::Options{dir.path(), dir.path(), {}}) {}

    std::unique_ptr<app::HeadlessPresenter> presenter(int input, int output) {
        auto result = std::make_unique<app::HeadlessPresenter>(store, host, [] { return kPort; });
        result->setDescriptors(input, output);
        return result;
    }

    QStringList codesIn(const QString& text) {
        const QRegularExpression link(QStringLiteral("http://%1:%2/\\?pair=([0-9a-f]{16})\\n")
                                          .arg(QRegularExpression::escape(host.lanIP()))
                                          .arg(kPort));
        QStringList codes;
        for (const QRegularExpressionMatch& match : link.globalMatch(text))
            codes.append(match.captured(1));
        return codes;
    }

    QTemporaryDir dir;
    store::Store store;
    actions::LinuxHostIdentity host;
};

TEST_F(Headless, TerminalShowsPinLinkAndQrAndEnterGivesAFreshLink) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_TRUE(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
    const int tty = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(tty, 0);
    QByteArray received;
    auto shown = presenter(tty, tty);
    shown->start();

    const QString first = drain(master, received);
    EXPECT_TRUE(first.contains(QStringLiteral("http://%1:%2/\n").arg(host.lanIP()).arg(kPort)));
    EXPECT_TRUE(first.contains(QStringLiteral("Pairing PIN: ") + store.pinValue() + u'\n'));
    const QStringList codes = codesIn(first);
    ASSERT_EQ(codes.size(), 1) << first.toStdString();
    EXPECT_TRUE(first.contains(QChar(0x2588))) << "the QR code is drawn";

    ASSERT_EQ(::write(master, "\n", 1), 1);
    QString all;
    ASSERT_TRUE(waitFor([&] { return codesIn(all = drain(master, received)).size() == 2; }));
    const QStringList both = codesIn(all);
    EXPECT_NE(both.at(0), both.at(1));
    for (const QString& code : both)
        EXPECT_TRUE(store.consumeCode(code).has_value()) << "every printed link pairs";
    shown.reset();
    ::close(tty);
    ::close(master);
}

TEST_F(Headless, PipeGetsTheAddressButNoSecrets) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    QByteArray received;
    auto shown = presenter(fds[0], fds[1]);
    shown->start();
    shown->printPairing(); // asked again: still nothing secret into a pipe
    const QString text = drain(fds[0], received);
    ::close(fds[0]);
    ::close(fds[1]);
    EXPECT_TRUE(text.startsWith(
        QStringLiteral("Harbly is listening at http://%1:%2/\n").arg(host.lanIP()).arg(kPort)));
    EXPECT_FALSE(text.contains(store.pinValue()));
    EXPECT_FALSE(text.contains(QStringLiteral("pair=")));
    EXPECT_FALSE(text.contains(QChar(0x2588)));
}

} // namespace
} // namespace hb::test
