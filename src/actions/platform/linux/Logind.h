#pragma once
// systemd-logind on the system bus: suspend and session locking.
namespace hb::actions::logind {

/// Manager.Suspend(false): true when logind accepted the request.
bool suspend();

/// Locks this session: Manager.LockSession($XDG_SESSION_ID), else Session.Lock on the session
/// of this process, else Manager.LockSessions. True when one of them was accepted.
bool lockSession();

} // namespace hb::actions::logind
