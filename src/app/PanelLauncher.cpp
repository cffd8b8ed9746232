#include "app/PanelLauncher.h"

#include "app/ControlPanel.h"

#include <QIcon>
#include <QWidget>
#include <unistd.h>

namespace hb::app {

PanelLauncher::PanelLauncher(std::function<quint16()> port, std::function<bool(const QUrl&)> openUrl,
                             QObject* parent)
    : QObject(parent), port_(std::move(port)), openUrl_(std::move(openUrl)) {}

PanelLauncher::~PanelLauncher() {
    delete window_;
}

QUrl PanelLauncher::panelUrl(quint16 port) {
    return QUrl(QStringLiteral("http://127.0.0.1:%1/admin").arg(port));
}

void PanelLauncher::show(const QIcon& icon) {
    const QUrl address = panelUrl(port_ ? port_() : 0);
    if (!window_ && embeddedPanelAvailable(::geteuid() == 0)) {
        window_ = createControlPanel(address, openUrl_);
        if (window_)
            window_->setWindowIcon(QIcon::fromTheme(QStringLiteral("harbly"), icon));
    }
    if (!window_) {
        openUrl_(address);
        return;
    }
    QMetaObject::invokeMethod(window_, "bringToFront");
}

} // namespace hb::app
