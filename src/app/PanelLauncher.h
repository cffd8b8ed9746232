#pragma once
#include <QObject>
#include <QPointer>
#include <QUrl>
#include <QWidget>
#include <functional>

class QIcon;

namespace hb::app {

/// Opens the Control Panel: in our own window when the panel module can run, else in the
/// default browser. The window is created once and then only brought to the front.
class PanelLauncher : public QObject {
    Q_OBJECT
  public:
    PanelLauncher(std::function<quint16()> port, std::function<bool(const QUrl&)> openUrl,
                  QObject* parent = nullptr);
    ~PanelLauncher() override;

    void show(const QIcon& icon);
    /// The Control Panel window, once opened in our own window.
    QWidget* window() const { return window_; }

    /// The Control Panel's address for `port`.
    static QUrl panelUrl(quint16 port);

  private:
    std::function<quint16()> port_;
    std::function<bool(const QUrl&)> openUrl_;
    QPointer<QWidget> window_;
};

} // namespace hb::app
