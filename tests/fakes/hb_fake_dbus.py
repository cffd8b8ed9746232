"""Small GDBus services for the desktop tests.

A fake owns one bus name, exports objects described by introspection XML (properties
included, so QtDBus sees them), appends every method call to a record file as one JSON line
{"path", "interface", "member", "args"} and prints "READY" once its name is owned.
"""
import json
import sys

from gi.repository import Gio, GLib


class FakeService:
    def __init__(self, bus_type, name, record_path, flags=Gio.BusNameOwnerFlags.NONE):
        self.bus_type, self.name, self.record_path, self.flags = bus_type, name, record_path, flags
        self.objects = []  # (path, xml, handlers, properties)

    def export(self, path, xml, handlers, properties=None):
        """handlers: {member: fn(args) -> GLib.Variant | None | Exception-name str}."""
        self.objects.append((path, xml, handlers, properties or {}))

    def _on_call(self, handlers, conn, sender, path, interface, member, params, invocation):
        self.sender = sender
        args = params.unpack()
        with open(self.record_path, "a", encoding="utf-8") as out:
            out.write(json.dumps({"path": path, "interface": interface, "member": member,
                                  "args": list(args)}) + "\n")
        handler = handlers.get(member)
        result = handler(args) if handler else None
        if isinstance(result, str):
            invocation.return_dbus_error(result, "refused by the fake")
        else:
            invocation.return_value(result)

    def _on_bus(self, conn, _name):
        self.conn = conn
        for path, xml, handlers, properties in self.objects:
            for info in Gio.DBusNodeInfo.new_for_xml(xml).interfaces:
                props = properties.get(info.name, {})
                conn.register_object(
                    path, info,
                    lambda c, s, p, i, m, a, inv, h=handlers: self._on_call(h, c, s, p, i, m, a, inv),
                    lambda c, s, p, i, prop, props=props: props.get(prop),
                    None)

    def run(self):
        Gio.bus_own_name(self.bus_type, self.name, self.flags, self._on_bus,
                         lambda *_: print("READY", flush=True),
                         lambda *_: (print("NAME LOST", flush=True), sys.exit(1)))
        GLib.MainLoop().run()
