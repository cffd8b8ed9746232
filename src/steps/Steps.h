#pragma once
// A step is one thing a sequence may do: launch an application, open a web address, run a
// shortcut or fire a gesture. `stepAllowed` is the single gate every step passes, whatever
// its source (a stored flow, the planner or the phone), before it is stored or run.
#include <QJsonArray>
#include <QJsonObject>
#include <QSet>
#include <QString>
#include <functional>

namespace hb::actions {
struct Platform;
}

namespace hb::steps {

/// What the step rules consult: the allowed application names (read afresh on every check)
/// and the desktop actions (shortcut list, gestures, the actions themselves).
struct StepEnvironment {
    std::function<QSet<QString>()> allowedApps;
    actions::Platform* platform = nullptr;
};

/// True when the step record may run: "type" is exactly "app", "url", "shortcut" or
/// "gesture", "value" is text, and the value passes that type's rule.
bool stepAllowed(const QJsonObject& step, const StepEnvironment& environment);

/// Checks the step again and performs its one action; true when allowed and the action
/// reported success. Launches, addresses and shortcuts are started, not awaited.
bool runStep(const QJsonObject& step, const StepEnvironment& environment);

/// The body's "steps" member when it is an array of objects, else the empty list.
QJsonArray stepList(const QJsonObject& body);

/// True when every step of the list passes `stepAllowed` (an empty list does).
bool allStepsAllowed(const QJsonArray& steps, const StepEnvironment& environment);

} // namespace hb::steps
