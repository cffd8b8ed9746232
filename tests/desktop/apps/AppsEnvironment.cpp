#include "AppsEnvironment.h"

#include "support/TestSupport.h"

#include <QAtomicInt>
#include <QDir>
#include <QFile>
#include <cstdlib>

namespace hb::test::apps {

namespace {

void writeFile(const QString& path, const QByteArray& content) {
    QDir().mkpath(path.section(QLatin1Char('/'), 0, -2));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        std::abort();
}

QByteArray entry(const QByteArray& keys) {
    return "[Desktop Entry]\nType=Application\n" + keys + '\n';
}

Environment prepare() {
    QByteArray pattern = QDir::tempPath().toUtf8() + "/hb-apps-test.XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
        std::abort();
    Environment env;
    env.root = QString::fromUtf8(pattern);
    env.secondData = env.root + QStringLiteral("/second-data");
    env.svgIcon = dataPath(QStringLiteral("icons/hb-test-svg.svg"));

    // Same desktop ID as in tests/data: the first folder's entry wins and this one is unseen.
    writeFile(env.secondData + QStringLiteral("/applications/hb-alpha.desktop"),
              entry("Name=Alpha Shadowed\nExec=/bin/true"));
    writeFile(env.secondData + QStringLiteral("/applications/hb-zeta.desktop"),
              entry("Name=Zeta\nExec=/bin/true\nIcon=" + env.svgIcon.toUtf8()));
    // A second entry named like one of the first folder: the first folder's owns the name.
    writeFile(env.secondData + QStringLiteral("/applications/hb-twin-second.desktop"),
              entry("Name=Twin\nIcon=" + env.svgIcon.toUtf8() +
                    "\nExec=/bin/sh -c \"echo second > \\\\\"\\\\$HB_TEST_MARK\\\\\"\""));
    writeFile(env.root + QStringLiteral("/config/mimeapps.list"),
              "[Default Applications]\nx-scheme-handler/http=hb-browser.desktop\n"
              "x-scheme-handler/https=hb-browser.desktop\nx-scheme-handler/mailto=hb-browser.desktop\n"
              "x-scheme-handler/ftp=hb-browser.desktop\n");
    QDir().mkpath(env.root + QStringLiteral("/home"));
    QDir().mkpath(env.root + QStringLiteral("/data-home"));

    qputenv("XDG_DATA_DIRS", QByteArray(HB_TEST_DATA_DIR) + ':' + env.secondData.toUtf8());
    qputenv("XDG_DATA_HOME", (env.root + QStringLiteral("/data-home")).toUtf8());
    qputenv("XDG_CONFIG_HOME", (env.root + QStringLiteral("/config")).toUtf8());
    qputenv("XDG_CONFIG_DIRS", (env.root + QStringLiteral("/config-dirs")).toUtf8());
    qputenv("HOME", (env.root + QStringLiteral("/home")).toUtf8());
    qunsetenv("XDG_CURRENT_DESKTOP");
    std::atexit([] { QDir(environment().root).removeRecursively(); });
    return env;
}

// Built during static initialisation, before main() and before any GIO or Qt call.
[[maybe_unused]] const Environment& kEnvironment = environment();

} // namespace

const Environment& environment() {
    // Never destroyed: the clean-up at exit still reads it.
    static const Environment* env = new Environment(prepare());
    return *env;
}

QString freshPath(const QString& stem) {
    static QAtomicInt counter;
    return environment().root + QStringLiteral("/%1-%2").arg(stem).arg(counter.fetchAndAddRelaxed(1));
}

QString waitForContent(const QString& path) {
    QString content;
    waitFor([&] {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            content = QString::fromUtf8(file.readAll());
        return !content.isEmpty();
    });
    return content;
}

std::optional<QImage> decodePNG(const QByteArray& bytes) {
    if (!bytes.startsWith("\x89PNG\r\n\x1a\n"))
        return std::nullopt;
    QImage image;
    if (!image.loadFromData(bytes, "PNG"))
        return std::nullopt;
    return image;
}

} // namespace hb::test::apps
