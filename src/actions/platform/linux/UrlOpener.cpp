#include "actions/platform/linux/UrlOpener.h"

#include "actions/Actions.h"
#include "actions/platform/linux/AppCatalog.h"

#include <QUrl>
#include <gio/gio.h>

namespace hb::actions::apps {

bool openWebAddress(const QString& address) {
    if (!isWebAddress(address))
        return false;
    // The normalised form: handlers are looked up by the lower-case scheme.
    const QByteArray uri = QUrl(address, QUrl::StrictMode).toEncoded();
    const std::lock_guard lock(gioMutex());
    GError* error = nullptr;
    const bool opened = g_app_info_launch_default_for_uri(uri.constData(), nullptr, &error);
    g_clear_error(&error);
    return opened;
}

} // namespace hb::actions::apps
