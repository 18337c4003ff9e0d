#!/usr/bin/python3
# A GTK 3 window of known content for the GNOME session test: a field of one colour with a text
# entry at its top-left corner. Prints "shown" once it is on the screen; each line on stdin
# "caret N" puts the entry's caret at N and answers "caret N". Arguments: title, colour (#rrggbb),
# width, height.
import sys

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("Gdk", "3.0")
from gi.repository import Gdk, GLib, Gtk  # noqa: E402

title, colour, width, height = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])

window = Gtk.Window(title=title)
window.set_default_size(width, height)
window.set_decorated(False)  # the frame is the content: no shadow, no title bar
css = Gtk.CssProvider()
css.load_from_data(("window { background-color: %s; }" % colour).encode())
Gtk.StyleContext.add_provider_for_screen(Gdk.Screen.get_default(), css, Gtk.STYLE_PROVIDER_PRIORITY_APPLICATION)
entry = Gtk.Entry()
entry.set_text("tactile caret test line with enough text to move along")
entry.set_halign(Gtk.Align.START)
entry.set_valign(Gtk.Align.START)
entry.set_width_chars(40)
window.add(entry)
window.connect("destroy", Gtk.main_quit)


def on_map(*_):
    GLib.timeout_add(200, lambda: (print("shown", flush=True), False)[1])


window.connect("map-event", on_map)


def on_stdin(source, _condition):
    line = source.readline()
    if not line:
        Gtk.main_quit()
        return False
    parts = line.split()
    if len(parts) == 2 and parts[0] == "caret":
        entry.grab_focus()
        entry.set_position(int(parts[1]))
        print("caret %d" % entry.get_position(), flush=True)
    return True


GLib.io_add_watch(sys.stdin, GLib.IO_IN | GLib.IO_HUP, on_stdin)
window.show_all()
Gtk.main()
