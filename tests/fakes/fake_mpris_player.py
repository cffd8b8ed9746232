#!/usr/bin/python3
"""The MPRIS fake of hb_fake_dbus.py. Usage: fake_mpris_player.py RECORD NAME_SUFFIX PLAYBACK_STATUS"""
import sys

import hb_fake_dbus

hb_fake_dbus.main(["mpris"] + sys.argv[1:])
