#pragma once
#include <QByteArray>
#include <QHash>
#include <QString>
#include <optional>

namespace hb::relay::service {

/// Who owns each relay identifier: the first agent key presented for it. A binding is never
/// replaced. Kept as one file per identifier in a folder (SHA-256 of the key, not the key), so that
/// every relay node pointed at the same folder agrees; without a folder, in memory only.
class OwnerKeys {
  public:
    enum class Verdict {
        Owner,    ///< the key matches the binding (or has just become it)
        Stranger, ///< the identifier is bound to another key, or the link brings none
        Unproven, ///< no key, and nobody has bound the identifier yet: an agent from before keys
        Failed,   ///< the binding could not be read or written
    };

    /// `dir` empty: bindings live in memory only.
    explicit OwnerKeys(QString dir = {});
    /// Creates the folder (0700); false with `error` set when it cannot be used.
    bool open(QString* error);

    /// `relayId` must be a valid relay identifier (no path separators).
    Verdict check(const QString& relayId, const QByteArray& key);

  private:
    QString fileOf(const QString& relayId) const;
    /// The stored digest: empty when unbound, nothing when unreadable.
    std::optional<QByteArray> stored(const QString& relayId) const;
    /// Binds unless someone else bound first; the digest in force afterwards (nothing on failure).
    std::optional<QByteArray> bind(const QString& relayId, const QByteArray& digest);

    QString dir_;
    QHash<QString, QByteArray> memory_;
};

} // namespace hb::relay::service
