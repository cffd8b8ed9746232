#!/usr/bin/python3
"""A stand-in StatusNotifierWatcher for tray tests, plus a small client to inspect tray items.

  fake_sni_watcher.py serve         own org.kde.StatusNotifierWatcher on the session bus, record
                                    RegisterStatusNotifierItem calls; prints "ready" when serving
  fake_sni_watcher.py dump [PID]         print the newest live item's (of process PID) tool tip
                                        and menu layout as JSON
  fake_sni_watcher.py click LABEL [PID] send the dbusmenu "clicked" event to the entry titled LABEL
"""
import json
import sys

from gi.repository import Gio, GLib

WATCHER = "org.kde.StatusNotifierWatcher"
WATCHER_PATH = "/StatusNotifierWatcher"
ITEM_IFACE = "org.kde.StatusNotifierItem"
MENU_IFACE = "com.canonical.dbusmenu"
TIMEOUT_MS = 5000

INTROSPECTION = """
<node>
  <interface name="org.kde.StatusNotifierWatcher">
    <method name="RegisterStatusNotifierItem"><arg type="s" direction="in"/></method>
    <method name="RegisterStatusNotifierHost"><arg type="s" direction="in"/></method>
    <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
    <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
    <property name="ProtocolVersion" type="i" access="read"/>
    <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
    <signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
    <signal name="StatusNotifierHostRegistered"/>
  </interface>
</node>
"""


def serve():
    bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    node = Gio.DBusNodeInfo.new_for_xml(INTROSPECTION)
    items = []  # "service/path" strings, oldest first

    def forget(service):
        for entry in [e for e in items if e.split("/", 1)[0] == service]:
            items.remove(entry)
            bus.emit_signal(None, WATCHER_PATH, WATCHER, "StatusNotifierItemUnregistered",
                            GLib.Variant("(s)", (entry,)))

    def on_call(conn, sender, path, iface, method, params, invocation):
        if method == "RegisterStatusNotifierItem":
            arg = params.unpack()[0]
            service, obj = (sender, arg) if arg.startswith("/") else (arg, "/StatusNotifierItem")
            entry = service + obj
            if entry not in items:
                items.append(entry)
                Gio.bus_watch_name_on_connection(bus, service, Gio.BusNameWatcherFlags.NONE, None,
                                                 lambda c, name: forget(name))
            conn.emit_signal(None, WATCHER_PATH, WATCHER, "StatusNotifierItemRegistered",
                             GLib.Variant("(s)", (entry,)))
        invocation.return_value(None)

    def on_get(conn, sender, path, iface, prop):
        if prop == "RegisteredStatusNotifierItems":
            return GLib.Variant("as", items)
        if prop == "IsStatusNotifierHostRegistered":
            return GLib.Variant("b", True)
        return GLib.Variant("i", 0)

    bus.register_object(WATCHER_PATH, node.interfaces[0], on_call, on_get, None)
    loop = GLib.MainLoop()

    def on_acquired(conn, name):
        print("ready", flush=True)

    Gio.bus_own_name_on_connection(bus, WATCHER, Gio.BusNameOwnerFlags.DO_NOT_QUEUE,
                                   on_acquired, lambda c, n: loop.quit())
    loop.run()
    return 1


def call(bus, service, path, iface, method, args, reply_type):
    return bus.call_sync(service, path, iface, method, args, GLib.VariantType(reply_type) if reply_type else None,
                         Gio.DBusCallFlags.NONE, TIMEOUT_MS, None).unpack()


def prop(bus, service, path, iface, name):
    return call(bus, service, path, "org.freedesktop.DBus.Properties", "Get",
                GLib.Variant("(ss)", (iface, name)), "(v)")[0]


def owner_pid(bus, service):
    try:
        return call(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                    "GetConnectionUnixProcessID", GLib.Variant("(s)", (service,)), "(u)")[0]
    except GLib.Error:
        return None


def newest_item(bus, pid=None):
    items = prop(bus, WATCHER, WATCHER_PATH, WATCHER, "RegisteredStatusNotifierItems")
    if pid:
        items = [i for i in items if owner_pid(bus, i.split("/", 1)[0]) == int(pid)]
    if not items:
        raise SystemExit("no tray item registered")
    service, path = items[-1].split("/", 1)
    return service, "/" + path


def layout_json(node):
    ident, props, children = node
    entry = {"id": ident}
    for key, value in props.items():
        entry[key] = value
    entry["children"] = [layout_json(child) for child in children]
    return entry


def dump(pid=None):
    bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    service, path = newest_item(bus, pid)
    menu_path = prop(bus, service, path, ITEM_IFACE, "Menu")
    tooltip = prop(bus, service, path, ITEM_IFACE, "ToolTip")
    layout = call(bus, service, menu_path, MENU_IFACE, "GetLayout",
                  GLib.Variant("(iias)", (0, -1, [])), "(u(ia{sv}av))")[1]
    pixmaps = prop(bus, service, path, ITEM_IFACE, "IconPixmap")
    print(json.dumps({
        "service": service,
        "status": prop(bus, service, path, ITEM_IFACE, "Status"),
        "iconName": prop(bus, service, path, ITEM_IFACE, "IconName"),
        "iconPixmaps": len(pixmaps),
        "toolTip": {"title": tooltip[2], "description": tooltip[3]},
        "menu": layout_json(layout)["children"],
    }))
    return 0


def click(label, pid=None):
    bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    service, path = newest_item(bus, pid)
    menu_path = prop(bus, service, path, ITEM_IFACE, "Menu")
    layout = layout_json(call(bus, service, menu_path, MENU_IFACE, "GetLayout",
                              GLib.Variant("(iias)", (0, -1, [])), "(u(ia{sv}av))")[1])
    ids = [c["id"] for c in layout["children"] if c.get("label", "").replace("&", "") == label]
    if not ids:
        raise SystemExit("no entry titled " + label)
    call(bus, service, menu_path, MENU_IFACE, "Event",
         GLib.Variant("(isvu)", (ids[0], "clicked", GLib.Variant("i", 0), 0)), None)
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
