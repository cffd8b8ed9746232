#!/usr/bin/python3
"""Fake org.freedesktop.ScreenSaver. Usage: fake_screensaver.py RECORD"""
import sys

from gi.repository import Gio, GLib

from hb_fake_dbus import FakeService

XML = """<node><interface name="org.freedesktop.ScreenSaver">
  <method name="SetActive"><arg type="b" direction="in"/><arg type="b" direction="out"/></method>
</interface></node>"""

service = FakeService(Gio.BusType.SESSION, "org.freedesktop.ScreenSaver", sys.argv[1])
service.export("/org/freedesktop/ScreenSaver", XML, {"SetActive": lambda args: GLib.Variant("(b)", (True,))})
service.run()
