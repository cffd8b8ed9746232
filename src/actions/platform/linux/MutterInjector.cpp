#include "MutterInjector.h"

#include "SystemDBus.h"
#include "WaylandKeymap.h"
#include "core/WriteAll.h"

#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QThread>
#include <QVariantMap>
#include <cerrno>
#include <condition_variable>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace hb::actions {

namespace {

const QString kService = QStringLiteral("org.gnome.Mutter.RemoteDesktop");
const QString kPath = QStringLiteral("/org/gnome/Mutter/RemoteDesktop");
const QString kSessionInterface = QStringLiteral("org.gnome.Mutter.RemoteDesktop.Session");
const QStringList kTextTypes = {QStringLiteral("text/plain;charset=utf-8"), QStringLiteral("text/plain"),
                                QStringLiteral("UTF8_STRING")};

// How long the focused application may take to ask for pasted text after Ctrl+V.
constexpr auto kPasteWait = std::chrono::milliseconds(2000);
// Mutter reads a new clipboard text for itself at once; this long at most.
constexpr auto kOwnCopyWait = std::chrono::milliseconds(250);
// Confirming a clipboard we set, through that same copy.
constexpr auto kConfirmWait = std::chrono::milliseconds(1000);
// Reading the clipboard the user had, per type: an owner that does not answer is given up on.
constexpr int kReadWaitMs = 500;
// Clipboard contents larger than this are not kept for restoring (an image, a file list).
constexpr qsizetype kMaxKeptBytes = 16 * 1024 * 1024;
// Types kept for restoring: mime types and the X11 text targets; not TARGETS, TIMESTAMP, ...
bool keptType(const QString& type) {
    return type.contains(QLatin1Char('/')) || type == QLatin1String("UTF8_STRING") ||
           type == QLatin1String("STRING") || type == QLatin1String("TEXT");
}

/// The text a keysym stands for (the inverse of keysymForCodePoint).
QString textOf(Keysym sym) {
    if (sym == keysym::kReturn)
        return QStringLiteral("\n");
    if (sym == keysym::kTab)
        return QStringLiteral("\t");
    const char32_t codePoint = sym >= keysym::kUnicodeBase ? sym - keysym::kUnicodeBase : sym;
    return sym < 0x100 || sym >= keysym::kUnicodeBase ? QString::fromUcs4(&codePoint, 1) : QString();
}

std::map<QString, QByteArray> textOffer(const QString& text) {
    std::map<QString, QByteArray> offer;
    for (const QString& type : kTextTypes)
        offer.emplace(type, text.toUtf8());
    return offer;
}

} // namespace

/// Answers Mutter's requests for the clipboard we own, and follows who owns it otherwise.
class MutterClipboard : public QObject {
    Q_OBJECT
  public:
    MutterClipboard(QDBusConnection bus, QString session)
        : bus_(std::move(bus)), session_(std::move(session)) {}

    void setOffer(std::map<QString, QByteArray> data) {
        std::lock_guard lock(mutex_);
        offer_ = std::move(data);
    }
    unsigned served() {
        std::lock_guard lock(mutex_);
        return served_;
    }
    bool waitServedBeyond(unsigned count, std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return served_ > count || closed_; }) && !closed_;
    }
    /// What the clipboard holds now: our own offer, or the types another owner offers.
    std::pair<std::map<QString, QByteArray>, QStringList> owner() {
        std::lock_guard lock(mutex_);
        if (sessionIsOwner_)
            return {offer_, {}};
        return {{}, ownerTypes_};
    }
    bool closed() {
        std::lock_guard lock(mutex_);
        return closed_;
    }

  public Q_SLOTS:
    void onTransfer(const QString& mimeType, uint serial) {
        QByteArray data;
        bool have = false;
        {
            std::lock_guard lock(mutex_);
            const auto found = offer_.find(mimeType);
            have = found != offer_.end();
            if (have)
                data = found->second;
        }
        QDBusMessage write = QDBusMessage::createMethodCall(kService, session_, kSessionInterface,
                                                            QStringLiteral("SelectionWrite"));
        write.setArguments({serial});
        const QDBusMessage reply = bus_.call(write, QDBus::Block, kDBusTimeoutMs);
        bool ok = false;
        if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
            const auto fd = reply.arguments().first().value<QDBusUnixFileDescriptor>();
            ok = have && fd.isValid() && writeAll(fd.fileDescriptor(), data);
        }
        QDBusMessage done = QDBusMessage::createMethodCall(kService, session_, kSessionInterface,
                                                           QStringLiteral("SelectionWriteDone"));
        done.setArguments({serial, ok});
        bus_.call(done, QDBus::Block, kDBusTimeoutMs);
        std::lock_guard lock(mutex_);
        served_ += ok ? 1 : 0;
        changed_.notify_all();
    }
    void onOwnerChanged(const QVariantMap& options) {
        // Mutter sends the types as a structure holding the list.
        QStringList types;
        const QVariant value = options.value(QStringLiteral("mime-types"));
        if (value.canConvert<QDBusArgument>()) {
            const auto argument = value.value<QDBusArgument>();
            if (argument.currentType() == QDBusArgument::StructureType) {
                argument.beginStructure();
                argument >> types;
                argument.endStructure();
            } else {
                argument >> types;
            }
        } else {
            types = value.toStringList();
        }
        std::lock_guard lock(mutex_);
        sessionIsOwner_ = options.value(QStringLiteral("session-is-owner")).toBool();
        ownerTypes_ = types;
    }
    void onClosed() {
        std::lock_guard lock(mutex_);
        closed_ = true;
        changed_.notify_all();
    }

  private:
    QDBusConnection bus_;
    QString session_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<QString, QByteArray> offer_;
    QStringList ownerTypes_;
    bool sessionIsOwner_ = false;
    unsigned served_ = 0;
    bool closed_ = false;
};

