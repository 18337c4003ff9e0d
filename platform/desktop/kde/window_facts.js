// Window facts for the tactile display suite, run inside KWin. The process that loaded this script
// (its D-Bus name is put in place of __TAVIK_SERVICE__ when the script is written out) gets the
// whole list of windows again whenever a window appears, goes, is activated, moves, is resized,
// is retitled or changes its place in the stacking order:
//   Report(s) on __TAVIK_PATH__, interface org.tavik.KWinFactsReport1, the text being
//   line 1:   "tavik-window-facts 1" TAB <id of the active window, or empty>
//   a line a window, bottom of the stack first, fields split by TAB:
//     id  pid  stacking  frame x y w h  client x y w h  minimized(0/1)  app id  caption
// The caption is the last field; tabs and line breaks in it and in the app id become spaces. Written for KWin 5.27
// (client* names) and works with the window* names of later versions.
(function () {
    "use strict";
    var service = "__TAVIK_SERVICE__";
    var path = "__TAVIK_PATH__";
    var iface = "org.tavik.KWinFactsReport1";
    var watched = {};

    function windows() {
        if (typeof workspace.windowList === "function") return workspace.windowList();
        if (typeof workspace.clientList === "function") return workspace.clientList();
        return [];
    }
    function active() {
        if (workspace.activeWindow !== undefined) return workspace.activeWindow;
        return workspace.activeClient;
    }
    function idOf(w) {
        return String(w.internalId);
    }
    function num(v) {
        var n = Math.round(Number(v));
        return isFinite(n) ? n : 0;
    }
    function rect(r) {
        if (!r) return "0\t0\t0\t0";
        return num(r.x) + "\t" + num(r.y) + "\t" + num(r.width) + "\t" + num(r.height);
    }
    function plain(v) {
        return String(v === undefined || v === null ? "" : v).replace(/[\t\r\n]/g, " ");
    }
    function shown(w) {
        return w && !w.deleted && !w.specialWindow && (w.normalWindow || w.dialog || w.utility);
    }

    function report() {
        var list = [];
        var all = windows();
        for (var i = 0; i < all.length; ++i)
            if (shown(all[i])) list.push(all[i]);
        list.sort(function (a, b) { return num(a.stackingOrder) - num(b.stackingOrder); });
        var a = active();
        var text = "tavik-window-facts 1\t" + (shown(a) ? idOf(a) : "");
        for (var j = 0; j < list.length; ++j) {
            var w = list[j];
            // KWin 5.27 has no clientGeometry for scripts; there the buffer is the client area.
            var client = w.clientGeometry || w.bufferGeometry || w.frameGeometry;
            text += "\n" + idOf(w) + "\t" + num(w.pid) + "\t" + num(w.stackingOrder) + "\t" + rect(w.frameGeometry) +
                "\t" + rect(client) + "\t" + (w.minimized ? 1 : 0) + "\t" + plain(w.desktopFileName || w.resourceClass) +
                "\t" + plain(w.caption);
        }
        callDBus(service, path, iface, "Report", text);
    }

    function connectIf(signal) {
        if (signal && typeof signal.connect === "function") signal.connect(report);
    }
    function watch(w) {
        if (!w) return;
        var id = idOf(w);
        if (watched[id]) return;
        watched[id] = true;
        connectIf(w.frameGeometryChanged);
        connectIf(w.captionChanged);
        connectIf(w.stackingOrderChanged);
        connectIf(w.minimizedChanged);
        connectIf(w.windowTypeChanged);
    }
    function added(w) {
        watch(w);
        report();
    }
    function removed(w) {
        if (w) delete watched[idOf(w)];
        report();
    }

    var all = windows();
    for (var i = 0; i < all.length; ++i) watch(all[i]);
    connectIf(workspace.clientActivated || workspace.windowActivated);
    if (workspace.clientAdded) workspace.clientAdded.connect(added);
    else if (workspace.windowAdded) workspace.windowAdded.connect(added);
    if (workspace.clientRemoved) workspace.clientRemoved.connect(removed);
    else if (workspace.windowRemoved) workspace.windowRemoved.connect(removed);
    connectIf(workspace.stackingOrderChanged);
    report();
})();
