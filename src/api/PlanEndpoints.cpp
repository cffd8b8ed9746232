// Sequences of steps planned, run and stored as flows.
// Every list that is run or stored passes the step gate as a whole first.
#include "api/Endpoints.h"
#include "api/Router.h"
#include "core/Json.h"
#include "steps/Planner.h"
#include "steps/Steps.h"
#include "store/Store.h"

#include <QJsonArray>
#include <QThread>
#include <chrono>

namespace hb::api {

namespace {

/// Pause after every step of a run, the last one included, so that each action can settle.
constexpr auto kStepPause = std::chrono::milliseconds(400);

const QString kDefaultFlowLabel = QStringLiteral("Flow");
const QString kDefaultFlowEmoji = QStringLiteral("\u26A1");

steps::StepEnvironment stepEnvironment(Context& context) {
    store::Store& store = context.store;
    return steps::StepEnvironment{[&store] { return store.allowedApps(); }, &context.platform};
}

QJsonObject failure(const QString& message) {
    return QJsonObject{{QStringLiteral("ok"), false}, {QStringLiteral("error"), message}};
}

QJsonObject success() {
    return QJsonObject{{QStringLiteral("ok"), true}};
}

void plan(Context& context, const server::Request& request, const server::Responder& responder) {
    const QString intent = json::textField(bodyJSON(request), QStringLiteral("intent"));
    if (!context.planner) {
        responder.json(failure(QStringLiteral("plan_failed")));
        return;
    }
    // The responder is a thread-safe handle: the completion may answer from any thread.
    context.planner->planWithClaude(intent,
                                    [responder](const QJsonObject& result) { responder.json(result); });
}

// Runs on the server's worker pool, never on its I/O thread, so pausing here holds up no one else.
void runPlan(Context& context, const server::Request& request, const server::Responder& responder) {
    const steps::StepEnvironment environment = stepEnvironment(context);
    const QJsonArray list = steps::stepList(bodyJSON(request));
    if (!steps::allStepsAllowed(list, environment)) {
        responder.json(failure(QStringLiteral("Invalid step")), 400);
        return;
    }
    for (const QJsonValue& step : list) {
        steps::runStep(step.toObject(), environment);
        QThread::msleep(kStepPause.count());
    }
    responder.json(QJsonObject{{QStringLiteral("ok"), true}, {QStringLiteral("ran"), list.size()}});
}

void flows(Context& context, const server::Request& request, const server::Responder& responder) {
    const QJsonObject body = bodyJSON(request);
    if (request.method == u"DELETE") {
        context.store.removeFlow(json::textField(body, QStringLiteral("label")));
        context.broadcastReload();
        responder.json(success());
        return;
    }
    const QJsonArray list = steps::stepList(body);
    if (list.isEmpty() || !steps::allStepsAllowed(list, stepEnvironment(context))) {
        responder.json(failure(QStringLiteral("Invalid flow")), 400);
        return;
    }
    context.store.addFlow(json::textField(body, QStringLiteral("label"), kDefaultFlowLabel),
                          json::textField(body, QStringLiteral("emoji"), kDefaultFlowEmoji), list);
    context.broadcastReload();
    responder.json(success());
}

} // namespace

void registerPlanEndpoints(Router& router) {
    router.add({QStringLiteral("/api/run-plan"), Gate::Token, runPlan});
    router.add({QStringLiteral("/api/plan"), Gate::Token, plan});
    router.add({QStringLiteral("/api/flows"), Gate::LocalOrToken, flows});
}

} // namespace hb::api
