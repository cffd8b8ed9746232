#!/usr/bin/python3
"""Fake org.freedesktop.ScreenSaver. Usage: fake_screensaver.py RECORD [refuse]
With "refuse", SetActive answers false (a screen saver that will not start)."""
import sys

from gi.repository import Gio, GLib

from hb_fake_dbus import FakeService

XML = """<node><interface name="org.freedesktop.ScreenSaver">
  <method name="SetActive"><arg type="b" direction="in"/><arg type="b" direction="out"/></method>
  <method name="GetActive"><arg type="b" direction="out"/></method>
  <property name="Version" type="s" access="read"/>
</interface></node>"""

record = sys.argv[1]
accepts = len(sys.argv) < 3 or sys.argv[2] != "refuse"
service = FakeService(Gio.BusType.SESSION, "org.freedesktop.ScreenSaver", record)
service.export("/org/freedesktop/ScreenSaver", XML, {
    "SetActive": lambda args: GLib.Variant("(b)", (accepts,)),
    "GetActive": lambda args: GLib.Variant("(b)", (False,)),
}, {"org.freedesktop.ScreenSaver": {"Version": GLib.Variant("s", "1.0")}})
service.run()
