#include "actions/platform/fake/FakePlatform.h"

#include "actions/Gestures.h"

#include <QMutexLocker>
#include <algorithm>

namespace hb::actions {

FakePlatform::FakePlatform() = default;

void FakePlatform::record(const QString& call) {
    QMutexLocker lock(&mutex_);
    calls_.append(call);
}

QStringList FakePlatform::calls() const {
    QMutexLocker lock(&mutex_);
    return calls_;
}

void FakePlatform::clearCalls() {
    QMutexLocker lock(&mutex_);
    calls_.clear();
}

QStringList FakePlatform::listApps() {
    record(QStringLiteral("listApps"));
    QMutexLocker lock(&mutex_);
    QStringList sorted = apps;
    std::sort(sorted.begin(), sorted.end());
    return sorted;
}

bool FakePlatform::launchApp(const QString& name) {
    record(QStringLiteral("launchApp:") + name);
    QMutexLocker lock(&mutex_);
    return apps.contains(name);
}

std::optional<QByteArray> FakePlatform::iconPNG(const QString& name) {
    record(QStringLiteral("iconPNG:") + name);
    QMutexLocker lock(&mutex_);
    if (!icons.contains(name))
        return std::nullopt;
    return icons.value(name);
}

bool FakePlatform::openURL(const QString& address) {
    record(QStringLiteral("openURL:") + address);
    return isWebAddress(address);
}

QStringList FakePlatform::listShortcuts() {
    record(QStringLiteral("listShortcuts"));
    QMutexLocker lock(&mutex_);
    return shortcuts;
}

bool FakePlatform::runShortcut(const QString& name) {
    record(QStringLiteral("runShortcut:") + name);
    return true;
}

bool FakePlatform::accessibilityTrusted() {
    return trusted;
}

void FakePlatform::promptAccessibility() {
    record(QStringLiteral("promptAccessibility"));
}

bool FakePlatform::runGesture(const QString& name) {
    record(QStringLiteral("runGesture:") + name);
    const Gesture* gesture = findGesture(name);
    if (!gesture)
        return false;
    if (gesture->openApp)
        return true;
    if (!trusted) {
        promptAccessibility();
        return false;
    }
    return actionsSucceed;
}

bool FakePlatform::typeText(const QString& text) {
    record(QStringLiteral("typeText:") + text);
    if (text.isEmpty())
        return false;
    if (!trusted) {
        promptAccessibility();
        return false;
    }
    return actionsSucceed;
}

bool FakePlatform::setClipboard(const QString& text) {
    record(QStringLiteral("setClipboard:") + text);
    return actionsSucceed;
}

bool FakePlatform::mediaAction(const QString& name) {
    record(QStringLiteral("mediaAction:") + name);
    static const QStringList known{QStringLiteral("play"), QStringLiteral("playpause"),
                                   QStringLiteral("next"), QStringLiteral("prev"),
                                   QStringLiteral("previous")};
    if (!known.contains(name))
        return false;
    if (!trusted) {
        promptAccessibility();
        return false;
    }
    return actionsSucceed;
}

bool FakePlatform::setVolume(int level) {
    record(QStringLiteral("setVolume:") + QString::number(level));
    QMutexLocker lock(&mutex_);
    volume = std::clamp(level, 0, 100);
    return actionsSucceed;
}

int FakePlatform::getVolume() {
    record(QStringLiteral("getVolume"));
    return volume;
}

bool FakePlatform::setMuted(bool value) {
    record(QStringLiteral("setMuted:") + (value ? QStringLiteral("true") : QStringLiteral("false")));
    QMutexLocker lock(&mutex_);
    muted = value;
    return actionsSucceed;
}

bool FakePlatform::isMuted() {
    record(QStringLiteral("isMuted"));
    return muted;
}

bool FakePlatform::systemAction(const QString& name) {
    record(QStringLiteral("systemAction:") + name);
    if (name != QStringLiteral("sleep") && name != QStringLiteral("screensaver"))
        return false;
    return actionsSucceed;
}

QString FakePlatform::lanIP() {
    return lan;
}

QString FakePlatform::computerName() {
    return computer;
}

QString FakePlatform::hostName() {
    return host;
}

void FakePlatform::setIcon(const QString& name, const QByteArray& png) {
    QMutexLocker lock(&mutex_);
    icons.insert(name, png);
}

void FakePlatform::setShortcuts(const QStringList& names) {
    QMutexLocker lock(&mutex_);
    shortcuts = names;
}

/// "pointer:<kind> <dx>,<dy>" or "pointer:button <button> <action>" (as enum numbers).
bool FakePlatform::pointer(const PointerCommand& command) {
    if (command.kind == PointerCommand::Kind::Button)
        record(QStringLiteral("pointer:button %1 %2").arg(int(command.button)).arg(int(command.action)));
    else
        record(QStringLiteral("pointer:%1 %2,%3")
                   .arg(command.kind == PointerCommand::Kind::Move ? QStringLiteral("move")
                                                                   : QStringLiteral("scroll"))
                   .arg(command.dx)
                   .arg(command.dy));
    return accessibilityTrusted();
}

bool FakePlatform::pressKey(const KeyCommand& command) {
    QStringList parts;
    for (const auto modifier : command.modifiers)
        parts.append(QString::number(modifier, 16));
    parts.append(QString::number(command.keysym, 16));
    record(QStringLiteral("pressKey:") + parts.join(QLatin1Char('+')));
    return accessibilityTrusted();
}

} // namespace hb::actions
