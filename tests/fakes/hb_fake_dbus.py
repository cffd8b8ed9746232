#!/usr/bin/python3
"""Small GDBus services for the desktop tests, and a client of the tray they serve.

  hb_fake_dbus.py KIND RECORD [ARGS...]   run one fake of FAKES: owns its name, records every call
                                          to RECORD as a JSON line, prints "READY" once owned
  hb_fake_dbus.py menu | click LABEL       print the newest tray item's menu | click an entry"""
import itertools
import json
import re
import sys

from gi.repository import Gio, GLib

V = GLib.Variant
SYSTEM, SESSION = Gio.BusType.SYSTEM, Gio.BusType.SESSION


def method(name, ins="", outs=""):
    args = ['<arg type="%s" direction="%s"/>' % (t, d) for d, ts in (("in", ins), ("out", outs)) for t in ts.split()]
    return '<method name="%s">%s</method>' % (name, "".join(args))


class FakeService:
    def __init__(self, bus_type, name, record, flags):
        self.bus_type, self.name, self.record, self.flags, self.objects = bus_type, name, record, flags, []

    def export(self, path, interfaces, handlers=None):
        """interfaces: {name: ([method XML], {property: Variant})}, the properties read when asked
        (a fake may replace them); handlers: {member: fn(args) -> Variant | None | D-Bus error name}."""
        self.objects.append((path, interfaces, handlers or {}))

    def on_call(self, handlers, sender, path, interface, member, params, invocation):
        self.sender, args = sender, params.unpack()
        with open(self.record, "a", encoding="utf-8") as out:
            out.write(json.dumps({"path": path, "interface": interface, "member": member, "args": list(args)}) + "\n")
        result = handlers[member](args) if member in handlers else None
        if isinstance(result, str):
            invocation.return_dbus_error(result, "refused by the fake")
        else:
            invocation.return_value(result)

    def on_bus(self, conn, _name):
        self.conn = conn
        for path, interfaces, handlers in self.objects:
            for name, (methods, values) in interfaces.items():
                xml = '<node><interface name="%s">%s%s</interface></node>' % (name, "".join(methods), "".join(
                    '<property name="%s" type="%s" access="read"/>' % (k, v.get_type_string()) for k, v in values.items()))
                conn.register_object(
                    path, Gio.DBusNodeInfo.new_for_xml(xml).interfaces[0],
                    lambda c, s, p, i, m, a, inv, h=handlers: self.on_call(h, s, p, i, m, a, inv),
                    lambda c, s, p, i, prop, values=values: values.get(prop), None)

    def run(self):
        Gio.bus_own_name(self.bus_type, self.name, self.flags, self.on_bus, lambda *_: print("READY", flush=True),
                         lambda *_: sys.exit("name lost"))
        GLib.MainLoop().run()


def logind(service, session_id):
    session = "/org/freedesktop/login1/session/_3" + session_id  # "_3" escapes a leading digit
    service.export("/org/freedesktop/login1", {"org.freedesktop.login1.Manager": ([
        method("Suspend", "b"), method("LockSession", "s"), method("LockSessions"), method("GetSessionByPID", "u", "o")
    ], {})}, {
        "LockSession": lambda a: None if a[0] == session_id else "org.freedesktop.login1.NoSuchSession",
        "GetSessionByPID": lambda a: V("(o)", (session,)),
    })
    service.export(session, {"org.freedesktop.login1.Session": ([method("Lock")], {})})


def notifications(service):
    ids = itertools.count(1)  # a replacement keeps the id it replaces, as real servers do
    service.export("/org/freedesktop/Notifications", {service.name: ([method("Notify", "s u s s s as a{sv} i", "u")], {})},
                   {"Notify": lambda a: V("(u)", (a[1] or next(ids),))})


def mpris(service, suffix, status):
    """PlayPause, Play, Pause and org.harbly.Test.SetTrack(title, artist, status) change what it
    plays and announce it before the call's reply, as a real player does."""
    path, player_iface = "/org/mpris/MediaPlayer2", "org.mpris.MediaPlayer2.Player"
    player = {"PlaybackStatus": V("s", status), "Metadata": V("a{sv}", {})}

    def change(changed):
        player.update(changed)
        service.conn.emit_signal(None, path, "org.freedesktop.DBus.Properties", "PropertiesChanged",
                                 V("(sa{sv}as)", (player_iface, changed, [])))

    status_of = {"PlayPause": lambda: "Paused" if player["PlaybackStatus"].unpack() == "Playing" else "Playing",
                 "Play": lambda: "Playing", "Pause": lambda: "Paused"}
    handlers = {m: lambda a, f=f: change({"PlaybackStatus": V("s", f())}) for m, f in status_of.items()}
    handlers["SetTrack"] = lambda a: change({"Metadata": V("a{sv}", {
        "xesam:title": V("s", a[0]), "xesam:artist": V("as", [a[1]])}), "PlaybackStatus": V("s", a[2])})
    service.name += suffix
    service.export(path, {
        player_iface: ([method(m) for m in ("PlayPause", "Play", "Pause", "Next", "Previous", "Stop")], player),
        "org.harbly.Test": ([method("SetTrack", "s s s")], {}),
    }, handlers)


