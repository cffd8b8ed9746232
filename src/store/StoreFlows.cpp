// Flows: tiles of type "flow" on the page named "Flows" of the configuration document.
#include "store/Store.h"

#include "core/Json.h"

namespace hb::store {
namespace {

bool isFlowsPage(const QJsonObject& page) {
    return page.value(QStringLiteral("name")) == QStringLiteral("Flows");
}

QJsonArray tilesOf(const QJsonObject& page) {
    const QJsonValue tiles = page.value(QStringLiteral("tiles"));
    return json::isArrayOfObjects(tiles) ? tiles.toArray() : QJsonArray();
}

QJsonObject newFlowsPage() {
    return QJsonObject{{QStringLiteral("name"), QStringLiteral("Flows")},
                       {QStringLiteral("icon"), QStringLiteral("\u26A1")},
                       {QStringLiteral("tiles"), QJsonArray()}};
}

QJsonArray withoutLabel(const QJsonArray& tiles, const QString& label) {
    QJsonArray kept;
    for (const QJsonValue& tile : tiles) {
        if (tile.toObject().value(QStringLiteral("label")) != label)
            kept.append(tile);
    }
    return kept;
}

/// Flow tiles on every Flows page.
int flowCount(const QJsonArray& pages) {
    int count = 0;
    for (const QJsonValue& page : pages) {
        if (!isFlowsPage(page.toObject()))
            continue;
        for (const QJsonValue& tile : tilesOf(page.toObject()))
            count += tile.toObject().value(QStringLiteral("type")) == QStringLiteral("flow");
    }
    return count;
}

} // namespace

Store::FlowAdded Store::addFlow(const QString& label, const QString& emoji, const QJsonArray& steps) {
    const QJsonObject flow{{QStringLiteral("type"), QStringLiteral("flow")},
                           {QStringLiteral("label"), label},
                           {QStringLiteral("emoji"), emoji},
                           {QStringLiteral("steps"), steps}};
    if (json::compact(flow).size() > kMaxFlowBytes)
        return FlowAdded::TooLarge;
    std::lock_guard lock(mutex_);
    const QJsonValue current = config_.value(QStringLiteral("pages"));
    QJsonArray pages = json::isArrayOfObjects(current) ? current.toArray() : QJsonArray();
    qsizetype index = 0;
    while (index < pages.size() && !isFlowsPage(pages.at(index).toObject()))
        ++index;
    if (index == pages.size())
        pages.append(newFlowsPage());
    if (flowCount(pages) >= kMaxFlows)
        return FlowAdded::TooMany;
    QJsonObject page = pages.at(index).toObject();
    QJsonArray tiles = tilesOf(page);
    tiles.append(flow);
    page.insert(QStringLiteral("tiles"), tiles);
    pages.replace(index, page);
    config_.insert(QStringLiteral("pages"), pages);
    saveConfigLocked();
    return FlowAdded::Added;
}

void Store::removeFlow(const QString& label) {
    std::lock_guard lock(mutex_);
    const QJsonValue current = config_.value(QStringLiteral("pages"));
    if (!json::isArrayOfObjects(current))
        return;
    QJsonArray pages = current.toArray();
    for (qsizetype index = 0; index < pages.size(); ++index) {
        QJsonObject page = pages.at(index).toObject();
        if (!isFlowsPage(page))
            continue;
        page.insert(QStringLiteral("tiles"), withoutLabel(tilesOf(page), label));
        pages.replace(index, page);
    }
    config_.insert(QStringLiteral("pages"), pages);
    saveConfigLocked();
}

} // namespace hb::store
