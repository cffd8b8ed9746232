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
class Reader {
  public:
    explicit Reader(int fd) : fd_(fd) { ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK); }
    QString text() {
        char buffer[4096];
        ssize_t got = 0;
        while ((got = ::read(fd_, buffer, sizeof buffer)) > 0)
            received_.append(buffer, got);
        return QString::fromUtf8(received_).remove(u'\r'); // the terminal turns \n into \r\n
    }

  private:
    int fd_;
    QByteArray received_;
};

/// A pseudo-terminal pair: the presenter gets the terminal end, the test plays the user.
struct Terminal {
    Terminal() {
        master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0)
            terminal = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
    }
    ~Terminal() {
        ::close(terminal);
        ::close(master);
    }
    int master = -1;
    int terminal = -1;
};

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
    Terminal tty;
    ASSERT_GE(tty.terminal, 0);
    Reader user(tty.master);
    auto shown = presenter(tty.terminal, tty.terminal);
    shown->start();

    const QString first = user.text();
    EXPECT_TRUE(first.contains(QStringLiteral("http://%1:%2/\n").arg(host.lanIP()).arg(kPort)));
    EXPECT_TRUE(first.contains(QStringLiteral("Pairing PIN: ") + store.pinValue() + u'\n'));
    const QStringList codes = codesIn(first);
    ASSERT_EQ(codes.size(), 1) << first.toStdString();
    EXPECT_TRUE(first.contains(QChar(0x2588))) << "the QR code is drawn";

    ASSERT_EQ(::write(tty.master, "\n", 1), 1);
    QString all;
    ASSERT_TRUE(waitFor([&] { return codesIn(all = user.text()).size() == 2; }));
    const QStringList both = codesIn(all);
    EXPECT_NE(both.at(0), both.at(1));
    for (const QString& code : both)
        EXPECT_TRUE(store.consumeCode(code).has_value()) << "every printed link pairs";
}

TEST_F(Headless, PipeGetsTheAddressButNoSecrets) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    Reader log(fds[0]);
    auto shown = presenter(fds[0], fds[1]);
    shown->start();
    shown->printPairing(); // asked again: still nothing secret into a pipe
    const QString text = log.text();
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
