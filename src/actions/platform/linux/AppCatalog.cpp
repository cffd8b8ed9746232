#include "actions/platform/linux/AppCatalog.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QHash>
#include <algorithm>
#include <chrono>
#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>
#include <vector>

namespace hb::actions::apps {

namespace {

struct Entry {
    GAppInfo* info;
    QString name;
    int folderRank;
    QString id;
};

/// Index of the data folder holding `file` (lower is stronger); unknown folders come last.
int folderRank(const QStringList& dataDirs, const QString& file) {
    for (int index = 0; index < dataDirs.size(); ++index) {
        if (file.startsWith(dataDirs[index] + QStringLiteral("/applications/")))
            return index;
    }
    return int(dataDirs.size());
}

/// The shown entries, strongest first, owned until destruction. GIO hands its list over in
/// hash-table order, so the precedence is made explicit here.
class ShownEntries {
  public:
    ShownEntries() : all_(g_app_info_get_all()) {
        const QStringList dataDirs = xdgDataDirs();
        for (GList* item = all_; item != nullptr; item = item->next) {
            auto* info = G_APP_INFO(item->data);
            if (!g_app_info_should_show(info))
                continue;
            const char* file = G_IS_DESKTOP_APP_INFO(info)
                                   ? g_desktop_app_info_get_filename(G_DESKTOP_APP_INFO(info))
                                   : nullptr;
            entries_.push_back(Entry{info, QString::fromUtf8(g_app_info_get_name(info)),
                                     folderRank(dataDirs, QString::fromUtf8(file)),
                                     QString::fromUtf8(g_app_info_get_id(info))});
        }
        std::stable_sort(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) {
            return a.folderRank != b.folderRank ? a.folderRank < b.folderRank : a.id < b.id;
        });
    }
    ~ShownEntries() { g_list_free_full(all_, g_object_unref); }
    ShownEntries(const ShownEntries&) = delete;
    ShownEntries& operator=(const ShownEntries&) = delete;

    const std::vector<Entry>& entries() const { return entries_; }

    /// The strongest shown entry called `name`, or nullptr.
    GAppInfo* find(const QString& name) const {
        if (name.isEmpty())
            return nullptr;
        const auto found = std::find_if(entries_.begin(), entries_.end(),
                                        [&](const Entry& entry) { return entry.name == name; });
        return found != entries_.end() ? found->info : nullptr;
    }

  private:
    GList* all_;
    std::vector<Entry> entries_;
};

std::optional<IconSource> describeIcon(GIcon* icon) {
    IconSource source;
    if (G_IS_THEMED_ICON(icon)) {
        for (const gchar* const* name = g_themed_icon_get_names(G_THEMED_ICON(icon)); name && *name; ++name)
            source.themeNames.append(QString::fromUtf8(*name));
    } else if (G_IS_FILE_ICON(icon)) {
        gchar* path = g_file_get_path(g_file_icon_get_file(G_FILE_ICON(icon)));
        source.filePath = QString::fromUtf8(path);
        g_free(path);
    }
    if (source.themeNames.isEmpty() && source.filePath.isEmpty())
        return std::nullopt;
    return source;
}

} // namespace

QStringList xdgDataDirs() {
    QString home = qEnvironmentVariable("XDG_DATA_HOME");
    if (home.isEmpty())
        home = QDir::homePath() + QStringLiteral("/.local/share");
    QStringList dirs{QDir::cleanPath(home)};
    QString system = qEnvironmentVariable("XDG_DATA_DIRS");
    if (system.isEmpty())
        system = QStringLiteral("/usr/local/share:/usr/share");
    for (const QString& dir : system.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        const QString clean = QDir::cleanPath(dir);
        if (!dirs.contains(clean))
            dirs.append(clean);
    }
    return dirs;
}

bool codePointLess(const QString& a, const QString& b) {
    // Moves surrogates above every other unit, which makes UTF-16 order code-point order.
    const auto key = [](QChar c) -> unsigned {
        const unsigned unit = c.unicode();
        return unit >= 0xE000 ? unit - 0x800 : unit >= 0xD800 ? unit + 0x2000 : unit;
    };
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [&](QChar x, QChar y) { return key(x) < key(y); });
}

std::mutex& gioMutex() {
    static std::mutex mutex;
    return mutex;
}

namespace {

/// What the shown entries say about names and icons. Kept while the application folders stay
/// as they were (adding, removing or replacing an entry changes its folder's modification time)
/// and for a few seconds at most (an entry edited in place changes no folder). Guarded by
/// gioMutex().
struct Snapshot {
    QStringList names;                               ///< sorted by code point
    QHash<QString, std::optional<IconSource>> icons; ///< the owning entry's icon, by name
    QStringList stamps;
    std::chrono::steady_clock::time_point takenAt;
};

constexpr auto kSnapshotLifetime = std::chrono::seconds(5);

/// The application folders with their modification times, subfolders included.
QStringList folderStamps() {
    QStringList stamps;
    for (const QString& dataDir : xdgDataDirs()) {
        const QString folder = dataDir + QStringLiteral("/applications");
        const QFileInfo info(folder);
        stamps.append(folder + u' ' +
                      QString::number(info.exists() ? info.lastModified().toMSecsSinceEpoch() : -1));
        if (!info.isDir())
            continue;
        QDirIterator subfolders(folder, QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
        while (subfolders.hasNext()) {
            subfolders.next();
            stamps.append(subfolders.filePath() + u' ' +
                          QString::number(subfolders.fileInfo().lastModified().toMSecsSinceEpoch()));
        }
    }
    return stamps;
}

const Snapshot& currentSnapshot() {
    static Snapshot snapshot;
    static bool taken = false;
    const auto now = std::chrono::steady_clock::now();
    QStringList stamps = folderStamps();
    if (taken && now - snapshot.takenAt < kSnapshotLifetime && stamps == snapshot.stamps)
        return snapshot;
    const ShownEntries shown;
    Snapshot fresh;
    for (const Entry& entry : shown.entries()) {
        if (entry.name.isEmpty() || fresh.icons.contains(entry.name))
            continue;
        fresh.names.append(entry.name);
        GIcon* icon = g_app_info_get_icon(entry.info);
        fresh.icons.insert(entry.name, icon != nullptr ? describeIcon(icon) : std::nullopt);
    }
    std::sort(fresh.names.begin(), fresh.names.end(), codePointLess);
    fresh.stamps = std::move(stamps);
    fresh.takenAt = now;
    snapshot = std::move(fresh);
    taken = true;
    return snapshot;
}

} // namespace

QStringList catalogueNames() {
    const std::lock_guard lock(gioMutex());
    return currentSnapshot().names;
}

bool launchByName(const QString& name) {
    const std::lock_guard lock(gioMutex());
    const ShownEntries shown;
    GAppInfo* info = shown.find(name);
    if (info == nullptr)
        return false;
    GError* error = nullptr;
    const bool launched = g_app_info_launch(info, nullptr, nullptr, &error);
    g_clear_error(&error);
    return launched;
}

std::optional<IconSource> iconSourceFor(const QString& name) {
    const std::lock_guard lock(gioMutex());
    return currentSnapshot().icons.value(name, std::nullopt);
}

} // namespace hb::actions::apps
