#pragma once
#include <QObject>
#include <QString>
#include <functional>

namespace hb::app {

/// One agent per user session and support folder. The first start owns a name on the session
/// bus; a later start asks it to show its Control Panel (or, headless, where it listens) and
/// ends. Without a session bus the running agent is found through the local API instead.
class SingleInstance : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "io.github.harbly.Agent1")
  public:
    /// `supportDir` tells agents apart; `port` is the configured port (the fallback's target).
    SingleInstance(const QString& supportDir, quint16 port, QObject* parent = nullptr);

    /// True when this process is the session's agent. Otherwise the running one was told
    /// (`headless` asks where it listens, else it opens its Control Panel) and a line saying so
    /// was printed: the caller ends with status 0.
    bool claim(bool headless);

    /// What the running agent does when a later start asks for the Control Panel.
    void setActivate(std::function<void()> activate) { activate_ = std::move(activate); }
    /// The port the running agent listens on.
    void setListeningPort(std::function<quint16()> port) { listeningPort_ = std::move(port); }

    /// The bus name of the agent for `supportDir`.
    static QString busName(const QString& supportDir);

  public Q_SLOTS:
    Q_SCRIPTABLE void Activate();
    Q_SCRIPTABLE uint Port();

  private:
    bool handOverOnBus(bool headless);
    bool handOverThroughApi(bool headless);

    QString supportDir_;
    quint16 port_;
    std::function<void()> activate_;
    std::function<quint16()> listeningPort_;
};

} // namespace hb::app
