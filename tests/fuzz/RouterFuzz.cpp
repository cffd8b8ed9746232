// Routes whatever the request reader makes of arbitrary bytes through the agent's router, with
// a real store in a private folder (on tmpfs when there is one) and the recording fake
// desktop. The first byte picks the caller: local or not, with a valid token or not.
#include "actions/platform/fake/FakePlatform.h"
#include "api/Router.h"
#include "server/IoWorker.h"
#include "server/RequestReader.h"
#include "server/ResponderState.h"
#include "store/Store.h"

#include <QDir>
#include <QTemporaryDir>
#include <QThread>
#include <cstdint>
#include <optional>

using namespace hb;

namespace {

struct World {
    World() {
        handle->liveness = shared.liveness; // no connection behind the answers: built, then dropped here
        handle->thread = QThread::currentThread();
        freshStore();
    }

    /// A store from scratch in a new folder: lockouts end, a token is minted again, and the tokens
    /// of earlier pairings do not pile up across millions of inputs.
    void freshStore() {
        router.reset();
        context.reset();
        store.reset();
        folder.emplace(QDir(QStringLiteral("/dev/shm")).exists()
                           ? QStringLiteral("/dev/shm/harbly-fuzz-XXXXXX")
                           : QDir::tempPath() + QStringLiteral("/harbly-fuzz-XXXXXX"));
        store.emplace(store::Store::Options{folder->path(), QStringLiteral(HB_RESOURCES_DIR), {}});
        token = store->pair(store->pinValue()).token;
        context.emplace(*store, platform, nullptr);
        router.emplace(*context);
        api::registerEndpoints(*router);
    }

    std::optional<QTemporaryDir> folder;
    actions::FakePlatform fake;
    actions::Platform platform = fake.platform();
    server::ServerShared shared{[] {
        server::ServerOptions options;
        options.publicDir = QStringLiteral(HB_RESOURCES_DIR "/public");
        return options;
    }()};
    std::shared_ptr<server::ConnectionHandle> handle = std::make_shared<server::ConnectionHandle>();
    std::optional<store::Store> store;
    std::optional<api::Context> context;
    std::optional<api::Router> router;
    QString token;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static World world;
    server::RequestReader reader(16 * 1024, 64 * 1024);
    if (size < 1 ||
        reader.feed(QByteArrayView(reinterpret_cast<const char*>(data) + 1, qsizetype(size - 1))) !=
            server::RequestReader::State::Complete)
        return 0;
    server::Request request = reader.request();
    if (request.path == QStringLiteral("/api/run-plan")) // each step runs a pause of its own
        return 0;
    request.isLocal = data[0] & 1;
    request.peerAddress =
        request.isLocal ? QHostAddress(QHostAddress::LocalHost) : QHostAddress(QStringLiteral("192.0.2.7"));
    if (data[0] & 2)
        request.headers.insert(QStringLiteral("x-hb-token"), world.token);
    if (!world.store->tokenValid(world.token) || world.store->isLocked())
        world.freshStore(); // unpaired or locked out by an earlier input
    world.router->route(request, server::Responder(std::make_shared<server::detail::ResponderState>(
                                     world.handle, &world.shared))); // answered or dropped here
    world.fake.clearCalls();
    return 0;
}