def portal(service, version, deny=None):
    """Every request answers through its Request object's Response signal; Start approves keyboard
    and pointer and, from version 2 on, hands out restore tokens "token-1", "token-2", ...; with
    "deny" the dialog is cancelled instead."""
    tokens = itertools.count(1)

    def request(options, code, results):
        path = "/org/freedesktop/portal/desktop/request/%s/%s" % (
            service.sender[1:].replace(".", "_"), options["handle_token"])

        def respond():  # once: a true result would repeat it
            service.conn.emit_signal(service.sender, path, "org.freedesktop.portal.Request", "Response",
                                     V("(ua{sv})", (code, results)))
        GLib.timeout_add(20, respond)
        return V("(o)", (path,))

    def start(args):
        token = {"restore_token": V("s", "token-%d" % next(tokens))} if int(version) >= 2 else {}
        return request(args[2], 1, {}) if deny else request(args[2], 0, {"devices": V("u", 3), **token})

    service.export("/org/freedesktop/portal/desktop", {"org.freedesktop.portal.RemoteDesktop": ([
        method("CreateSession", "a{sv}", "o"), method("SelectDevices", "o a{sv}", "o"),
        method("Start", "o s a{sv}", "o"), method("NotifyKeyboardKeysym", "o a{sv} i u")
    ], {"version": V("u", int(version))})}, {
        "CreateSession": lambda a: request(a[0], 0, {"session_handle": V(
            "s", "/org/freedesktop/portal/desktop/session/1/" + a[0]["session_handle_token"])}),
        "SelectDevices": lambda a: request(a[1], 0, {}),
        "Start": start,
    })


WATCHER, WATCHER_PATH = "org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher"


def watcher(service):
    """A StatusNotifierWatcher listing the items registered, oldest first."""
    values = {"IsStatusNotifierHostRegistered": V("b", True), "RegisteredStatusNotifierItems": V("as", [])}

    def register(args):
        item = service.sender + args[0] if args[0].startswith("/") else args[0] + "/StatusNotifierItem"
        items = values["RegisteredStatusNotifierItems"].unpack()
        values["RegisteredStatusNotifierItems"] = V("as", [i for i in items if i != item] + [item])

    service.export(WATCHER_PATH, {WATCHER: ([method("RegisterStatusNotifierItem", "s")], values)},
                   {"RegisterStatusNotifierItem": register})


FAKES = {  # kind: (bus, name, exporter, flags)
    "hostname1": (SYSTEM, "org.freedesktop.hostname1", lambda s, pretty: s.export(
        "/org/freedesktop/hostname1", {s.name: ([], {"PrettyHostname": V("s", pretty)})}), 0),
    "logind": (SYSTEM, "org.freedesktop.login1", logind, 0),
    "kglobalaccel": (SESSION, "org.kde.kglobalaccel", lambda s: s.export(
        "/component/kwin", {"org.kde.kglobalaccel.Component": ([method("invokeShortcut", "s")], {})}), 0),
    "notifications": (SESSION, "org.freedesktop.Notifications", notifications, 0),
    "screensaver": (SESSION, "org.freedesktop.ScreenSaver", lambda s: s.export("/org/freedesktop/ScreenSaver", {
        s.name: ([method("SetActive", "b", "b")], {})}, {"SetActive": lambda a: V("(b)", (True,))}), 0),
    "mpris": (SESSION, "org.mpris.MediaPlayer2.", mpris, 0),
    # REPLACE: takes the name from a real portal that something on the bus has started already.
    "portal": (SESSION, "org.freedesktop.portal.Desktop", portal, Gio.BusNameOwnerFlags.REPLACE),
    "watcher": (SESSION, WATCHER, watcher, Gio.BusNameOwnerFlags.DO_NOT_QUEUE),
}


def tray_menu():
    """A click on an entry of the newest tray item's menu, and the menu's top-level entries."""
    bus = Gio.bus_get_sync(SESSION)

    def call(name, path, interface, member, args, reply=None):
        return bus.call_sync(name, path, interface, member, args, reply and GLib.VariantType(reply),
                             Gio.DBusCallFlags.NONE, 5000, None).unpack()

    get = "org.freedesktop.DBus.Properties", "Get"
    items = call(WATCHER, WATCHER_PATH, *get, V("(ss)", (WATCHER, "RegisteredStatusNotifierItems")), "(v)")[0]
    name, path = items[-1].split("/", 1)
    menu = call(name, "/" + path, *get, V("(ss)", ("org.kde.StatusNotifierItem", "Menu")), "(v)")[0]
    layout = call(name, menu, "com.canonical.dbusmenu", "GetLayout", V("(iias)", (0, -1, [])), "(u(ia{sv}av))")[1]
    return lambda ident: call(name, menu, "com.canonical.dbusmenu", "Event",
                              V("(isvu)", (ident, "clicked", V("i", 0), 0))), [
        dict(entry, id=ident) for ident, entry, _ in layout[2]]


def shown(entry):
    """An entry as a desktop shows it: "_" marks the next character as the mnemonic ("__" is "_")."""
    return re.sub("_(.)", r"\1", entry.get("label", ""), flags=re.S)


def describe(entry):  # separators as "-", hidden entries and shortcuts marked
    keys = "+".join(key for chord in entry.get("shortcut", []) for key in chord)
    return ("-" if entry.get("type") == "separator" else shown(entry)) + (
        "" if entry.get("visible", True) else " (hidden)") + (" [%s]" % keys if keys else "")


def main(argv):
    if argv == ["menu"]:
        print(" | ".join(describe(e) for e in tray_menu()[1]), end="")
    elif argv[:1] == ["click"] and len(argv) == 2:
        click, entries = tray_menu()
        click(next(e["id"] for e in entries if shown(e) == argv[1]))
    elif argv[:1] and argv[0] in FAKES and len(argv) >= 2:
        bus, name, exporter, flags = FAKES[argv[0]]
        service = FakeService(bus, name, argv[1], Gio.BusNameOwnerFlags(flags))
        exporter(service, *argv[2:])
        service.run()
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv[1:])
