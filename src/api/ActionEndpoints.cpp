// The actions a paired phone asks for. Each reads one or two body fields, runs one desktop
// action and reports its success as "ok" (status 200 once the token gate has passed).
#include "actions/Actions.h"
#include "api/Endpoints.h"
#include "api/Router.h"
#include "core/Json.h"
#include "store/Store.h"

#include <cmath>

namespace hb::api {

namespace {

using server::Request;
using server::Responder;

constexpr int kDefaultVolume = 50;
constexpr int kMinVolume = 0;
constexpr int kMaxVolume = 100;

QJsonObject okAnswer(bool ok) {
    return QJsonObject{{QStringLiteral("ok"), ok}};
}

QString field(const Request& request, const QString& key) {
    return json::textField(bodyJSON(request), key);
}

/// The text field `first`, or `second` when `first` is absent or not text.
QString fieldWithFallback(const Request& request, const QString& first, const QString& second) {
    const QJsonObject body = bodyJSON(request);
    return json::textField(body, first, json::textField(body, second));
}

/// Failed input actions tell the user how to allow input on this desktop when it is not allowed.
QJsonObject inputAnswer(actions::Input& input, bool ok) {
    QJsonObject answer = okAnswer(ok);
    if (!ok && !input.accessibilityTrusted())
        answer.insert(QStringLiteral("error"), input.accessHint());
    return answer;
}

} // namespace

// Bounded before any conversion to int (huge values, infinities and NaN included).
int requestedLevel(const QJsonValue& value) {
    if (!value.isDouble() || std::isnan(value.toDouble()))
        return kDefaultVolume;
    const double level = std::trunc(value.toDouble());
    if (level <= kMinVolume)
        return kMinVolume;
    if (level >= kMaxVolume)
        return kMaxVolume;
    return int(level);
}

namespace {

QJsonObject setVolume(actions::Media& media, const QJsonObject& body) {
    const QJsonValue muted = body.value(QStringLiteral("muted"));
    if (muted.isBool()) {
        const bool ok = media.setMuted(muted.toBool());
        return QJsonObject{{QStringLiteral("ok"), ok}, {QStringLiteral("muted"), muted.toBool()}};
    }
    const int level = requestedLevel(body.value(QStringLiteral("level")));
    const bool ok = media.setVolume(level);
    return QJsonObject{{QStringLiteral("ok"), ok}, {QStringLiteral("level"), level}};
}

QJsonObject readVolume(actions::Media& media) {
    return QJsonObject{{QStringLiteral("ok"), true},
                       {QStringLiteral("level"), media.getVolume()},
                       {QStringLiteral("muted"), media.isMuted()}};
}

void launch(Context& context, const Request& request, const Responder& responder) {
    const QString app = field(request, QStringLiteral("app"));
    const bool allowed = context.store.allowedApps().contains(app);
    responder.json(okAnswer(allowed && context.platform.apps.launchApp(app)));
}

void url(Context& context, const Request& request, const Responder& responder) {
    responder.json(okAnswer(context.platform.apps.openURL(field(request, QStringLiteral("url")))));
}

void shortcut(Context& context, const Request& request, const Responder& responder) {
    const QString name = fieldWithFallback(request, QStringLiteral("name"), QStringLiteral("value"));
    responder.json(okAnswer(context.platform.shortcuts.runShortcut(name)));
}

void gesture(Context& context, const Request& request, const Responder& responder) {
    const QString name = fieldWithFallback(request, QStringLiteral("value"), QStringLiteral("action"));
    const bool ok = context.platform.input.runGesture(name);
    responder.json(inputAnswer(context.platform.input, ok));
}

void media(Context& context, const Request& request, const Responder& responder) {
    const bool ok = context.platform.media.mediaAction(field(request, QStringLiteral("action")));
    responder.json(inputAnswer(context.platform.input, ok));
}

void volume(Context& context, const Request& request, const Responder& responder) {
    if (request.method == QStringLiteral("POST"))
        responder.json(setVolume(context.platform.media, bodyJSON(request)));
    else
        responder.json(readVolume(context.platform.media));
}

void system(Context& context, const Request& request, const Responder& responder) {
    responder.json(okAnswer(context.platform.media.systemAction(field(request, QStringLiteral("action")))));
}

void clipboard(Context& context, const Request& request, const Responder& responder) {
    responder.json(okAnswer(context.platform.input.setClipboard(field(request, QStringLiteral("text")))));
}

void pointer(Context& context, const Request& request, const Responder& responder) {
    const auto parsed = actions::parsePointer(bodyJSON(request));
    if (const QString* error = std::get_if<QString>(&parsed))
        return responder.json(QJsonObject{{QStringLiteral("ok"), false}, {QStringLiteral("error"), *error}},
                              400);
    const auto& command = std::get<actions::PointerCommand>(parsed);
    actions::Input& input = context.platform.input;
    const bool ok = input.pointer(command);
    if (command.kind != actions::PointerCommand::Kind::Button)
        context.heldButtons->renewed();
    else if (command.action != actions::ButtonAction::Down)
        context.heldButtons->released(command.button);
    else if (ok)
        context.heldButtons->pressed(input, command.button);
    responder.json(inputAnswer(input, ok));
}

void key(Context& context, const Request& request, const Responder& responder) {
    const auto parsed = actions::parseKey(bodyJSON(request));
    if (const QString* error = std::get_if<QString>(&parsed))
        return responder.json(QJsonObject{{QStringLiteral("ok"), false}, {QStringLiteral("error"), *error}},
                              400);
    const bool ok = context.platform.input.pressKey(std::get<actions::KeyCommand>(parsed));
    responder.json(inputAnswer(context.platform.input, ok));
}

/// The desktop's media state as the "media" event carries it.
void nowPlaying(Context& context, const Request&, const Responder& responder) {
    QJsonObject answer = context.nowPlaying ? context.nowPlaying() : QJsonObject();
    answer.insert(QStringLiteral("ok"), !answer.isEmpty());
    responder.json(answer);
}

void type(Context& context, const Request& request, const Responder& responder) {
    const bool ok = context.platform.input.typeText(field(request, QStringLiteral("text")));
    responder.json(inputAnswer(context.platform.input, ok));
}

} // namespace

void registerActionEndpoints(Router& router) {
    router.add({QStringLiteral("/api/launch"), Gate::Token, launch});
    router.add({QStringLiteral("/api/url"), Gate::Token, url});
    router.add({QStringLiteral("/api/shortcut"), Gate::Token, shortcut});
    router.add({QStringLiteral("/api/gesture"), Gate::Token, gesture});
    router.add({QStringLiteral("/api/media"), Gate::Token, media});
    router.add({QStringLiteral("/api/volume"), Gate::Token, volume});
    router.add({QStringLiteral("/api/system"), Gate::Token, system});
    router.add({QStringLiteral("/api/clipboard"), Gate::Token, clipboard});
    router.add({QStringLiteral("/api/type"), Gate::Token, type});
    router.add({QStringLiteral("/api/pointer"), Gate::Token, pointer});
    router.add({QStringLiteral("/api/key"), Gate::Token, key});
    router.add({QStringLiteral("/api/now-playing"), Gate::Token, nowPlaying});
}

} // namespace hb::api
