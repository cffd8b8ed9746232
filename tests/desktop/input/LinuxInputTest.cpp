// Synthetic input against the real Xvfb of the test desktop: what a focused Qt widget receives.
#include "actions/platform/linux/LinuxInput.h"
#include "DesktopFakes.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QJsonArray>
#include <QKeyEvent>
#include <QLineEdit>
#include <QProcess>
#include <QThread>
#include <atomic>
#include <gtest/gtest.h>

using hb::actions::LinuxInput;
using namespace hb::test;

namespace {

/// Records the key presses it receives while focused.
class KeyRecorder : public QWidget {
  public:
    struct Press {
        int key;
        Qt::KeyboardModifiers modifiers;
    };
    QList<Press> presses;

  protected:
    void keyPressEvent(QKeyEvent* event) override { presses.append({event->key(), event->modifiers()}); }
};

bool isModifierKey(int key) {
    return key == Qt::Key_Control || key == Qt::Key_Alt || key == Qt::Key_Meta || key == Qt::Key_Shift ||
           key == Qt::Key_Meta;
}

/// Shows `widget` and waits until it has the keyboard focus.
bool focus(QWidget& widget) {
    widget.setFocusPolicy(Qt::StrongFocus);
    widget.resize(300, 60);
    widget.show();
    widget.activateWindow();
    widget.setFocus();
    return waitFor([&widget] { return widget.isActiveWindow() && widget.hasFocus(); });
}

class LinuxInputTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!inTestDesktop())
            GTEST_SKIP() << "needs the private test desktop (tests/desktop.sh)";
        qunsetenv("XDG_CURRENT_DESKTOP");
    }
    void TearDown() override { qunsetenv("XDG_CURRENT_DESKTOP"); }
    LinuxInput input;
};

TEST_F(LinuxInputTest, TypesUnicodeIncludingAstralCharactersIntoTheFocusedLineEdit) {
    struct Row {
        const char* name;
        QString text;
        QString expected;
    };
    const Row rows[] = {
        {"latin, euro and emoji", QStringLiteral("Hé €😀!"), QStringLiteral("Hé €😀!")},
        {"astral outside emoji", QStringLiteral("𝄞 𐍈"), QStringLiteral("𝄞 𐍈")},
        {"keys of the layout, shifted and not", QStringLiteral("Hello, World! #42 ~_"),
         QStringLiteral("Hello, World! #42 ~_")},
        {"control characters are skipped", QStringLiteral("a\u0007b"), QStringLiteral("ab")},
    };
    ASSERT_TRUE(input.accessibilityTrusted());
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        QLineEdit edit;
        ASSERT_TRUE(focus(edit));
        EXPECT_TRUE(runOffGuiThread([&] { return input.typeText(row.text); }));
        EXPECT_TRUE(waitFor([&] { return edit.text() == row.expected; }, std::chrono::seconds(3)))
            << edit.text().toStdString();
    }
}

TEST_F(LinuxInputTest, TypesMoreDistinctCharactersThanThereAreSpareKeycodes) {
    QString text;
    for (char32_t c = U'\u0391'; c <= U'\u03A9'; ++c) { // Greek capitals (U+03A2 is unassigned)
        if (c != U'\u03A2')
            text += QString::fromUcs4(&c, 1);
    }
    for (char32_t c = U'\u4E00'; c < U'\u4E00' + 20; ++c) // 20 distinct ideographs
        text += QString::fromUcs4(&c, 1);
    QLineEdit edit;
    ASSERT_TRUE(focus(edit));
    EXPECT_TRUE(runOffGuiThread([&] { return input.typeText(text); }));
    EXPECT_TRUE(waitFor([&] { return edit.text() == text; }, std::chrono::seconds(10)))
        << edit.text().toStdString();
}

