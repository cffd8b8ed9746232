#!/usr/bin/python3
"""Fake MPRIS player. Usage: fake_mpris_player.py RECORD NAME_SUFFIX PLAYBACK_STATUS"""
import sys

from gi.repository import Gio, GLib

from hb_fake_dbus import FakeService

XML = """<node>
  <interface name="org.mpris.MediaPlayer2">
    <method name="Raise"/>
    <property name="Identity" type="s" access="read"/>
  </interface>
  <interface name="org.mpris.MediaPlayer2.Player">
    <method name="PlayPause"/><method name="Play"/><method name="Pause"/>
    <method name="Next"/><method name="Previous"/><method name="Stop"/>
    <property name="PlaybackStatus" type="s" access="read"/>
  </interface>
</node>"""

record, suffix, status = sys.argv[1:4]
service = FakeService(Gio.BusType.SESSION, "org.mpris.MediaPlayer2." + suffix, record)
service.export("/org/mpris/MediaPlayer2", XML, {}, {
    "org.mpris.MediaPlayer2": {"Identity": GLib.Variant("s", suffix)},
    "org.mpris.MediaPlayer2.Player": {"PlaybackStatus": GLib.Variant("s", status)},
})
service.run()
