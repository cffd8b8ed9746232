#include "server/Server.h"

#include "core/HandOff.h"
#include "core/Log.h"
#include "server/IoWorker.h"

#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QThread>
#include <QTimer>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace hb::server {

namespace {

constexpr int kListenBacklog = 1024;
/// Pauses after a failed accept (out of descriptors, say): the first, and the longest it grows to.
constexpr std::chrono::milliseconds kFirstAcceptPause{50};
constexpr std::chrono::milliseconds kLongestAcceptPause{1000};
constexpr std::chrono::minutes kQuietBetweenWarnings{1};

/// Accepts connections for the I/O thread it lives on. Every I/O thread listens on the same
/// socket (a duplicate descriptor), so a connection is served where it is accepted.
///
/// QTcpServer binds, but we accept ourselves: once its engine has seen "no more connections"
/// (EAGAIN), it reports every later error as that same temporary one, so running out of
/// descriptors made it retry in a busy loop (or, when that came first, stop for good).
class Listener : public QTcpServer {
  public:
    explicit Listener(std::function<void(qintptr)> deal) : deal_(std::move(deal)) {}

    /// Takes accepting over once the socket listens (on this object's thread).
    void startAccepting() {
        pauseAccepting();
        notifier_ = new QSocketNotifier(socketDescriptor(), QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, &Listener::acceptPending);
    }

    /// Stops accepting and closes the socket.
    void stop() {
        delete notifier_;
        notifier_ = nullptr;
        close();
    }

  private:
    void acceptPending() {
        for (;;) {
            const int descriptor = ::accept4(int(socketDescriptor()), nullptr, nullptr, SOCK_CLOEXEC);
            if (descriptor >= 0) {
                pause_ = std::chrono::milliseconds::zero();
                deal_(descriptor);
            } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
                return;
            } else if (errno != EINTR && errno != ECONNABORTED && errno != EPROTO) {
                pauseAfterError(errno);
                return;
            }
        }
    }

    /// Out of descriptors or memory: nothing to gain from retrying at once.
    void pauseAfterError(int error) {
        notifier_->setEnabled(false);
        pause_ = pause_ == std::chrono::milliseconds::zero() ? kFirstAcceptPause
                                                             : std::min(pause_ * 2, kLongestAcceptPause);
        // One line for a spell of failures, however often accepting resumes and fails again.
        if (!lastWarning_.isValid() ||
            lastWarning_.hasExpired(std::chrono::milliseconds(kQuietBetweenWarnings).count())) {
            qCWarning(lcHarbly, "cannot accept connections (%s); retrying", std::strerror(error));
            lastWarning_.start();
        }
        QTimer::singleShot(pause_, this, [this] {
            if (notifier_)
                notifier_->setEnabled(true);
        });
    }

    std::function<void(qintptr)> deal_;
    QSocketNotifier* notifier_ = nullptr;
    std::chrono::milliseconds pause_{0}; ///< zero while accepting works
    QElapsedTimer lastWarning_;
};

} // namespace

class ServerCore {
  public:
    ServerCore(Server& server, ServerOptions options) : server_(server), shared_(std::move(options)) {
        const int threads = std::max(1, shared_.options.ioThreads);
        shared_.pool.setMaxThreadCount(std::max(1, shared_.options.workerThreads));
        const int capacity = std::max(1, shared_.options.limits.maxConnections / threads);
        for (int i = 0; i < threads; ++i) {
            auto thread = std::make_unique<QThread>();
            thread->setObjectName(QStringLiteral("hb-io-%1").arg(i));
            auto* worker = new IoWorker(shared_, capacity);
            worker->moveToThread(thread.get());
            QObject::connect(thread.get(), &QThread::finished, worker, &QObject::deleteLater);
            workers_.push_back(worker);
            threads_.push_back(std::move(thread));
        }
    }

    ~ServerCore() { stop(); }

    void start() {
        for (size_t i = 0; i < threads_.size(); ++i) {
            threads_[i]->start();
            IoWorker* worker = workers_[i];
            auto* listener = new Listener([worker](qintptr descriptor) { worker->adopt(descriptor); });
            listener->moveToThread(threads_[i].get());
            QObject::connect(threads_[i].get(), &QThread::finished, listener, &QObject::deleteLater);
            listeners_.push_back(listener);
        }
        listener_ = listeners_.front();
        postTo(listener_, [this] { bindWithRetry(0); });
    }

