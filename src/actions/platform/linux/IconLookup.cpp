// Finding an icon file by theme name without Qt's theme machinery (which needs a
// QGuiApplication): the hicolor theme and the pixmaps folders of the XDG data directories.
#include "actions/platform/linux/IconRenderer.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <limits>

namespace hb::actions::apps {

namespace {

const QStringList kIconSuffixes{QStringLiteral("png"), QStringLiteral("svg"), QStringLiteral("svgz"),
                                QStringLiteral("xpm")};
constexpr int kScalableRank = 0;
constexpr int kSmallerThanWantedRank = 100000;

/// Lower is better: scalable first, then the smallest size not below the wanted one, then the
/// largest of the smaller ones.
int sizeRank(const QString& sizeDir) {
    if (sizeDir == QStringLiteral("scalable"))
        return kScalableRank;
    static const QRegularExpression sized(QStringLiteral(R"(^(\d+)x\d+(@\d+)?$)"));
    const auto match = sized.match(sizeDir);
    if (!match.hasMatch())
        return std::numeric_limits<int>::max();
    const int size = match.captured(1).toInt();
    return size >= kIconSide ? 1 + size - kIconSide : kSmallerThanWantedRank - size;
}

QString existingFile(const QString& stem) {
    for (const QString& suffix : kIconSuffixes) {
        const QFileInfo file(stem + QLatin1Char('.') + suffix);
        if (file.isFile() && file.isReadable())
            return file.filePath();
    }
    return {};
}

/// The best candidate in one hicolor folder: <theme>/<size>/<context>/<name>.<suffix>.
void searchTheme(const QString& themeDir, const QString& name, QString& best, int& bestRank) {
    const QDir theme(themeDir);
    for (const QString& sizeDir : theme.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        const int rank = sizeRank(sizeDir);
        if (rank >= bestRank)
            continue;
        const QDir sized(theme.filePath(sizeDir));
        for (const QString& context : sized.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
            const QString file = existingFile(sized.filePath(context) + QLatin1Char('/') + name);
            if (!file.isEmpty()) {
                best = file;
                bestRank = rank;
                break;
            }
        }
    }
}

} // namespace

QString findIconFile(const QString& requested) {
    QString name = requested;
    for (const QString& suffix : kIconSuffixes) {
        if (name.endsWith(QLatin1Char('.') + suffix))
            name.chop(suffix.size() + 1);
    }
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name.startsWith(QLatin1Char('.')))
        return {};
    const QStringList dirs = xdgDataDirs();
    QString best;
    int bestRank = std::numeric_limits<int>::max();
    searchTheme(QDir::homePath() + QStringLiteral("/.icons/hicolor"), name, best, bestRank);
    for (const QString& dir : dirs)
        searchTheme(dir + QStringLiteral("/icons/hicolor"), name, best, bestRank);
    if (!best.isEmpty())
        return best;
    QStringList pixmaps;
    for (const QString& dir : dirs)
        pixmaps.append(dir + QStringLiteral("/pixmaps/"));
    if (!pixmaps.contains(QStringLiteral("/usr/share/pixmaps/")))
        pixmaps.append(QStringLiteral("/usr/share/pixmaps/"));
    for (const QString& dir : pixmaps) {
        const QString file = existingFile(dir + name);
        if (!file.isEmpty())
            return file;
    }
    return {};
}

} // namespace hb::actions::apps
