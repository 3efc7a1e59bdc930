#!/usr/bin/python3
# The reference for bench/app-footprint: one bare WebKitGTK view on URL, nothing of Ferrovan.
# Prints "loaded MS" when the first load ends, MS counted from the process start (as the kernel
# records it, so in 10 ms steps), "failed REASON" if it fails; then idles until SIGTERM.
#
#   bench/webkit-peer.py URL
import os
import signal
import sys
import time

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("WebKit2", "4.1")
from gi.repository import GLib, Gtk, WebKit2  # noqa: E402


def ms_since_process_start():
    with open("/proc/self/stat") as stat:
        # The name in brackets may hold spaces; the 22nd field (start time) is the 20th after it.
        fields = stat.read().rsplit(")", 1)[1].split()
    started = int(fields[19]) / os.sysconf("SC_CLK_TCK")
    return (time.clock_gettime(time.CLOCK_BOOTTIME) - started) * 1000


def main():
    if len(sys.argv) != 2:
        print("usage: webkit-peer.py URL", file=sys.stderr)
        return 2
    reported = False

    def on_load_changed(_view, event):
        nonlocal reported
        if event == WebKit2.LoadEvent.FINISHED and not reported:
            reported = True
            print("loaded %.0f" % ms_since_process_start(), flush=True)

    def on_load_failed(_view, _event, uri, error):
        print("failed %s: %s" % (uri, error.message), flush=True)
        Gtk.main_quit()
        return False

    window = Gtk.Window()
    window.set_default_size(1024, 768)
    view = WebKit2.WebView()
    view.connect("load-changed", on_load_changed)
    view.connect("load-failed", on_load_failed)
    window.add(view)
    window.connect("destroy", Gtk.main_quit)
    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGTERM, lambda: Gtk.main_quit() or False)
    window.show_all()
    view.load_uri(sys.argv[1])
    Gtk.main()
    return 0 if reported else 1


if __name__ == "__main__":
    sys.exit(main())
