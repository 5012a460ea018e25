#!/usr/bin/python3
"""A PNG of a KWin Wayland session's whole workspace, through KWin's own
screenshot interface (KWin answers anyone when started with
KWIN_SCREENSHOT_NO_PERMISSION_CHECKS=1).

  kwin-screenshot.py FILE
"""
import os
import sys
import threading

import gi

gi.require_version("GdkPixbuf", "2.0")
from gi.repository import GdkPixbuf, Gio, GLib  # noqa: E402

# QImage::Format_RGB32, Format_ARGB32 and Format_ARGB32_Premultiplied: one
# 32-bit word a pixel, blue in the lowest byte on this machine.
WORD_FORMATS = {4, 5, 6}


def main(argv):
    if len(argv) != 2:
        sys.exit(__doc__)
    bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    read_end, write_end = os.pipe()
    fds = Gio.UnixFDList.new()
    fds.append(write_end)
    os.close(write_end)
    # KWin writes the image while it answers; read it meanwhile.
    chunks = []

    def drain():
        with os.fdopen(read_end, "rb") as pipe:
            chunks.append(pipe.read())

    reader = threading.Thread(target=drain)
    reader.start()
    reply, _ = bus.call_with_unix_fd_list_sync(
        "org.kde.KWin", "/org/kde/KWin/ScreenShot2", "org.kde.KWin.ScreenShot2", "CaptureWorkspace",
        GLib.Variant("(a{sv}h)", ({}, 0)), GLib.VariantType("(a{sv})"), Gio.DBusCallFlags.NONE, 20000,
        fds, None)
    fds = None
    reader.join(20)
    info = reply.unpack()[0]
    width, height, stride = info["width"], info["height"], info["stride"]
    if info.get("format") not in WORD_FORMATS:
        sys.exit(f"unexpected image format {info.get('format')}")
    data = chunks[0] if chunks else b""
    if len(data) < stride * height:
        sys.exit(f"short image: {len(data)} bytes for {width}x{height}")
    rgb = bytearray(width * height * 3)
    for y in range(height):
        row = data[y * stride:y * stride + width * 4]
        out = y * width * 3
        rgb[out:out + width * 3:3] = row[2::4]
        rgb[out + 1:out + width * 3:3] = row[1::4]
        rgb[out + 2:out + width * 3:3] = row[0::4]
    pixbuf = GdkPixbuf.Pixbuf.new_from_bytes(GLib.Bytes.new(bytes(rgb)), GdkPixbuf.Colorspace.RGB, False, 8,
                                             width, height, width * 3)
    pixbuf.savev(argv[1], "png", [], [])


if __name__ == "__main__":
    main(sys.argv)
