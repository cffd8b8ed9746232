#include "store/Store.h"
#include "support/api/ApiHarness.h"

#include <gtest/gtest.h>

using namespace hb::test;

// Catches: a flow the store refuses answered as saved (200, or 400 without saying why).
TEST(FlowLimits, RefusedFlowAnswers400WithAMessage) {
    ApiHarness harness;
    const QString token = harness.pairToken();
    const QJsonObject flow{{QStringLiteral("label"), QString(hb::store::kMaxFlowBytes, u'a')},
                           {QStringLiteral("steps"),
                            QJsonArray{QJsonObject{{QStringLiteral("type"), QStringLiteral("gesture")},
                                                   {QStringLiteral("value"), QStringLiteral("spotlight")}}}}};
    const RawResponse answer = harness.request("POST", "/api/flows", jsonBody(flow), token);
    EXPECT_EQ(answer.status, 400);
    EXPECT_FALSE(answer.json().value(QStringLiteral("error")).toString().isEmpty())
        << answer.body.constData();
    EXPECT_EQ(harness.reloads(), 0);
}
