/* Test sessions only: lets the test place, focus and read windows through org.gnome.Shell.Eval. */
'use strict';

function init() {
    return {
        enable() {
            global.context.unsafe_mode = true;
        },
        disable() {
            global.context.unsafe_mode = false;
        },
    };
}
