#!/usr/bin/python3
"""A stand-in StatusNotifierWatcher for tray tests, plus a client to inspect tray items.

  fake_sni_watcher.py serve              own the watcher name; prints "ready" when serving
  fake_sni_watcher.py dump [PID]         print the newest live item's (of process PID) menu as JSON
  fake_sni_watcher.py click LABEL [PID]  send the dbusmenu "clicked" event to the entry titled LABEL
"""
import json
import sys

from gi.repository import Gio, GLib

WATCHER, WATCHER_PATH = "org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher"
XML = """<node><interface name="org.kde.StatusNotifierWatcher">
  <method name="RegisterStatusNotifierItem"><arg type="s" direction="in"/></method>
  <method name="RegisterStatusNotifierHost"><arg type="s" direction="in"/></method>
  <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
  <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
  <property name="ProtocolVersion" type="i" access="read"/>
  <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
  <signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
</interface></node>"""
bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)


def signal(name, entry):
    bus.emit_signal(None, WATCHER_PATH, WATCHER, name, GLib.Variant("(s)", (entry,)))


def serve():
    items = []  # "service/path", oldest first

    def forget(service):
        for entry in [e for e in items if e.split("/", 1)[0] == service]:
            items.remove(entry)
            signal("StatusNotifierItemUnregistered", entry)

    def on_call(conn, sender, path, iface, method, params, invocation):
        if method == "RegisterStatusNotifierItem":
            arg = params.unpack()[0]
            service, obj = (sender, arg) if arg.startswith("/") else (arg, "/StatusNotifierItem")
            if service + obj not in items:
                items.append(service + obj)
                Gio.bus_watch_name_on_connection(bus, service, Gio.BusNameWatcherFlags.NONE, None,
                                                 lambda c, name: forget(name))
            signal("StatusNotifierItemRegistered", service + obj)
        invocation.return_value(None)

    values = {"IsStatusNotifierHostRegistered": GLib.Variant("b", True), "ProtocolVersion": GLib.Variant("i", 0)}
    bus.register_object(WATCHER_PATH, Gio.DBusNodeInfo.new_for_xml(XML).interfaces[0], on_call,
                        lambda c, s, p, i, prop: values.get(prop, GLib.Variant("as", items)), None)
    loop = GLib.MainLoop()
    Gio.bus_own_name_on_connection(bus, WATCHER, Gio.BusNameOwnerFlags.DO_NOT_QUEUE,
                                   lambda c, n: print("ready", flush=True), lambda c, n: loop.quit())
    loop.run()
    return 1


def call(service, path, iface, method, args, reply_type=None):
    return bus.call_sync(service, path, iface, method, args, reply_type and GLib.VariantType(reply_type),
                         Gio.DBusCallFlags.NONE, 5000, None).unpack()


def prop(service, path, iface, name):
    return call(service, path, "org.freedesktop.DBus.Properties", "Get", GLib.Variant("(ss)", (iface, name)),
                "(v)")[0]


def owner_pid(service):
    try:
        return call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                    "GetConnectionUnixProcessID", GLib.Variant("(s)", (service,)), "(u)")[0]
    except GLib.Error:
        return None


def menu(pid):
    """The newest item's menu path and its top-level entries."""
    items = prop(WATCHER, WATCHER_PATH, WATCHER, "RegisteredStatusNotifierItems")
    items = [i for i in items if not pid or owner_pid(i.split("/", 1)[0]) == int(pid)]
    if not items:
        raise SystemExit("no tray item registered")
    service, path = items[-1].split("/", 1)
    menu_path = prop(service, "/" + path, "org.kde.StatusNotifierItem", "Menu")
    layout = call(service, menu_path, "com.canonical.dbusmenu", "GetLayout", GLib.Variant("(iias)", (0, -1, [])),
                  "(u(ia{sv}av))")[1]
    return service, menu_path, [dict(props, id=ident) for ident, props, _ in layout[2]]


def dump(pid=None):
    print(json.dumps({"menu": menu(pid)[2]}))
    return 0


def click(label, pid=None):
    service, menu_path, entries = menu(pid)
    ids = [e["id"] for e in entries if e.get("label", "").replace("&", "") == label]
    if not ids:
        raise SystemExit("no entry titled " + label)
    call(service, menu_path, "com.canonical.dbusmenu", "Event",
         GLib.Variant("(isvu)", (ids[0], "clicked", GLib.Variant("i", 0), 0)))
    return 0


if __name__ == "__main__":
    command = sys.argv[1] if len(sys.argv) > 1 else "serve"
    if command == "serve":
        sys.exit(serve())
    if command == "dump" and len(sys.argv) <= 3:
        sys.exit(dump(*sys.argv[2:]))
    if command == "click" and len(sys.argv) in (3, 4):
        sys.exit(click(*sys.argv[2:]))
    sys.exit(__doc__)
