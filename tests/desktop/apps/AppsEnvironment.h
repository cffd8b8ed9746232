#pragma once
// The private desktop-entry world of these tests. It is put in place before main() runs,
// because GIO reads the XDG variables once: $XDG_DATA_DIRS = tests/data (the fixture entries
// and icon theme) followed by a generated folder that shadows some of them; $XDG_DATA_HOME,
// $XDG_CONFIG_HOME (with a mimeapps.list naming the test browser) and $HOME are temporary.
#include <QByteArray>
#include <QImage>
#include <QString>
#include <optional>

namespace hb::test::apps {

struct Environment {
    QString root;       ///< temporary folder of everything below
    QString secondData; ///< the second entry of $XDG_DATA_DIRS
    QString svgIcon;    ///< absolute path of the fixture SVG icon
};

const Environment& environment();

/// A fresh path under the temporary folder (the file does not exist).
QString freshPath(const QString& stem);

/// Waits (bounded) until `path` holds a complete line or more, and returns its content.
QString waitForContent(const QString& path);

/// Decodes PNG bytes; nothing unless they start with the PNG signature and decode.
std::optional<QImage> decodePNG(const QByteArray& bytes);

} // namespace hb::test::apps
