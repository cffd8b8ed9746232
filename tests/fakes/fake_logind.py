#!/usr/bin/python3
"""Fake systemd-logind for the stand-in system bus. Usage: fake_logind.py RECORD SESSION_ID"""
import sys

from gi.repository import Gio, GLib

from hb_fake_dbus import FakeService

MANAGER_XML = """<node><interface name="org.freedesktop.login1.Manager">
  <method name="Suspend"><arg name="interactive" type="b" direction="in"/></method>
  <method name="LockSession"><arg name="session_id" type="s" direction="in"/></method>
  <method name="LockSessions"/>
  <method name="GetSessionByPID"><arg type="u" direction="in"/><arg type="o" direction="out"/></method>
</interface></node>"""

SESSION_XML = """<node><interface name="org.freedesktop.login1.Session">
  <method name="Lock"/>
</interface></node>"""

NO_SUCH_SESSION = "org.freedesktop.login1.NoSuchSession"

record, session_id = sys.argv[1:3]
session_path = "/org/freedesktop/login1/session/_3" + session_id  # "_3" escapes a leading digit
session = GLib.Variant("(o)", (session_path,))


def lock_session(args):
    return None if args[0] == session_id else NO_SUCH_SESSION


service = FakeService(Gio.BusType.SYSTEM, "org.freedesktop.login1", record)
service.export("/org/freedesktop/login1", MANAGER_XML, {
    "LockSession": lock_session,
    "GetSessionByPID": lambda args: session,
})
service.export(session_path, SESSION_XML, {})
service.run()
