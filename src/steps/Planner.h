#pragma once
// The intent planner: asks the Anthropic Messages API to turn a sentence into steps, confined
// to what this desktop allows, and hands on only the steps that pass `stepAllowed`.
#include "steps/Steps.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QThread>
#include <chrono>
#include <functional>

namespace hb::steps {

class PlannerWorker;

inline constexpr auto kPlanTimeout = std::chrono::seconds(30);
inline constexpr auto kPlanModel = "claude-opus-4-8";
inline constexpr int kPlanMaxTokens = 1024;
inline constexpr auto kAnthropicVersion = "2023-06-01";
/// A reply larger than this is not a plan; the request is dropped ("plan_failed").
inline constexpr qint64 kMaxPlanReplyBytes = 4 * 1024 * 1024;

/// Builds plans on a thread of its own. Safe to call from any thread, with or without an
/// event loop; several plans may be in flight at once and share nothing.
class Planner {
  public:
    struct Options {
        /// Base of the API ("http(s)://host[:port]"); empty: ANTHROPIC_BASE_URL, read on every
        /// call, else the build's default.
        QString baseUrl;
        /// Idle time-out of one request.
        std::chrono::milliseconds timeout = kPlanTimeout;
    };

    Planner(StepEnvironment environment, Options options);
    explicit Planner(StepEnvironment environment);
    ~Planner();
    Planner(const Planner&) = delete;
    Planner& operator=(const Planner&) = delete;

    using Completion = std::function<void(QJsonObject)>;

    /// Returns at once. `completion` receives the planner result exactly once: {"ok": true,
    /// "steps": [...]} or {"ok": false, "error": "no_key" | "plan_failed" | "parse_failed"}.
    /// "no_key" arrives on the calling thread before this returns; everything else later, on
    /// the planner's thread. Plans still pending when the planner goes away end "plan_failed".
    void planWithClaude(const QString& intent, Completion completion);

  private:
    QString endpointUrl() const;

    StepEnvironment environment_;
    Options options_;
    QThread thread_;
    PlannerWorker* worker_ = nullptr; // lives on thread_, deleted there when it finishes
};

/// The system prompt for the three lists (apps already sorted by code point; shortcuts in the
/// tool's order; gestures in table order).
QString systemPrompt(const QStringList& sortedApps, const QStringList& shortcuts,
                     const QStringList& gestures);

/// The request body: model, max_tokens, system prompt and the intent as the one user message.
QJsonObject requestBody(const QString& intent, const QString& system);

/// Reads a Messages API reply body into the planner result; the HTTP status plays no part.
QJsonObject planResultFromBody(const QByteArray& body, const StepEnvironment& environment);

/// `names` sorted ascending by Unicode code point.
QStringList sortedByCodePoint(QStringList names);

} // namespace hb::steps