TEST_F(LinuxInputTest, TextsTypedFromTwoThreadsAtOnceDoNotInterleave) {
    const QString first = QStringLiteral("é€ab😀");
    const QString second = QStringLiteral("øßxy🙈");
    QLineEdit edit;
    ASSERT_TRUE(focus(edit));
    std::atomic<int> typed{0};
    QThread* other = QThread::create([&] { typed += input.typeText(second) ? 1 : 0; });
    other->start();
    typed += runOffGuiThread([&] { return input.typeText(first); }) ? 1 : 0;
    ASSERT_TRUE(waitFor([&] { return other->isFinished(); }));
    delete other;
    EXPECT_EQ(typed, 2);
    EXPECT_TRUE(waitFor([&] { return edit.text() == first + second || edit.text() == second + first; }))
        << edit.text().toStdString();
}

TEST_F(LinuxInputTest, BorrowedKeycodesAreEmptiedAgainAfterTyping) {
    // Earlier typing may still hold keycodes; they are all given back at once.
    ASSERT_TRUE(waitFor([] { return emptyKeycodes() > 2; }));
    const int emptyBefore = emptyKeycodes();
    QLineEdit edit;
    ASSERT_TRUE(focus(edit));
    ASSERT_TRUE(runOffGuiThread([&] { return input.typeText(QStringLiteral("ø😀ø")); }));
    EXPECT_TRUE(waitFor([&] { return emptyKeycodes() == emptyBefore; }, std::chrono::seconds(5)));
    EXPECT_EQ(edit.text(), QStringLiteral("ø😀ø"));
}

TEST_F(LinuxInputTest, GesturesSendTheDesktopsChordToTheFocusedWindow) {
    struct Row {
        const char* desktop;
        const char* gesture;
        int key;
        Qt::KeyboardModifiers modifiers;
    };
    const Row rows[] = {
        {"", "minimize", Qt::Key_F9, Qt::AltModifier},
        {"", "mission_control", Qt::Key_Up, Qt::ControlModifier | Qt::AltModifier},
        {"", "app_windows", Qt::Key_Down, Qt::ControlModifier | Qt::AltModifier},
        {"", "show_desktop", Qt::Key_D, Qt::MetaModifier},
        {"", "spotlight", Qt::Key_F2, Qt::AltModifier},
        {"XFCE", "launchpad", Qt::Key_Meta, Qt::NoModifier},
        // No GNOME Shell on the bus: the app grid's D-Bus call fails and its chord stands in.
        {"ubuntu:GNOME", "launchpad", Qt::Key_A, Qt::MetaModifier},
        {"KDE", "minimize", Qt::Key_PageDown, Qt::MetaModifier},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.desktop) + " " + row.gesture);
        qputenv("XDG_CURRENT_DESKTOP", row.desktop);
        KeyRecorder recorder;
        ASSERT_TRUE(focus(recorder));
        EXPECT_TRUE(runOffGuiThread([&] { return input.runGesture(QString::fromLatin1(row.gesture)); }));
        const auto key = [&] {
            for (const auto& press : recorder.presses) {
                if (!isModifierKey(press.key) || row.key == Qt::Key_Meta)
                    return press;
            }
            return KeyRecorder::Press{0, {}};
        };
        ASSERT_TRUE(waitFor([&] { return key().key != 0; }));
        EXPECT_EQ(key().key, row.key);
        if (row.key != Qt::Key_Meta) {
            EXPECT_EQ(key().modifiers, row.modifiers);
        }
    }
}