    void stop() {
        if (stopped_)
            return;
        stopped_ = true;
        {
            std::lock_guard lock(shared_.liveness->mutex);
            shared_.liveness->alive = false;
        }
        for (size_t i = 0; i < workers_.size(); ++i) {
            if (!threads_[i]->isRunning())
                continue;
            callOn(workers_[i], [this, i] {
                if (i < listeners_.size())
                    listeners_[i]->stop();
                workers_[i]->closeAll();
            });
        }
        for (auto& thread : threads_) {
            thread->quit();
            thread->wait();
        }
        waitForPool(shared_.pool, 5000);
    }

    void bindWithRetry(int attempt) {
        listener_->setListenBacklogSize(kListenBacklog);
        if (listener_->listen(QHostAddress::Any, shared_.options.port)) {
            listener_->startAccepting();
            shareListeningSocket();
            {
                std::lock_guard lock(listenMutex_);
                listeningPort_ = listener_->serverPort();
            }
            listenCv_.notify_all();
            Q_EMIT server_.listening(listener_->serverPort());
            return;
        }
        if (attempt + 1 >= shared_.options.bindAttempts) {
            // The one thing worth telling: nothing will answer on this port.
            qCWarning(lcHarbly, "cannot listen on port %u: %s", unsigned(shared_.options.port),
                      qPrintable(listener_->errorString()));
            return;
        }
        QTimer::singleShot(shared_.options.bindInterval, listener_,
                           [this, attempt] { bindWithRetry(attempt + 1); });
    }

    /// Lets the other I/O threads accept on the bound socket too.
    void shareListeningSocket() {
        for (size_t i = 1; i < listeners_.size(); ++i) {
            const int descriptor = ::fcntl(int(listener_->socketDescriptor()), F_DUPFD_CLOEXEC, 0);
            if (descriptor < 0)
                continue; // the first thread still accepts for everyone
            Listener* listener = listeners_[i];
            postTo(listener, [listener, descriptor] {
                if (listener->setSocketDescriptor(descriptor))
                    listener->startAccepting();
                else
                    ::close(descriptor);
            });
        }
    }

    void broadcast(const QByteArray& message) {
        const QByteArray chunk = sseChunk(message); // framed once for every stream
        std::lock_guard lock(shared_.liveness->mutex);
        if (!shared_.liveness->alive)
            return;
        for (IoWorker* worker : workers_)
            postTo(worker, [worker, chunk] { worker->broadcast(chunk); });
    }

    quint16 listeningPort() {
        std::lock_guard lock(listenMutex_);
        return listeningPort_;
    }

    bool waitUntilListening(std::chrono::milliseconds timeout) {
        std::unique_lock lock(listenMutex_);
        return listenCv_.wait_for(lock, timeout, [this] { return listeningPort_ != 0; });
    }

    ServerShared& shared() { return shared_; }

  private:
    Server& server_;
    ServerShared shared_;
    std::vector<std::unique_ptr<QThread>> threads_;
    std::vector<IoWorker*> workers_;
    std::vector<Listener*> listeners_; ///< one per I/O thread, living on it
    Listener* listener_ = nullptr;     ///< the first, which binds
    bool stopped_ = false;
    std::mutex listenMutex_;
    std::condition_variable listenCv_;
    quint16 listeningPort_ = 0;
};

Server::Server(ServerOptions options, QObject* parent)
    : QObject(parent), core_(std::make_unique<ServerCore>(*this, std::move(options))) {}

Server::~Server() = default;

void Server::start() {
    core_->start();
}

void Server::stop() {
    core_->stop();
}

quint16 Server::port() const {
    return core_->shared().options.port;
}

quint16 Server::listeningPort() const {
    return core_->listeningPort();
}

bool Server::waitUntilListening(std::chrono::milliseconds timeout) {
    return core_->waitUntilListening(timeout);
}

void Server::broadcast(const QByteArray& message) {
    core_->broadcast(message);
}

void Server::broadcastReload() {
    core_->broadcast(kReloadEvent);
}

int Server::openConnections() const {
    return core_->shared().connections.load();
}

int Server::openEventStreams() const {
    return core_->shared().streams.load();
}

} // namespace hb::server
