/* Window facts for the tactile display's screen viewer.
 *
 * A Wayland client cannot learn where any window is; GNOME Shell knows. This extension owns
 * org.tavik.WindowFacts on the session bus and answers at /org/tavik/WindowFacts:
 *   GetWindows() -> a(tissiiiiiiiib): for each normal window, bottom of the stacking first:
 *     id, process id (0 unknown), app id (or WM class), title,
 *     frame x, y, width, height (the visible window, decorations included),
 *     client x, y, width, height (without the decorations the shell draws), focused
 *   Changed: after any activation, move, resize, restacking, opening, closing or retitling
 *     (at most once per main-loop turn)
 *   KeyPressed(s name): the hot key `name` ("dialog", "controller") was pressed
 *   KeyOf(s name) -> s: the accelerator bound to `name` ("" when none), from the setting
 *     `<name>-key` of org.tavik.window-facts
 *
 * The format is GNOME Shell's up to 44 (imports.*, init() returning the extension object).
 */
'use strict';

const { Gio, GLib, Meta, Shell } = imports.gi;
const Main = imports.ui.main;
const ExtensionUtils = imports.misc.extensionUtils;

const BUS_NAME = 'org.tavik.WindowFacts';
const OBJECT_PATH = '/org/tavik/WindowFacts';
const INTERFACE = `<node>
  <interface name="org.tavik.WindowFacts1">
    <method name="GetWindows">
      <arg type="a(tissiiiiiiiib)" direction="out" name="windows"/>
    </method>
    <method name="KeyOf">
      <arg type="s" direction="in" name="name"/>
      <arg type="s" direction="out" name="accelerator"/>
    </method>
    <signal name="Changed"/>
    <signal name="KeyPressed">
      <arg type="s" name="name"/>
    </signal>
  </interface>
</node>`;

// The hot keys the extension binds, each the setting `<name>-key`.
const KEY_NAMES = ['dialog', 'controller'];

// Windows a person works in; menus, tooltips and the like are left out.
const LISTED_TYPES = [
    Meta.WindowType.NORMAL,
    Meta.WindowType.DIALOG,
    Meta.WindowType.MODAL_DIALOG,
    Meta.WindowType.UTILITY,
];

function intersect(a, b) {
    const x = Math.max(a.x, b.x);
    const y = Math.max(a.y, b.y);
    const right = Math.min(a.x + a.width, b.x + b.width);
    const bottom = Math.min(a.y + a.height, b.y + b.height);
    return { x, y, width: Math.max(0, right - x), height: Math.max(0, bottom - y) };
}

class WindowFacts {
    constructor() {
        this._dbus = null;
        this._nameId = 0;
        this._displaySignals = [];
        this._windowSignals = new Map();
        this._pending = 0;
        this._settings = null;
    }

    enable() {
        this._dbus = Gio.DBusExportedObject.wrapJSObject(INTERFACE, this);
        this._dbus.export(Gio.DBus.session, OBJECT_PATH);
        this._nameId = Gio.bus_own_name_on_connection(Gio.DBus.session, BUS_NAME,
            Gio.BusNameOwnerFlags.NONE, null, null);

        const display = global.display;
        this._displaySignals = [
            display.connect('notify::focus-window', () => this._changed()),
            display.connect('restacked', () => this._changed()),
            display.connect('window-created', (_display, window) => {
                this._follow(window);
                this._changed();
            }),
        ];
        for (const actor of global.get_window_actors())
            this._follow(actor.meta_window);

        this._settings = ExtensionUtils.getSettings();
        for (const name of KEY_NAMES) {
            Main.wm.addKeybinding(`${name}-key`, this._settings, Meta.KeyBindingFlags.NONE,
                Shell.ActionMode.NORMAL | Shell.ActionMode.OVERVIEW,
                () => this._dbus?.emit_signal('KeyPressed', new GLib.Variant('(s)', [name])));
        }
    }

    disable() {
        for (const name of KEY_NAMES)
            Main.wm.removeKeybinding(`${name}-key`);
        this._settings = null;
        for (const id of this._displaySignals)
            global.display.disconnect(id);
        this._displaySignals = [];
        for (const [window, ids] of this._windowSignals) {
            for (const id of ids)
                window.disconnect(id);
        }
        this._windowSignals.clear();
        if (this._pending) {
            GLib.source_remove(this._pending);
            this._pending = 0;
        }
        if (this._nameId) {
            Gio.bus_unown_name(this._nameId);
            this._nameId = 0;
        }
        if (this._dbus) {
            this._dbus.unexport();
            this._dbus = null;
        }
    }

    _follow(window) {
        if (!window || this._windowSignals.has(window))
            return;
        const changed = () => this._changed();
        this._windowSignals.set(window, [
            window.connect('position-changed', changed),
            window.connect('size-changed', changed),
            window.connect('notify::title', changed),
            window.connect('notify::minimized', changed),
            window.connect('unmanaged', () => {
                const ids = this._windowSignals.get(window) ?? [];
                for (const id of ids)
                    window.disconnect(id);
                this._windowSignals.delete(window);
                this._changed();
            }),
        ]);
    }

    // One Changed per main-loop turn, however many window signals came in it.
    _changed() {
        if (this._pending || !this._dbus)
            return;
        this._pending = GLib.idle_add(GLib.PRIORITY_DEFAULT, () => {
            this._pending = 0;
            this._dbus?.emit_signal('Changed', null);
            return GLib.SOURCE_REMOVE;
        });
    }

    KeyOf(name) {
        if (!this._settings || !this._settings.settings_schema.has_key(`${name}-key`))
            return '';
        return this._settings.get_strv(`${name}-key`)[0] ?? '';
    }

    GetWindows() {
        const focus = global.display.focus_window;
        const out = [];
        for (const actor of global.get_window_actors()) {
            const window = actor.meta_window;
            if (!window || window.minimized || window.is_override_redirect() ||
                !LISTED_TYPES.includes(window.get_window_type()))
                continue;
            const frame = window.get_frame_rect();
            // Around a window that draws its own decorations the client rectangle takes in the
            // invisible shadow; the part inside the frame is what the client shows.
            const client = intersect(window.frame_rect_to_client_rect(frame), frame);
            out.push([
                window.get_id(),
                Math.max(0, window.get_pid()),
                window.get_gtk_application_id() || window.get_wm_class() || '',
                window.get_title() || '',
                frame.x, frame.y, frame.width, frame.height,
                client.x, client.y, client.width, client.height,
                window === focus,
            ]);
        }
        return out;
    }
}

function init() {
    return new WindowFacts();
}