TEST_F(LinuxInputTest, KdeGesturesInvokeKWinShortcutsInsteadOfPressingKeys) {
    qputenv("XDG_CURRENT_DESKTOP", "KDE");
    FakeService kwin(QStringLiteral("fake_kglobalaccel.py"));
    ASSERT_TRUE(kwin.ready());
    KeyRecorder recorder;
    ASSERT_TRUE(focus(recorder));
    for (const char* gesture : {"mission_control", "app_windows", "show_desktop"})
        EXPECT_TRUE(runOffGuiThread([&] { return input.runGesture(QString::fromLatin1(gesture)); }))
            << gesture;
    QStringList invoked;
    for (const QJsonObject& call : kwin.calls())
        invoked.append(call.value(QStringLiteral("args")).toArray().at(0).toString());
    EXPECT_EQ(invoked, (QStringList{QStringLiteral("Overview"), QStringLiteral("ExposeClass"),
                                    QStringLiteral("Show Desktop")}));
    QCoreApplication::processEvents();
    EXPECT_TRUE(recorder.presses.isEmpty());
}

TEST_F(LinuxInputTest, RefusesNamesAndTextsItCannotHandle) {
    for (const char* name : {"Spotlight", "spotlight ", "", "hide_others"})
        EXPECT_FALSE(input.runGesture(QString::fromLatin1(name))) << name;
    QLineEdit edit;
    ASSERT_TRUE(focus(edit));
    EXPECT_FALSE(input.typeText(QString()));
    EXPECT_FALSE(input.typeText(QStringLiteral("\u0001\u0002"))) << "nothing typeable";
    EXPECT_FALSE(input.typeText(QString(10001, QLatin1Char('a')))) << "would hold the keyboard for minutes";
    QCoreApplication::processEvents();
    EXPECT_TRUE(edit.text().isEmpty());
}

TEST_F(LinuxInputTest, ClipboardIsReadableByOtherClients) {
    struct Row {
        const char* name;
        bool fromWorker;
        QString text;
    };
    const Row rows[] = {
        {"from a request thread", true, QStringLiteral("Grüße 😀 from a worker")},
        {"from the GUI thread", false, QStringLiteral("line one\nline two")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const auto set = [&] { return input.setClipboard(row.text); };
        EXPECT_TRUE(row.fromWorker ? runOffGuiThread(set) : set());
        // xclip asks this process for the selection, so the event loop must keep running.
        QProcess xclip;
        xclip.start(QStringLiteral("/usr/bin/xclip"),
                    {QStringLiteral("-o"), QStringLiteral("-selection"), QStringLiteral("clipboard")});
        ASSERT_TRUE(waitFor([&] { return xclip.state() == QProcess::NotRunning; }));
        EXPECT_EQ(QString::fromUtf8(xclip.readAllStandardOutput()), row.text);
    }
}

/// Without XTEST: nothing is sent, and the user is told how to allow input.
TEST_F(LinuxInputTest, WithoutXTestEveryInjectionFailsAndNotifiesTheUser) {
    XServerWithoutXTest server;
    ASSERT_FALSE(server.display().isEmpty());
    FakeService notifications(QStringLiteral("fake_notifications.py"));
    ASSERT_TRUE(notifications.ready());
    LinuxInput blocked(server.display());

    EXPECT_FALSE(blocked.accessibilityTrusted());
    EXPECT_FALSE(blocked.runGesture(QStringLiteral("unknown_gesture")));
    EXPECT_FALSE(blocked.typeText(QString()));
    EXPECT_TRUE(notifications.members().isEmpty()) << "no prompt for unknown names or empty text";

    EXPECT_FALSE(blocked.runGesture(QStringLiteral("spotlight")));
    EXPECT_FALSE(blocked.typeText(QStringLiteral("x")));
    const QList<QJsonObject> calls = notifications.calls();
    ASSERT_EQ(calls.size(), 2);
    for (const QJsonObject& call : calls) {
        EXPECT_EQ(call.value(QStringLiteral("member")).toString(), QStringLiteral("Notify"));
        const QString body = call.value(QStringLiteral("args")).toArray().at(4).toString();
        EXPECT_TRUE(body.contains(QStringLiteral("XTEST"))) << body.toStdString();
    }
    // The second prompt replaces the first rather than piling up.
    EXPECT_EQ(calls[1].value(QStringLiteral("args")).toArray().at(1).toInt(), 1);
}

} // namespace
