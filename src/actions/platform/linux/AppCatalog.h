#pragma once
// The installed applications as GIO sees them (freedesktop desktop entries). An application's
// name is its entry's Name. When several shown entries share a Name, the one from the data
// folder of highest precedence owns it ($XDG_DATA_HOME, then $XDG_DATA_DIRS in order), and
// within one folder the one whose desktop ID sorts first.
#include <QString>
#include <QStringList>
#include <mutex>
#include <optional>

namespace hb::actions::apps {

/// Where an application's icon comes from: theme names in order of preference, or a file.
struct IconSource {
    QStringList themeNames;
    QString filePath;
};

/// Code-point order (QString's own order is by UTF-16 unit, which puts characters beyond the
/// BMP before U+E000..U+FFFF).
bool codePointLess(const QString& a, const QString& b);

/// Distinct names of the entries that should be shown, sorted by code point. Names and icons
/// are kept between calls while the application folders are unchanged, for 5 s at most.
QStringList catalogueNames();

/// Launches the entry that owns `name`; false when no entry does or the launch fails.
bool launchByName(const QString& name);

/// The icon of the entry that owns `name`; nothing when no entry does or it has no icon.
std::optional<IconSource> iconSourceFor(const QString& name);

/// $XDG_DATA_HOME, then each of $XDG_DATA_DIRS (with their defaults), without repeats.
QStringList xdgDataDirs();

/// Serialises this agent's calls into GIO's application database.
std::mutex& gioMutex();

} // namespace hb::actions::apps
