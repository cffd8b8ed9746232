#pragma once
#include <QByteArray>
#include <QObject>
#include <QString>
#include <QUrl>
#include <chrono>
#include <functional>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;

namespace hb::update {

/// A newer release named by the update manifest.
struct UpdateInfo {
    QString version; ///< as written in the manifest
    QUrl url;        ///< where the user downloads it; always https
    QString notes;   ///< release notes, empty when the manifest has none
};

/// Longest a manifest check may take before it counts as failed.
inline constexpr std::chrono::milliseconds kManifestTimeout{10'000};
/// A manifest is a few hundred bytes; anything past this is not one.
inline constexpr qint64 kMaxManifestBytes = 256 * 1024;

/// True when `candidate` is strictly newer than `reference`, comparing dot-separated integer
/// components numerically (empty pieces dropped, non-integer pieces read as 0, missing ones as 0).
bool versionIsNewer(const QString& candidate, const QString& reference);

/// The update a manifest body announces, or nothing when the body is malformed, its "url" is
/// not an absolute "https" address, or its version is not newer than `currentVersion`.
std::optional<UpdateInfo> parseManifest(const QByteArray& body, const QString& currentVersion);

/// The manifest address: HB_UPDATE_URL when set, else the build's default.
QUrl manifestUrl();

/// Fetches the manifest and reports whether a newer version exists.
class UpdateChecker : public QObject {
    Q_OBJECT
  public:
    using Completion = std::function<void(std::optional<UpdateInfo>)>;

    explicit UpdateChecker(QObject* parent = nullptr);
    UpdateChecker(QUrl manifest, std::chrono::milliseconds timeout, QObject* parent = nullptr);

    /// Starts one check and returns at once. `completion` runs exactly once, later, on this
    /// object's thread: with the update, or with nothing on any failure. It is dropped unrun
    /// only when the checker itself is destroyed first.
    void checkForUpdate(Completion completion);

    QUrl manifest() const { return manifest_; }

  private:
    void finish(QNetworkReply* reply, const Completion& completion);

    QNetworkAccessManager* network_;
    QUrl manifest_;
    std::chrono::milliseconds timeout_;
};

} // namespace hb::update
