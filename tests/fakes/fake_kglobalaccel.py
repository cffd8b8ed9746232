#!/usr/bin/python3
"""Fake KDE global shortcut service (org.kde.kglobalaccel, KWin's component).
Usage: fake_kglobalaccel.py RECORD"""
import sys

from gi.repository import Gio, GLib

from hb_fake_dbus import FakeService

XML = """<node><interface name="org.kde.kglobalaccel.Component">
  <method name="invokeShortcut"><arg name="shortcutName" type="s" direction="in"/></method>
  <property name="friendlyName" type="s" access="read"/>
</interface></node>"""

service = FakeService(Gio.BusType.SESSION, "org.kde.kglobalaccel", sys.argv[1])
service.export("/component/kwin", XML, {},
               {"org.kde.kglobalaccel.Component": {"friendlyName": GLib.Variant("s", "KWin")}})
service.run()
