#include "app/Headless.h"

#include "actions/Actions.h"
#include "actions/QrText.h"
#include "store/Store.h"

#include <QSocketNotifier>
#include <cerrno>

namespace hb::app {
namespace {

// The drawing uses blocks for light modules: force light-on-dark whatever the terminal theme.
const QString kQrColours = QStringLiteral("\x1b[97;40m");
const QString kResetColours = QStringLiteral("\x1b[0m");
constexpr size_t kInputChunk = 256;

} // namespace

HeadlessPresenter::HeadlessPresenter(store::Store& store, actions::HostIdentity& host,
                                     std::function<quint16()> listeningPort, QObject* parent)
    : QObject(parent), store_(store), host_(host), listeningPort_(std::move(listeningPort)) {}

void HeadlessPresenter::setDescriptors(int input, int output) {
    input_ = input;
    output_ = output;
}

void HeadlessPresenter::start() {
    if (started_)
        return;
    started_ = true;
    printWelcome();
    if (!::isatty(output_) || !::isatty(input_))
        return;
    inputNotifier_ = new QSocketNotifier(input_, QSocketNotifier::Read, this);
    connect(inputNotifier_, &QSocketNotifier::activated, this, &HeadlessPresenter::onInput);
    write(QStringLiteral("Press Enter for a fresh pairing link.\n"));
}

void HeadlessPresenter::printWelcome() {
    write(QStringLiteral("Harbly is listening at %1\n").arg(address()));
    if (!::isatty(output_)) {
        write(QStringLiteral("Run Harbly in a terminal to see the pairing PIN and QR code.\n"));
        return;
    }
    write(QStringLiteral("Pairing PIN: %1\n").arg(store_.pinValue()));
    printPairing();
}

void HeadlessPresenter::printPairing() {
    if (!::isatty(output_))
        return;
    const QString link = QStringLiteral("http://%1:%2/?pair=%3")
                             .arg(host_.lanIP(), QString::number(listeningPort_()), store_.mintCode());
    QString text;
    for (const QString& line : actions::qrTerminalLines(link))
        text += kQrColours + line + kResetColours + u'\n';
    text += QStringLiteral("Pairing link (works once, for 10 minutes): %1\n").arg(link);
    write(text);
}

void HeadlessPresenter::onInput() {
    char buffer[kInputChunk];
    const ssize_t got = ::read(input_, buffer, sizeof buffer);
    if (got < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (got <= 0) { // end of input: nobody is left to press Enter
        inputNotifier_->setEnabled(false);
        return;
    }
    if (QByteArrayView(buffer, got).contains('\n'))
        printPairing();
}

QString HeadlessPresenter::address() const {
    return QStringLiteral("http://%1:%2/").arg(host_.lanIP(), QString::number(listeningPort_()));
}

void HeadlessPresenter::write(const QString& text) const {
    const QByteArray bytes = text.toUtf8();
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t written =
            ::write(output_, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return; // a closed terminal is no reason to stop serving
        done += written;
    }
}

} // namespace hb::app
