#include "steps/Steps.h"

#include "actions/Actions.h"
#include "actions/Gestures.h"
#include "core/Json.h"

namespace hb::steps {

namespace {

enum class StepType { App, Url, Shortcut, Gesture, Unknown };

StepType stepType(const QJsonValue& type) {
    if (!type.isString())
        return StepType::Unknown;
    const QString name = type.toString();
    if (name == u"app")
        return StepType::App;
    if (name == u"url")
        return StepType::Url;
    if (name == u"shortcut")
        return StepType::Shortcut;
    if (name == u"gesture")
        return StepType::Gesture;
    return StepType::Unknown;
}

bool valueAllowed(StepType type, const QString& value, const StepEnvironment& environment) {
    switch (type) {
    case StepType::App:
        return environment.allowedApps && environment.allowedApps().contains(value);
    case StepType::Url:
        return actions::isWebAddress(value);
    case StepType::Shortcut:
        // Asked afresh every time: a shortcut deleted a moment ago is refused at once.
        return environment.platform && environment.platform->shortcuts.listShortcuts().contains(value);
    case StepType::Gesture:
        return actions::findGesture(value) != nullptr;
    case StepType::Unknown:
        break;
    }
    return false;
}

} // namespace

bool stepAllowed(const QJsonObject& step, const StepEnvironment& environment) {
    const StepType type = stepType(step.value(u"type"));
    if (type == StepType::Unknown)
        return false;
    const QJsonValue value = step.value(u"value");
    if (!value.isString())
        return false;
    return valueAllowed(type, value.toString(), environment);
}

bool runStep(const QJsonObject& step, const StepEnvironment& environment) {
    if (!environment.platform || !stepAllowed(step, environment))
        return false;
    actions::Platform& platform = *environment.platform;
    const QString value = step.value(u"value").toString();
    switch (stepType(step.value(u"type"))) {
    case StepType::App:
        return platform.apps.launchApp(value);
    case StepType::Url:
        return platform.apps.openURL(value);
    case StepType::Shortcut:
        return platform.shortcuts.runShortcut(value);
    case StepType::Gesture:
        return platform.input.runGesture(value);
    case StepType::Unknown:
        break;
    }
    return false;
}

QJsonArray stepList(const QJsonObject& body) {
    const QJsonValue steps = body.value(u"steps");
    return json::isArrayOfObjects(steps) ? steps.toArray() : QJsonArray();
}

bool allStepsAllowed(const QJsonArray& steps, const StepEnvironment& environment) {
    for (const QJsonValue& step : steps) {
        if (!step.isObject() || !stepAllowed(step.toObject(), environment))
            return false;
    }
    return true;
}

} // namespace hb::steps
