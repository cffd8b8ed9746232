#include "ShellTestSupport.h"
#include "app/AppDelegate.h"
#include "support/TestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <gtest/gtest.h>

using hb::app::AppDelegate;

namespace {

TEST(PinDialog, ShowsThePinReadWhenItOpensWithOneOkButton) {
    QString pin = QStringLiteral("048213");
    hb::app::ShellDeps deps;
    deps.pinValue = [&pin] { return pin; };
    AppDelegate shell(deps);

    QString title, text, informative;
    QStringList buttons;
    bool closed = false;
    // The dialog is modal: inspect and close it from a timer while showPIN runs its own loop.
    QTimer probe;
    probe.setInterval(20);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        pin = QStringLiteral("999999"); // changed while open: the dialog keeps what it showed
        QCoreApplication::processEvents();
        title = box->windowTitle();
        text = box->text();
        informative = box->informativeText();
        for (QAbstractButton* button : box->buttons())
            buttons.append(button->text().remove(u'&'));
        probe.stop();
        box->buttons().value(0)->click();
        closed = true;
    });
    probe.start();
    QTimer::singleShot(std::chrono::seconds(20), [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            box->reject();
    });
    // Chosen from the tray menu over D-Bus; the menu call returns while the dialog is still open.
    shell.setupMenuBar();
    EXPECT_TRUE(hb::test::trayClick(QStringLiteral("Show Pairing PIN\u2026")));
    ASSERT_TRUE(hb::test::waitFor([&] { return closed; }, std::chrono::seconds(20)))
        << "the dialog never showed";
    EXPECT_EQ(text, QStringLiteral("Pairing PIN"));
    EXPECT_EQ(informative,
              QStringLiteral("Enter 048213 on your phone, or scan the QR code in the Control Panel."));
    EXPECT_EQ(buttons, QStringList{QStringLiteral("OK")});
    EXPECT_EQ(title, QStringLiteral("Harbly"));
}

} // namespace
