#pragma once
// A Store on a temporary support folder, rebuilt on demand to stand for a restart, with a
// clock the test moves by hand.
#include "store/Store.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>

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

    void writeFile(const QString& path, const QByteArray& bytes) {
        QDir().mkpath(path.section(u'/', 0, -2));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }

    QByteArray readFile(const QString& path) const {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QJsonObject readObject(const QString& path) const {
        return QJsonDocument::fromJson(readFile(path)).object();
    }

    static unsigned modeOf(const QString& path) {
        struct stat info {};
        if (::stat(QFile::encodeName(path).constData(), &info) != 0)
            return 0;
        return info.st_mode & 07777;
    }

    QTemporaryDir root;
    QDateTime clock = QDateTime(QDate(2026, 1, 1), QTime(12, 0), Qt::UTC);
    std::unique_ptr<store::Store> store;
};

inline bool isLowerHex(const QString& text, qsizetype length) {
    if (text.size() != length)
        return false;
    for (QChar c : text) {
        if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f')))
            return false;
    }
    return true;
}

} // namespace hb::test
