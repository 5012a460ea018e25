#!/usr/bin/python3
"""A login manager on the system bus: owns org.freedesktop.login1 and, on
SIGUSR1, emits PrepareForSleep(false) from /org/freedesktop/login1, as logind
does when the system has resumed (SIGUSR2: PrepareForSleep(true), going to
sleep). Each emission is written, one a line, to the file given as the only
argument."""
import signal
import sys
import time

from gi.repository import Gio, GLib

XML = """
<node>
  <interface name="org.freedesktop.login1.Manager">
    <signal name="PrepareForSleep"><arg type="b"/></signal>
  </interface>
</node>
"""
PATH = "/org/freedesktop/login1"
INTERFACE = "org.freedesktop.login1.Manager"

log = sys.argv[1]
loop = GLib.MainLoop()
bus = None
owned = False


def emit(going_to_sleep):
    bus.emit_signal(None, PATH, INTERFACE, "PrepareForSleep", GLib.Variant("(b)", (going_to_sleep,)))
    bus.flush_sync(None)
    with open(log, "a") as out:
        out.write(f"{time.time():.3f} PrepareForSleep {str(going_to_sleep).lower()}\n")
    return GLib.SOURCE_CONTINUE


def on_bus(connection, name):
    global bus
    bus = connection
    info = Gio.DBusNodeInfo.new_for_xml(XML).interfaces[0]
    connection.register_object(PATH, info, None, None, None)


def on_acquired(connection, name):
    global owned
    owned = True


def on_lost(connection, name):
    # Also when the bus goes away at the end of a run: only a name never
    # owned is a failure.
    if not owned:
        sys.exit(f"could not own {name}")
    loop.quit()


Gio.bus_own_name(Gio.BusType.SYSTEM, "org.freedesktop.login1", Gio.BusNameOwnerFlags.NONE,
                 on_bus, on_acquired, on_lost)
GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGUSR1, lambda: emit(False))
GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGUSR2, lambda: emit(True))
GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGTERM, loop.quit)
loop.run()
