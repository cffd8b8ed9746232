// The headless presentation printing to a real pseudo-terminal and to a pipe.
#include "app/Headless.h"
#include "actions/platform/linux/HostIdentityLinux.h"
#include "store/Store.h"
#include "support/TestSupport.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace hb;
using hb::test::waitFor;

namespace {

/// Everything written to the far end of a terminal or pipe so far, read without blocking.
QString drain(int fd, QByteArray& received) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    char buffer[4096];
    for (ssize_t got = 0; (got = ::read(fd, buffer, sizeof buffer)) > 0;)
        received.append(buffer, got);
    return QString::fromUtf8(received).remove(u'\r'); // the terminal turns \n into \r\n
}

} // namespace

// Catches: the PIN, pairing link or QR code missing from a terminal or leaked into a pipe (a log
// file), a link that does not pair, and Enter not giving a fresh link.
TEST(Headless, TerminalShowsPinLinkAndQrAndAPipeOnlyTheAddress) {
    QTemporaryDir dir;
    store::Store store(store::Store::Options{dir.path(), dir.path(), {}});
    actions::LinuxHostIdentity host;
    const QString address = QStringLiteral("http://%1:8799/").arg(host.lanIP());
    const QRegularExpression link(QRegularExpression::escape(address) +
                                  QStringLiteral("\\?pair=([0-9a-f]{16})\\n"));
    const auto codesIn = [&link](const QString& text) {
        QStringList codes;
        for (const QRegularExpressionMatch& match : link.globalMatch(text))
            codes.append(match.captured(1));
        return codes;
    };
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_TRUE(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
    const int tty = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
    int pipe[2];
    ASSERT_TRUE(tty >= 0 && ::pipe(pipe) == 0);
    QByteArray onTty, inPipe;
    {
        app::HeadlessPresenter terminal(store, host, [] { return quint16(8799); });
        terminal.setDescriptors(tty, tty);
        terminal.start();
        const QString first = drain(master, onTty);
        EXPECT_TRUE(first.contains(address + u'\n'));
        EXPECT_TRUE(first.contains(QStringLiteral("Pairing PIN: ") + store.pinValue() + u'\n'));
        ASSERT_EQ(codesIn(first).size(), 1) << first.toStdString();
        EXPECT_TRUE(first.contains(QChar(0x2588))) << "the QR code is drawn";
        ASSERT_EQ(::write(master, "\n", 1), 1);
        QStringList both;
        ASSERT_TRUE(waitFor([&] { return (both = codesIn(drain(master, onTty))).size() == 2; }));
        EXPECT_NE(both.at(0), both.at(1));
        for (const QString& code : both)
            EXPECT_TRUE(store.consumeCode(code).has_value()) << "every printed link pairs";

        app::HeadlessPresenter piped(store, host, [] { return quint16(8799); });
        piped.setDescriptors(pipe[0], pipe[1]);
        piped.start();
        piped.printPairing(); // asked again: still nothing secret into a pipe
        const QString text = drain(pipe[0], inPipe);
        EXPECT_TRUE(text.startsWith(QStringLiteral("Harbly is listening at ") + address + u'\n'));
        EXPECT_FALSE(text.contains(store.pinValue()) || text.contains(QStringLiteral("pair=")) ||
                     text.contains(QChar(0x2588)));
    }
    for (const int fd : {tty, master, pipe[0], pipe[1]})
        ::close(fd);
}
