#!/usr/bin/python3
"""Fake org.freedesktop.portal.RemoteDesktop: every request answers through its Request
object's Response signal; Start approves keyboard and pointer and, from version 2 on, hands out
restore tokens "token-1", "token-2", ...; with "deny" the dialog is cancelled instead.
Usage: fake_portal.py RECORD VERSION [deny]"""
import sys

from gi.repository import Gio, GLib

from hb_fake_dbus import FakeService

XML = """<node><interface name="org.freedesktop.portal.RemoteDesktop">
  <method name="CreateSession"><arg type="a{sv}" direction="in"/><arg type="o" direction="out"/></method>
  <method name="SelectDevices"><arg type="o" direction="in"/><arg type="a{sv}" direction="in"/>
    <arg type="o" direction="out"/></method>
  <method name="Start"><arg type="o" direction="in"/><arg type="s" direction="in"/>
    <arg type="a{sv}" direction="in"/><arg type="o" direction="out"/></method>
  <method name="NotifyKeyboardKeysym"><arg type="o" direction="in"/><arg type="a{sv}" direction="in"/>
    <arg type="i" direction="in"/><arg type="u" direction="in"/></method>
  <property name="version" type="u" access="read"/>
  <property name="AvailableDeviceTypes" type="u" access="read"/>
</interface></node>"""

version = int(sys.argv[2])
deny = len(sys.argv) > 3 and sys.argv[3] == "deny"
tokens = [0]

# REPLACE: takes the name from a real portal that something on the bus has started already.
service = FakeService(Gio.BusType.SESSION, "org.freedesktop.portal.Desktop", sys.argv[1],
                      Gio.BusNameOwnerFlags.REPLACE)


def request(options, code, results):
    path = "/org/freedesktop/portal/desktop/request/%s/%s" % (
        service.sender[1:].replace(".", "_"), options["handle_token"])

    def respond():
        service.conn.emit_signal(service.sender, path, "org.freedesktop.portal.Request", "Response",
                                 GLib.Variant("(ua{sv})", (code, results)))
    GLib.timeout_add(20, respond)
    return GLib.Variant("(o)", (path,))


def create(args):
    session = "/org/freedesktop/portal/desktop/session/1/" + args[0]["session_handle_token"]
    return request(args[0], 0, {"session_handle": GLib.Variant("s", session)})


def start(args):
    if deny:
        return request(args[2], 1, {})
    results = {"devices": GLib.Variant("u", 3)}
    if version >= 2:
        tokens[0] += 1
        results["restore_token"] = GLib.Variant("s", "token-%d" % tokens[0])
    return request(args[2], 0, results)


service.export("/org/freedesktop/portal/desktop", XML, {
    "CreateSession": create,
    "SelectDevices": lambda args: request(args[1], 0, {}),
    "Start": start,
}, {"org.freedesktop.portal.RemoteDesktop": {"version": GLib.Variant("u", version),
                                             "AvailableDeviceTypes": GLib.Variant("u", 7)}})
service.run()
