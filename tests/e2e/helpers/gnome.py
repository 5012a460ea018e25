#!/usr/bin/python3
"""Drives a GNOME Shell session under test through the shell's and mutter's
own D-Bus interfaces, the way the desktop's portals do. GNOME answers some of
them only for allow-listed bus names, so this helper owns one first.

  gnome.py overview-off          leave the overview shown at start
  gnome.py screenshot FILE       a PNG of the whole screen
  gnome.py windows               the shell's windows as JSON, one a line
  gnome.py keys COMBO...         e.g. Control_L+t Alt_L+F4
  gnome.py click X Y             a left click at screen coordinates
  gnome.py busy SECONDS          small pointer moves in the bottom right corner;
                                 banners shown while the user is idle stay
                                 until the user is busy
"""
import json
import sys
import time

from gi.repository import Gio, GLib

ALLOWED_NAME = "org.freedesktop.impl.portal.desktop.gnome"
BTN_LEFT = 0x110
# The size of the virtual monitor the session runs on.
SCREEN = (1600, 1000)

bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)


def own_allowed_name():
    reply = bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                          "RequestName", GLib.Variant("(su)", (ALLOWED_NAME, 4)),
                          GLib.VariantType("(u)"), Gio.DBusCallFlags.NONE, -1, None)
    if reply.unpack()[0] != 1:
        sys.exit("cannot own " + ALLOWED_NAME)


def call(dest, path, iface, method, args=None, reply=None, timeout=20):
    """Calls a method, retrying while the shell has not yet seen the name."""
    deadline = time.monotonic() + timeout
    while True:
        try:
            result = bus.call_sync(dest, path, iface, method, args,
                                   GLib.VariantType(reply) if reply else None,
                                   Gio.DBusCallFlags.NONE, 20000, None)
            return result.unpack() if result else None
        except GLib.Error as error:
            if "AccessDenied" not in str(error) or time.monotonic() > deadline:
                raise
            time.sleep(0.2)


def remote_desktop(events):
    """Runs input events (callables taking the session path) in one session."""
    session = call("org.gnome.Mutter.RemoteDesktop", "/org/gnome/Mutter/RemoteDesktop",
                   "org.gnome.Mutter.RemoteDesktop", "CreateSession", None, "(o)")[0]
    iface = "org.gnome.Mutter.RemoteDesktop.Session"

    def send(method, args):
        call("org.gnome.Mutter.RemoteDesktop", session, iface, method, args)

    send("Start", None)
    # The session's virtual devices come up after Start returns; events
    # sent before are lost.
    time.sleep(0.5)
    try:
        for event in events:
            event(send)
            time.sleep(0.05)
    finally:
        send("Stop", None)


KEYSYMS = {"Control_L": 0xffe3, "Alt_L": 0xffe9, "Shift_L": 0xffe1, "F4": 0xffc1,
           "Return": 0xff0d, "Escape": 0xff1b}


def keysym(name):
    if len(name) == 1:
        return ord(name)
    return KEYSYMS[name]


def main(argv):
    command, args = argv[1], argv[2:]
    own_allowed_name()
    if command == "overview-off":
        call("org.gnome.Shell", "/org/gnome/Shell", "org.freedesktop.DBus.Properties", "Set",
             GLib.Variant("(ssv)", ("org.gnome.Shell", "OverviewActive", GLib.Variant("b", False))))
    elif command == "screenshot":
        ok, _ = call("org.gnome.Shell.Screenshot", "/org/gnome/Shell/Screenshot",
                     "org.gnome.Shell.Screenshot", "Screenshot",
                     GLib.Variant("(bbs)", (False, False, args[0])), "(bs)")
        if not ok:
            sys.exit("screenshot failed")
    elif command == "windows":
        windows = call("org.gnome.Shell", "/org/gnome/Shell/Introspect",
                       "org.gnome.Shell.Introspect", "GetWindows", None, "(a{ta{sv}})")[0]
        for wid, props in windows.items():
            print(json.dumps(dict(props, id=wid), ensure_ascii=False))
    elif command == "keys":
        events = []
        for combo in args:
            keys = [keysym(k) for k in combo.split("+")]
            events += [lambda send, k=k: send("NotifyKeyboardKeysym", GLib.Variant("(ub)", (k, True)))
                       for k in keys]
            events += [lambda send, k=k: send("NotifyKeyboardKeysym", GLib.Variant("(ub)", (k, False)))
                       for k in reversed(keys)]
        remote_desktop(events)
    elif command == "click":
        x, y = float(args[0]), float(args[1])
        remote_desktop([
            # Relative motion from the bottom right corner, where a large move
            # leaves the pointer (the top left one would open the overview).
            lambda send: send("NotifyPointerMotionRelative", GLib.Variant("(dd)", (10000, 10000))),
            lambda send: send("NotifyPointerMotionRelative",
                              GLib.Variant("(dd)", (x - SCREEN[0] + 1, y - SCREEN[1] + 1))),
            lambda send: send("NotifyPointerButton", GLib.Variant("(ib)", (BTN_LEFT, True))),
            lambda send: send("NotifyPointerButton", GLib.Variant("(ib)", (BTN_LEFT, False))),
        ])
    elif command == "busy":
        moves = [lambda send: send("NotifyPointerMotionRelative", GLib.Variant("(dd)", (10000, 10000)))]
        for _ in range(int(float(args[0]) / 0.6)):
            for step in (-40, 40):
                moves.append(lambda send, d=step: send("NotifyPointerMotionRelative",
                                                        GLib.Variant("(dd)", (d, 0))))
                moves.append(lambda send: time.sleep(0.25))
        remote_desktop(moves)
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
