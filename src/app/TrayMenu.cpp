#include "app/TrayMenu.h"

#include "app/TrayIcon.h"
#include "core/Paths.h"

#include <QAction>
#include <QCoreApplication>
#include <QCursor>
#include <QKeySequence>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>

namespace hb::app {
namespace {

/// "&" would turn into a mnemonic marker in a menu title.
QString menuText(QString text) {
    return text.replace(u'&', QStringLiteral("&&"));
}

} // namespace

QString notesLine(const QString& notes, int maxLength) {
    const QString line = notes.trimmed().section(u'\n', 0, 0).trimmed();
    return line.size() <= maxLength ? line : line.left(maxLength - 1).trimmed() + QChar(0x2026);
}

TrayMenu::TrayMenu(Choices choices, std::function<bool()> hostPresent, QObject* parent)
    : QObject(parent), choices_(std::move(choices)), hostPresent_(std::move(hostPresent)) {}

TrayMenu::~TrayMenu() {
    delete statusItem_;
    delete menu_;
}

void TrayMenu::setup() {
    if (menu_)
        return;
    icon_ = chooseTrayIcon(paths::resourceDir()).icon;
    menu_ = new QMenu();
    updateItem_ =
        menu_->addAction(QStringLiteral("Update available\u2026"), this, [this] { choices_.openUpdate(); });
    updateItem_->setVisible(false);
    // Tray menus have no tool tips: the notes get a line of their own.
    notesItem_ = menu_->addAction(QString());
    notesItem_->setEnabled(false);
    notesItem_->setVisible(false);
    updateSep_ = menu_->addSeparator();
    updateSep_->setVisible(false);
    QAction* open =
        menu_->addAction(QStringLiteral("Open Control Panel"), this, [this] { choices_.openPanel(); });
    open->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    // Queued: the modal dialog must not run inside the menu's (or the D-Bus menu call's) handler.
    QAction* pin = menu_->addAction(QStringLiteral("Show Pairing PIN\u2026"));
    connect(
        pin, &QAction::triggered, this, [this] { choices_.showPin(); }, Qt::QueuedConnection);
    menu_->addSeparator();
    QAction* quit = menu_->addAction(QStringLiteral("Quit Harbly"), qApp, &QCoreApplication::quit);
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    for (QAction* action : menu_->actions())
        action->setShortcutVisibleInContextMenu(true);

    if (hostPresent_())
        showItem();
    else
        watchForHost();
}

void TrayMenu::watchForHost() {
    hostWatch_ = new QTimer(this);
    hostWatch_->setInterval(kTrayHostPoll);
    connect(hostWatch_, &QTimer::timeout, this, [this] {
        if (!hostPresent_())
            return;
        hostWatch_->stop();
        showItem();
    });
    hostWatch_->start();
}

void TrayMenu::showItem() {
    statusItem_ = new QSystemTrayIcon(icon_, this);
    statusItem_->setContextMenu(menu_);
    if (!toolTip_.isEmpty())
        statusItem_->setToolTip(toolTip_);
    // A left click on the tray icon opens the same menu where the desktop does not do so itself.
    connect(statusItem_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            menu_->popup(QCursor::pos());
    });
    statusItem_->show();
}

void TrayMenu::showUpdate(const update::UpdateInfo& info) {
    toolTip_ = QStringLiteral("Harbly ") + info.version + QStringLiteral(" is available");
    if (statusItem_)
        statusItem_->setToolTip(toolTip_);
    if (!updateItem_)
        return;
    updateItem_->setText(QStringLiteral("Update available \u2014 ") + menuText(info.version) +
                         QStringLiteral(" \u2192"));
    updateItem_->setVisible(true);
    const QString notes = notesLine(info.notes);
    notesItem_->setText(menuText(notes));
    notesItem_->setVisible(!notes.isEmpty());
    updateSep_->setVisible(true);
}

} // namespace hb::app
