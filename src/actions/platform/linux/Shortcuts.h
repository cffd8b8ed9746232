#pragma once
#include "actions/Actions.h"

namespace hb::actions {

/// The user's own automations: executable regular files in <support>/shortcuts/. A shortcut's
/// name is its file name without the extension; hidden files are not shortcuts.
class LinuxShortcuts final : public Shortcuts {
  public:
    explicit LinuxShortcuts(const QString& supportDir);

    /// Distinct names, sorted by code point.
    QStringList listShortcuts() override;
    /// Starts the shortcut's file detached (own session, stdin /dev/null, no arguments);
    /// true once it has started.
    bool runShortcut(const QString& name) override;

    QString folder() const { return folder_; }

  private:
    QString folder_;
};

/// Starts `program` detached: a new session, stdin from /dev/null, stdout and stderr shared
/// with the agent; a background thread reaps it. True once the program has been executed.
bool spawnDetached(const QString& program);

} // namespace hb::actions
