#!/usr/bin/python3
"""Fake MPRIS player. Usage: fake_mpris_player.py RECORD NAME_SUFFIX PLAYBACK_STATUS [toggles]

With "toggles", PlayPause, Play and Pause change PlaybackStatus and announce it (before the
call's reply, as a real player does). org.harbly.Test.SetTrack(title, artist, status) changes
what it plays and announces it the same way."""
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
    <property name="Metadata" type="a{sv}" access="read"/>
  </interface>
  <interface name="org.harbly.Test">
    <method name="SetTrack"><arg type="s"/><arg type="s"/><arg type="s"/></method>
  </interface>
</node>"""

PATH = "/org/mpris/MediaPlayer2"
record, suffix, status = sys.argv[1:4]
service = FakeService(Gio.BusType.SESSION, "org.mpris.MediaPlayer2." + suffix, record)
player = {"PlaybackStatus": GLib.Variant("s", status), "Metadata": GLib.Variant("a{sv}", {})}


def announce(changed):
    service.conn.emit_signal(None, PATH, "org.freedesktop.DBus.Properties", "PropertiesChanged",
                             GLib.Variant("(sa{sv}as)", ("org.mpris.MediaPlayer2.Player", changed, [])))


def set_status(value):
    player["PlaybackStatus"] = GLib.Variant("s", value)
    announce({"PlaybackStatus": player["PlaybackStatus"]})


def set_track(args):
    title, artist, playback = args
    player["Metadata"] = GLib.Variant("a{sv}", {"xesam:title": GLib.Variant("s", title),
                                                "xesam:artist": GLib.Variant("as", [artist])})
    player["PlaybackStatus"] = GLib.Variant("s", playback)
    announce(dict(player))


handlers = {"SetTrack": set_track}
if sys.argv[4:] == ["toggles"]:
    handlers.update({
        "PlayPause": lambda _: set_status(
            "Paused" if player["PlaybackStatus"].unpack() == "Playing" else "Playing"),
        "Play": lambda _: set_status("Playing"),
        "Pause": lambda _: set_status("Paused"),
    })
service.export(PATH, XML, handlers, {
    "org.mpris.MediaPlayer2": {"Identity": GLib.Variant("s", suffix)},
    "org.mpris.MediaPlayer2.Player": player,
})
service.run()
