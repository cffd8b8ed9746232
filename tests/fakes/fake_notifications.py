#!/usr/bin/python3
"""Fake org.freedesktop.Notifications. Usage: fake_notifications.py RECORD"""
import itertools
import sys

from gi.repository import Gio, GLib

from hb_fake_dbus import FakeService

XML = """<node><interface name="org.freedesktop.Notifications">
  <method name="Notify">
    <arg type="s" direction="in"/><arg type="u" direction="in"/><arg type="s" direction="in"/>
    <arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="as" direction="in"/>
    <arg type="a{sv}" direction="in"/><arg type="i" direction="in"/><arg type="u" direction="out"/>
  </method>
  <method name="GetCapabilities"><arg type="as" direction="out"/></method>
  <method name="GetServerInformation">
    <arg type="s" direction="out"/><arg type="s" direction="out"/>
    <arg type="s" direction="out"/><arg type="s" direction="out"/>
  </method>
  <property name="Version" type="s" access="read"/>
</interface></node>"""

ids = itertools.count(1)
service = FakeService(Gio.BusType.SESSION, "org.freedesktop.Notifications", sys.argv[1])
service.export("/org/freedesktop/Notifications", XML, {
    # A replacement keeps the id it replaces, as real servers do.
    "Notify": lambda args: GLib.Variant("(u)", (args[1] or next(ids),)),
    "GetCapabilities": lambda args: GLib.Variant("(as)", (["body"],)),
    "GetServerInformation": lambda args: GLib.Variant("(ssss)", ("fake", "harbly", "1", "1.2")),
}, {"org.freedesktop.Notifications": {"Version": GLib.Variant("s", "1.2")}})
service.run()
