#!/usr/bin/python3
"""Drives a GNOME Shell session under test through the shell's and mutter's
own D-Bus interfaces, the way the desktop's portals do. GNOME answers some of
them only for allow-listed bus names, so this helper owns one first.

  gnome.py overview-off          leave the overview shown at start
  gnome.py screenshot FILE       a PNG of the whole screen
  gnome.py windows               the shell's windows as JSON, one a line
  gnome.py keys COMBO...         e.g. Control_L+t Alt_L+F4
  gnome.py click X Y             a left click at screen coordinates
  gnome.py right-click X Y       a right click there
  gnome.py busy SECONDS          small pointer moves in the bottom right corner;
                                 banners shown while the user is idle stay
                                 until the user is busy
  gnome.py hold                  one input session for many commands read
                                 from standard input, one a line (screenshot,
                                 click, keys, windows as above; quit); each
                                 ends with a line "ok" or "error: ..."
"""
import json
import sys
import time

from gi.repository import Gio, GLib

ALLOWED_NAME = "org.freedesktop.impl.portal.desktop.gnome"
BTN_LEFT = 0x110
BTN_RIGHT = 0x111
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


class InputSession:
    """A Mutter remote-desktop session, the one way to send input here.
    While one is open the top bar shows a sharing indicator, which moves
    the status items along: find and click them within the same session."""

    IFACE = "org.gnome.Mutter.RemoteDesktop.Session"

    def __init__(self):
        self.path = call("org.gnome.Mutter.RemoteDesktop", "/org/gnome/Mutter/RemoteDesktop",
                         "org.gnome.Mutter.RemoteDesktop", "CreateSession", None, "(o)")[0]
        self.send("Start", None)
        # The session's virtual devices come up after Start returns; events
        # sent before are lost.
        time.sleep(0.5)

    def send(self, method, args):
        call("org.gnome.Mutter.RemoteDesktop", self.path, self.IFACE, method, args)

    def run(self, events):
        for event in events:
            event(self.send)
            time.sleep(0.05)

    def stop(self):
        self.send("Stop", None)


def remote_desktop(events):
    """Runs input events (callables taking a send function) in one session."""
    session = InputSession()
    try:
        session.run(events)
    finally:
        session.stop()


KEYSYMS = {"Control_L": 0xffe3, "Alt_L": 0xffe9, "Shift_L": 0xffe1, "F4": 0xffc1,
           "Return": 0xff0d, "Escape": 0xff1b, "Up": 0xff52, "Down": 0xff54}


def keysym(name):
    if len(name) == 1:
        return ord(name)
    return KEYSYMS[name]


def key_events(combos):
    events = []
    for combo in combos:
        keys = [keysym(k) for k in combo.split("+")]
        events += [lambda send, k=k: send("NotifyKeyboardKeysym", GLib.Variant("(ub)", (k, True)))
                   for k in keys]
        events += [lambda send, k=k: send("NotifyKeyboardKeysym", GLib.Variant("(ub)", (k, False)))
                   for k in reversed(keys)]
    return events


def click_events(x, y, button=BTN_LEFT):
    return [
        # Relative motion from the bottom right corner, where a large move
        # leaves the pointer (the top left one would open the overview).
        lambda send: send("NotifyPointerMotionRelative", GLib.Variant("(dd)", (10000, 10000))),
        lambda send: send("NotifyPointerMotionRelative",
                          GLib.Variant("(dd)", (x - SCREEN[0] + 1, y - SCREEN[1] + 1))),
        lambda send: send("NotifyPointerButton", GLib.Variant("(ib)", (button, True))),
        lambda send: send("NotifyPointerButton", GLib.Variant("(ib)", (button, False))),
    ]


def screenshot(path):
    ok, _ = call("org.gnome.Shell.Screenshot", "/org/gnome/Shell/Screenshot",
                 "org.gnome.Shell.Screenshot", "Screenshot",
                 GLib.Variant("(bbs)", (False, False, path)), "(bs)")
    if not ok:
        raise RuntimeError("screenshot failed")


def hold():
    """One input session for a whole conversation on standard input."""
    session = InputSession()
    try:
        while True:
            words = sys.stdin.readline().split()
            if not words or words[0] == "quit":
                break
            try:
                if words[0] == "screenshot":
                    screenshot(words[1])
                elif words[0] == "click":
                    session.run(click_events(float(words[1]), float(words[2])))
                elif words[0] == "right-click":
                    session.run(click_events(float(words[1]), float(words[2]), BTN_RIGHT))
                elif words[0] == "keys":
                    session.run(key_events(words[1:]))
                elif words[0] == "windows":
                    print_windows()
                else:
                    raise ValueError("unknown command " + words[0])
                print("ok", flush=True)
            except (GLib.Error, RuntimeError, ValueError, IndexError) as error:
                print("error:", str(error).replace("\n", " "), flush=True)
    finally:
        session.stop()


def print_windows():
    windows = call("org.gnome.Shell", "/org/gnome/Shell/Introspect",
                   "org.gnome.Shell.Introspect", "GetWindows", None, "(a{ta{sv}})")[0]
    for wid, props in windows.items():
        print(json.dumps(dict(props, id=wid), ensure_ascii=False))


def main(argv):
    command, args = argv[1], argv[2:]
    own_allowed_name()
    if command == "overview-off":
        call("org.gnome.Shell", "/org/gnome/Shell", "org.freedesktop.DBus.Properties", "Set",
             GLib.Variant("(ssv)", ("org.gnome.Shell", "OverviewActive", GLib.Variant("b", False))))
    elif command == "screenshot":
        screenshot(args[0])
    elif command == "windows":
        print_windows()
    elif command == "keys":
        remote_desktop(key_events(args))
    elif command == "click":
        remote_desktop(click_events(float(args[0]), float(args[1])))
    elif command == "right-click":
        remote_desktop(click_events(float(args[0]), float(args[1]), BTN_RIGHT))
    elif command == "hold":
        hold()
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