bool MutterInjector::offered() {
    return busNames(Bus::Session).contains(kService);
}

std::unique_ptr<MutterInjector> MutterInjector::start() {
    std::unique_ptr<MutterInjector> injector(new MutterInjector);
    PrivateBus& bus = injector->bus_;
    if (!bus.connected())
        return nullptr;
    const auto created = bus.call(kService, kPath, QStringLiteral("org.gnome.Mutter.RemoteDesktop"),
                                  QStringLiteral("CreateSession"));
    if (!created || created->arguments().isEmpty())
        return nullptr;
    injector->session_ = created->arguments().first().value<QDBusObjectPath>().path();
    auto* clipboard = new MutterClipboard(bus.connection(), injector->session_);
    clipboard->moveToThread(sessionSignalThread());
    injector->clipboard_ = clipboard;
    const auto subscribe = [&](const char* signal, const char* slot) {
        return bus.connection().connect(kService, injector->session_, kSessionInterface,
                                        QString::fromLatin1(signal), clipboard, slot);
    };
    if (!subscribe("SelectionTransfer", SLOT(onTransfer(QString, uint))) ||
        !subscribe("SelectionOwnerChanged", SLOT(onOwnerChanged(QVariantMap))) ||
        !subscribe("Closed", SLOT(onClosed())))
        return nullptr;
    if (!injector->call(QStringLiteral("Start")) ||
        !injector->call(QStringLiteral("EnableClipboard"), {QVariantMap()}))
        return nullptr;
    // The seat's virtual keyboard attaches on the first event, which is lost: spend it on a
    // key that types nothing, then wait until the seat offers its keyboard.
    injector->key(keysym::kShiftL, true);
    injector->key(keysym::kShiftL, false);
    injector->keymap_ = WaylandKeymap::connect();
    if (!injector->keymap_ || !injector->keymap_->refresh())
        return nullptr;
    return injector;
}

MutterInjector::~MutterInjector() {
    if (!session_.isEmpty())
        call(QStringLiteral("Stop"));
    if (clipboard_)
        clipboard_->deleteLater();
}

bool MutterInjector::alive() const {
    return clipboard_ && !clipboard_->closed() && bus_.connected();
}

bool MutterInjector::call(const QString& method, const QVariantList& arguments) {
    return bus_.call(kService, session_, kSessionInterface, method, arguments).has_value();
}

bool MutterInjector::key(Keysym sym, bool pressed) {
    return call(QStringLiteral("NotifyKeyboardKeysym"), {uint(sym), pressed});
}

bool MutterInjector::keys(const std::vector<std::pair<Keysym, bool>>& events) {
    // All sent before any reply is awaited: one connection keeps them in order, and a chord
    // costs one round trip instead of one per key.
    std::vector<QDBusPendingCall> pending;
    pending.reserve(events.size());
    for (const auto& [sym, pressed] : events) {
        QDBusMessage message = QDBusMessage::createMethodCall(kService, session_, kSessionInterface,
                                                              QStringLiteral("NotifyKeyboardKeysym"));
        message.setArguments({uint(sym), pressed});
        pending.push_back(bus_.connection().asyncCall(message, kDBusTimeoutMs));
    }
    bool ok = true;
    for (QDBusPendingCall& call : pending) {
        call.waitForFinished();
        ok = !call.isError() && ok;
    }
    return ok;
}

bool MutterInjector::chordLocked(const Chord& chord) {
    std::vector<std::pair<Keysym, bool>> events;
    for (const Keysym sym : chord.modifiers)
        events.emplace_back(sym, true);
    events.emplace_back(chord.key, true);
    events.emplace_back(chord.key, false);
    for (auto it = chord.modifiers.rbegin(); it != chord.modifiers.rend(); ++it)
        events.emplace_back(*it, false);
    return keys(events);
}

bool MutterInjector::sendChord(const Chord& chord) {
    std::lock_guard lock(mutex_);
    return chordLocked(chord);
}

