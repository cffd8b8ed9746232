#pragma once
#include <QString>

namespace hb::paths {

/// The folder holding "public/" and "config.json": $HB_RESOURCES, else <exe>/../share/harbly
/// (both the build and the install tree).
QString resourceDir();

/// Where state.json and config.json live: $HB_SUPPORT, else $XDG_CONFIG_HOME/harbly,
/// else ~/.config/harbly. An empty HB_SUPPORT counts as unset.
QString supportDir();

/// $XDG_CONFIG_HOME, else ~/.config.
QString configHome();

/// Creates `path` with `mode` (missing parents with the usual one). An existing folder keeps
/// its mode; a warning says when others can read it. False when `path` is no folder.
bool makePrivateDir(const QString& path, unsigned mode = 0700);

} // namespace hb::paths
