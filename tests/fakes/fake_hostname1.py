#!/usr/bin/python3
"""Fake systemd-hostnamed for the stand-in system bus. Usage: fake_hostname1.py RECORD PRETTY"""
import sys

from gi.repository import Gio, GLib

from hb_fake_dbus import FakeService

HOSTNAME_XML = """<node><interface name="org.freedesktop.hostname1">
  <property name="PrettyHostname" type="s" access="read"/>
</interface></node>"""

record, pretty = sys.argv[1:3]
service = FakeService(Gio.BusType.SYSTEM, "org.freedesktop.hostname1", record)
service.export("/org/freedesktop/hostname1", HOSTNAME_XML, {},
               {"org.freedesktop.hostname1": {"PrettyHostname": GLib.Variant("s", pretty)}})
service.run()
