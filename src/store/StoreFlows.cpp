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

} // namespace

void Store::addFlow(const QString& label, const QString& emoji, const QJsonArray& steps) {
    std::lock_guard lock(mutex_);
    const QJsonValue current = config_.value(QStringLiteral("pages"));
    QJsonArray pages = json::isArrayOfObjects(current) ? current.toArray() : QJsonArray();
    qsizetype index = 0;
    while (index < pages.size() && !isFlowsPage(pages.at(index).toObject()))
        ++index;
    if (index == pages.size())
        pages.append(newFlowsPage());
    QJsonObject page = pages.at(index).toObject();
    QJsonArray tiles = tilesOf(page);
    tiles.append(QJsonObject{{QStringLiteral("type"), QStringLiteral("flow")},
                             {QStringLiteral("label"), label},
                             {QStringLiteral("emoji"), emoji},
                             {QStringLiteral("steps"), steps}});
    page.insert(QStringLiteral("tiles"), tiles);
    pages.replace(index, page);
    config_.insert(QStringLiteral("pages"), pages);
    saveConfigLocked();
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
