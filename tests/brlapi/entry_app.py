#!/usr/bin/python3
"""A GTK window with one text entry of known text, focused, for the screen
reader test. Prints "ready" once shown and "caret N" whenever the caret moves."""
import sys

import gi

gi.require_version("Gtk", "3.0")
from gi.repository import GLib, Gtk  # noqa: E402

text = sys.argv[1] if len(sys.argv) > 1 else "Braille on pins"
win = Gtk.Window(title="Entry test")
entry = Gtk.Entry()
entry.set_text(text)
win.add(entry)
win.connect("destroy", Gtk.main_quit)


def caret_moved(widget, _param):
    print("caret", widget.get_position(), flush=True)


def shown():
    # No window manager: the window takes the input focus itself, so that it
    # becomes the active window the screen reader follows.
    win.present()
    win.get_window().focus(0)
    entry.grab_focus()
    entry.set_position(0)
    entry.connect("notify::cursor-position", caret_moved)
    print("ready", flush=True)
    return False


win.show_all()
GLib.timeout_add(500, shown)
Gtk.main()
