#pragma once
#include <QObject>
#include <QString>
#include <functional>
#include <unistd.h>

class QSocketNotifier;

namespace hb::store {
class Store;
}
namespace hb::actions {
class HostIdentity;
}

namespace hb::app {

/// Without a display: prints the address, the PIN and a QR code of a fresh pairing link in
/// the terminal. The PIN and links are printed only when the output is a terminal, never
/// into a log or a pipe. When the input is a terminal, Enter prints a fresh link.
class HeadlessPresenter : public QObject {
    Q_OBJECT
  public:
    HeadlessPresenter(store::Store& store, actions::HostIdentity& host,
                      std::function<quint16()> listeningPort, QObject* parent = nullptr);

    /// Where to read Enter from and print to (standard input and output by default).
    void setDescriptors(int input, int output);

    /// Prints the welcome once and starts listening for Enter.
    void start();
    /// The address, and when the output is a terminal the PIN and a fresh pairing link.
    void printWelcome();
    /// Prints a fresh pairing link and its QR code (only to a terminal).
    void printPairing();

  private:
    void onInput();
    void write(const QString& text) const;
    QString address() const;

    store::Store& store_;
    actions::HostIdentity& host_;
    std::function<quint16()> listeningPort_;
    int input_ = STDIN_FILENO;
    int output_ = STDOUT_FILENO;
    QSocketNotifier* inputNotifier_ = nullptr;
    bool started_ = false;
};

} // namespace hb::app
