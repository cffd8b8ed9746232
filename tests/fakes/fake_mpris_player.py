#!/usr/bin/python3
"""Fake MPRIS player. Usage: fake_mpris_player.py RECORD NAME_SUFFIX PLAYBACK_STATUS [toggles]

With "toggles", PlayPause, Play and Pause change PlaybackStatus and announce it (before the
call's reply, as a real player does)."""
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
player = {"PlaybackStatus": GLib.Variant("s", status)}


def set_status(value):
    player["PlaybackStatus"] = GLib.Variant("s", value)
    service.conn.emit_signal(None, "/org/mpris/MediaPlayer2", "org.freedesktop.DBus.Properties",
                             "PropertiesChanged",
                             GLib.Variant("(sa{sv}as)", ("org.mpris.MediaPlayer2.Player",
                                                        {"PlaybackStatus": player["PlaybackStatus"]}, [])))


handlers = {}
if sys.argv[4:] == ["toggles"]:
    handlers = {
        "PlayPause": lambda _: set_status(
            "Paused" if player["PlaybackStatus"].unpack() == "Playing" else "Playing"),
        "Play": lambda _: set_status("Playing"),
        "Pause": lambda _: set_status("Paused"),
    }
service.export("/org/mpris/MediaPlayer2", XML, handlers, {
    "org.mpris.MediaPlayer2": {"Identity": GLib.Variant("s", suffix)},
    "org.mpris.MediaPlayer2.Player": player,
})
service.run()
