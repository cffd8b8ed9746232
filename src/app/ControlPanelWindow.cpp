#include "app/ControlPanelWindow.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QWindow>

#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>

namespace hb::app {

namespace {

bool isWebAddress(const QUrl& url) {
    return url.isValid() && (url.scheme() == u"http" || url.scheme() == u"https") && !url.host().isEmpty();
}

/// The page behind a link that asked for a new window: its first navigation goes to the browser,
/// then it deletes itself without ever loading anything.
class ExternalLinkPage : public QWebEnginePage {
  public:
    ExternalLinkPage(QWebEngineProfile* profile, std::function<bool(const QUrl&)> open, QObject* parent)
        : QWebEnginePage(profile, parent), open_(std::move(open)) {}

  protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType, bool) override {
        if (isWebAddress(url) && open_)
            open_(url);
        deleteLater();
        return false;
    }

  private:
    std::function<bool(const QUrl&)> open_;
};

/// Keeps the embedded browser on our own origin: the old engine it ships gets no security
/// updates, so nothing from elsewhere is ever loaded in it.
class PanelPage : public QWebEnginePage {
  public:
    PanelPage(const QUrl& panel, std::function<bool(const QUrl&)> open, QObject* parent)
        : QWebEnginePage(parent), panel_(panel), open_(std::move(open)) {}

  protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType, bool isMainFrame) override {
        if (isPanelOrigin(url, panel_))
            return true;
        // Only links the user follows in the page itself go to the browser; frames stay blank.
        if (isMainFrame && isWebAddress(url) && open_)
            open_(url);
        return false;
    }

    QWebEnginePage* createWindow(WebWindowType) override {
        return new ExternalLinkPage(profile(), open_, this);
    }

  private:
    QUrl panel_;
    std::function<bool(const QUrl&)> open_;
};

} // namespace

TitleDragView::TitleDragView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_NoSystemBackground);
    setAutoFillBackground(false);
}

void TitleDragView::mousePressEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() != Qt::LeftButton)
        return;
    QWindow* handle = window()->windowHandle();
    // Without a window manager (or one that refuses) the move is done by hand.
    manualDrag_ = !(handle && handle->startSystemMove());
    pressGlobal_ = event->globalPosition().toPoint();
    windowAtPress_ = window()->pos();
}

void TitleDragView::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
    if (manualDrag_ && (event->buttons() & Qt::LeftButton))
        window()->move(windowAtPress_ + event->globalPosition().toPoint() - pressGlobal_);
}

void TitleDragView::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    manualDrag_ = false;
}

ControlPanelWindow::ControlPanelWindow(const QUrl& address, std::function<bool(const QUrl&)> openExternally,
                                       QWidget* parent)
    : QWidget(parent, Qt::Window), address_(address) {
    setWindowTitle(QStringLiteral("Harbly"));
    resize(kPanelWidth, kPanelHeight);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    view_ = new QWebEngineView(this);
    view_->setPage(new PanelPage(address, std::move(openExternally), view_));
    view_->setGeometry(rect());
    view_->load(address);

    dragStrip_ = new TitleDragView(this);
    dragStrip_->setGeometry(0, 0, width(), kDragStripHeight);
    dragStrip_->raise();
}

void ControlPanelWindow::bringToFront() {
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
}

void ControlPanelWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    view_->setGeometry(rect());
    dragStrip_->setGeometry(0, 0, width(), kDragStripHeight);
}

} // namespace hb::app

/// The module's entry point, looked up by name when the Control Panel first opens.
extern "C" Q_DECL_EXPORT QWidget* hb_create_control_panel(const QUrl& address,
                                                          std::function<bool(const QUrl&)> openExternally) {
    return new hb::app::ControlPanelWindow(address, std::move(openExternally));
}
