// The pointer and named keys on the real X server: motion read back with xdotool, clicks,
// scrolling and keys with modifiers received by a window of this process.
#include "DesktopFakes.h"
#include "actions/platform/linux/LinuxInput.h"
#include "support/TestSupport.h"

#include <QKeyEvent>
#include <QProcess>
#include <QRegularExpression>
#include <QWidget>
#include <gtest/gtest.h>

using namespace hb::actions;
using namespace hb::test;

namespace {

/// Records what reaches it: "press 1", "release 1", "wheel -", "key <Qt key> <modifiers>".
class Recorder : public QWidget {
  public:
    QStringList seen;

  protected:
    void mousePressEvent(QMouseEvent* event) override {
        seen << QStringLiteral("press %1").arg(int(event->button()));
    }
    void mouseReleaseEvent(QMouseEvent* event) override {
        seen << QStringLiteral("release %1").arg(int(event->button()));
    }
    void wheelEvent(QWheelEvent* event) override {
        seen << (event->angleDelta().y() < 0 ? QStringLiteral("wheel down") : QStringLiteral("wheel other"));
    }
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() >= Qt::Key_Shift && event->key() <= Qt::Key_Super_R)
            return; // the modifiers' own presses
        seen << QStringLiteral("key %1 %2").arg(event->key(), 0, 16).arg(int(event->modifiers()), 0, 16);
    }
};

QPoint pointerAt() {
    QProcess xdotool;
    xdotool.start(QStringLiteral("xdotool"), {QStringLiteral("getmouselocation")});
    xdotool.waitForFinished();
    const auto match =
        QRegularExpression(QStringLiteral("x:(\\d+) y:(\\d+)")).match(QString::fromUtf8(xdotool.readAll()));
    return match.hasMatch() ? QPoint(match.captured(1).toInt(), match.captured(2).toInt()) : QPoint(-1, -1);
}

// Catches motion that is absolute, scaled or swapped, clicks of the wrong button, scrolling
// the wrong way, and modifiers not held around the key.
TEST(PointerKeys, ReachAWindowOnTheRealXServer) {
    if (!inTestDesktop())
        GTEST_SKIP() << "needs the private test desktop (tests/desktop.sh)";
    LinuxInput input;
    Recorder window;
    window.setGeometry(100, 100, 400, 300);
    window.show();
    window.activateWindow();
    window.setFocus();
    ASSERT_TRUE(waitFor([&] { return window.isActiveWindow(); }));

    ASSERT_EQ(QProcess::execute(QStringLiteral("xdotool"),
                                {QStringLiteral("mousemove"), QStringLiteral("300"), QStringLiteral("250")}),
              0);
    ASSERT_TRUE(input.pointer({PointerCommand::Kind::Move, 17, -9}));
    EXPECT_EQ(pointerAt(), QPoint(317, 241));
    ASSERT_TRUE(input.pointer({PointerCommand::Kind::Move, -30, 40}));
    EXPECT_EQ(pointerAt(), QPoint(287, 281));

    const auto click = [](PointerButton which) {
        return PointerCommand{PointerCommand::Kind::Button, 0, 0, which, ButtonAction::Click};
    };
    ASSERT_TRUE(input.pointer(click(PointerButton::Left)));
    ASSERT_TRUE(input.pointer(click(PointerButton::Right)));
    ASSERT_TRUE(input.pointer({PointerCommand::Kind::Scroll, 0, 2}));
    ASSERT_TRUE(input.pressKey(KeyCommand{0xff50, {0xffe3, 0xffe1}})); // ctrl+shift+Home
    ASSERT_TRUE(input.pressKey(KeyCommand{0xff1b, {}}));               // Escape
    const QString expected = QStringLiteral(
        "press 1,release 1,press 2,release 2,wheel down,wheel down,key 1000010 6000000,key 1000000 0");
    waitFor([&] { return window.seen.join(u',') == expected; });
    EXPECT_EQ(window.seen.join(u',').toStdString(), expected.toStdString());
}

} // namespace
