#pragma once
// The panel module's window (built into libharbly-panel.so with Qt WebEngine).
#include "app/ControlPanel.h"

#include <QPoint>
#include <QUrl>
#include <QWidget>
#include <functional>

class QWebEngineView;

namespace hb::app {

/// Height of the transparent drag strip along the top of the Control Panel.
inline constexpr int kDragStripHeight = 52;
inline constexpr int kPanelWidth = 980;
inline constexpr int kPanelHeight = 740;

/// A transparent strip that moves its window when dragged; clicks never reach what lies below.
class TitleDragView : public QWidget {
    Q_OBJECT
  public:
    explicit TitleDragView(QWidget* parent = nullptr);

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    bool manualDrag_ = false;
    QPoint pressGlobal_;
    QPoint windowAtPress_;
};

/// The Control Panel: the admin page from our own server filling a 980 × 740 window, with the
/// drag strip in front of its top 52 pixels. Navigation leaves our origin only through the
/// default browser.
class ControlPanelWindow : public QWidget {
    Q_OBJECT
  public:
    /// `openExternally` receives every http(s) link that leaves `address`'s origin.
    ControlPanelWindow(const QUrl& address, std::function<bool(const QUrl&)> openExternally,
                       QWidget* parent = nullptr);

    /// Shows the window, de-minimised and raised, and asks for the focus.
    Q_INVOKABLE void bringToFront();

    QUrl address() const { return address_; }
    QWebEngineView* view() const { return view_; }
    TitleDragView* dragStrip() const { return dragStrip_; }

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    QUrl address_;
    QWebEngineView* view_ = nullptr;
    TitleDragView* dragStrip_ = nullptr;
};

} // namespace hb::app