bool MutterInjector::typeKeysyms(const std::vector<Keysym>& keysyms) {
    std::lock_guard lock(mutex_);
    if (keysyms.empty() || !keymap_->refresh())
        return false;
    // Keys up to the first symbol the layout lacks, then the rest in one paste, so the order
    // of the text holds (a paste arrives later than keys sent before it).
    std::size_t typed = 0;
    std::vector<std::pair<Keysym, bool>> events;
    for (; typed < keysyms.size() && keymap_->placeOf(keysyms[typed]); ++typed) {
        events.emplace_back(keysyms[typed], true);
        events.emplace_back(keysyms[typed], false);
    }
    const bool ok = keys(events);
    if (typed == keysyms.size())
        return ok;
    QString rest;
    for (std::size_t i = typed; i < keysyms.size(); ++i) {
        const QString text = textOf(keysyms[i]);
        if (text.isEmpty())
            return false;
        rest += text;
    }
    return paste(rest) && ok;
}

bool MutterInjector::offer(const std::map<QString, QByteArray>& data) {
    clipboard_->setOffer(data);
    QStringList types;
    for (const auto& entry : data)
        types.append(entry.first);
    return call(QStringLiteral("SetSelection"), {QVariantMap{{QStringLiteral("mime-types"), types}}});
}

std::optional<QByteArray> MutterInjector::readSelection(const QString& mimeType) {
    const auto reply =
        bus_.call(kService, session_, kSessionInterface, QStringLiteral("SelectionRead"), {mimeType});
    if (!reply || reply->arguments().isEmpty())
        return std::nullopt;
    const auto fd = reply->arguments().first().value<QDBusUnixFileDescriptor>();
    if (!fd.isValid())
        return std::nullopt;
    QByteArray data;
    char buffer[65536];
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kReadWaitMs);
    while (data.size() <= kMaxKeptBytes) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd poller{fd.fileDescriptor(), POLLIN, 0};
        if (left.count() <= 0 || ::poll(&poller, 1, int(left.count())) <= 0)
            return std::nullopt;
        const ssize_t n = ::read(fd.fileDescriptor(), buffer, sizeof buffer);
        if (n == 0)
            return data;
        if (n < 0 && errno != EINTR && errno != EAGAIN)
            return std::nullopt;
        if (n > 0)
            data.append(buffer, n);
    }
    return std::nullopt;
}

std::map<QString, QByteArray> MutterInjector::readClipboard() {
    // Mutter does not let a session read its own selection: then our offer is what it holds.
    auto [kept, types] = clipboard_->owner();
    for (const QString& type : types) {
        if (!keptType(type))
            continue;
        if (const auto data = readSelection(type))
            kept.emplace(type, *data);
    }
    return kept;
}

bool MutterInjector::paste(const QString& text) {
    const auto previous = readClipboard();
    const auto ours = textOffer(text);
    const unsigned offered = clipboard_->served();
    if (!offer(ours))
        return false;
    // Mutter keeps a copy of every new clipboard text, so that it outlives its owner: that
    // read comes first and is not the paste.
    clipboard_->waitServedBeyond(offered, kOwnCopyWait);
    const unsigned before = clipboard_->served();
    const bool sent = chordLocked(Chord{{keysym::kControlL}, 'v'});
    const bool pasted = sent && clipboard_->waitServedBeyond(before, kPasteWait);
    // Mutter has no way to empty the clipboard: an empty one is put back as empty text, so
    // that what was typed does not stay behind in it.
    const unsigned restoring = clipboard_->served();
    offer(previous.empty() ? textOffer(QString()) : previous);
    // Mutter's copy of the restored clipboard must not count as the next paste.
    clipboard_->waitServedBeyond(restoring, kOwnCopyWait);
    return pasted;
}

bool MutterInjector::setClipboard(const QString& text) {
    std::lock_guard lock(mutex_);
    const auto ours = textOffer(text);
    const unsigned before = clipboard_->served();
    if (!offer(ours))
        return false;
    // Mutter cannot read back a session's own selection, but copies every new clipboard text
    // for itself at once: that read, by the compositor, confirms it.
    return clipboard_->waitServedBeyond(before, kConfirmWait);
}

bool MutterInjector::pointerMotion(int dx, int dy) {
    std::lock_guard lock(mutex_);
    return call(QStringLiteral("NotifyPointerMotionRelative"), {double(dx), double(dy)});
}

bool MutterInjector::pointerButton(PointerButton button, bool pressed) {
    // Linux input event codes: BTN_LEFT, BTN_RIGHT, BTN_MIDDLE.
    const int code = button == PointerButton::Right ? 0x111 : button == PointerButton::Middle ? 0x112 : 0x110;
    std::lock_guard lock(mutex_);
    return call(QStringLiteral("NotifyPointerButton"), {code, pressed});
}

bool MutterInjector::pointerScroll(int dx, int dy) {
    // Axis 0 is vertical, 1 horizontal; positive steps scroll down and right.
    std::lock_guard lock(mutex_);
    const QString method = QStringLiteral("NotifyPointerAxisDiscrete");
    return (dy == 0 || call(method, {uint(0), dy})) && (dx == 0 || call(method, {uint(1), dx}));
}

} // namespace hb::actions

#include "MutterInjector.moc"
