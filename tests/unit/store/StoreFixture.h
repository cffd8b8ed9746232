#pragma once
// A Store on a temporary support folder, rebuilt on demand to stand for a restart, with a
// clock the test moves by hand.
#include "store/Store.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>
#include <memory>

namespace hb::test {

class StoreFixture : public ::testing::Test {
  protected:
    QString support() const { return root.path() + QStringLiteral("/support"); }
    QString resources() const { return root.path() + QStringLiteral("/resources"); }
    QString statePath() const { return support() + QStringLiteral("/state.json"); }
    QString configPath() const { return support() + QStringLiteral("/config.json"); }

    store::Store& open() {
        store.reset();
        store = std::make_unique<store::Store>(
            store::Store::Options{support(), resources(), [this] { return clock; }});
        return *store;
    }
    static void writeFile(const QString& path, const QByteArray& bytes) {
        QDir().mkpath(path.section(u'/', 0, -2));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }
    static QByteArray readFile(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    static QJsonObject readObject(const QString& path) {
        return QJsonDocument::fromJson(readFile(path)).object();
    }

    QTemporaryDir root;
    QDateTime clock = QDateTime(QDate(2026, 1, 1), QTime(12, 0), Qt::UTC);
    std::unique_ptr<store::Store> store;
};

} // namespace hb::test
