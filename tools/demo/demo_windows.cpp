// demo_windows: the sample windows of the screen viewer's demo on an X display
// without a window manager. It opens a white window with a black border and
// the letters "HI" in blocks, makes it the window in front (_NET_ACTIVE_WINDOW,
// as a window manager would), and on SIGUSR1 (or with --second-after SECONDS
// by itself) opens a black window with a white "B" beside it and brings that
// one to the front.
// Prints "ready" on stdout once the first window is in front; ends on SIGTERM
// or SIGINT, or when the display goes away.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

volatile std::sig_atomic_t gStop = 0, gSecond = 0;
void onSignal(int) { gStop = 1; }
void onSecond(int) { gSecond = 1; }

// 5 x 7 block glyphs, one string per row ('#' = block).
using Glyph = std::array<std::string_view, 7>;
constexpr Glyph kH{"#...#", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"};
constexpr Glyph kI{"#####", "..#..", "..#..", "..#..", "..#..", "..#..", "#####"};
constexpr Glyph kB{"####.", "#...#", "#...#", "####.", "#...#", "#...#", "####."};

struct Look {
    unsigned long background, ink;
};

void drawGlyph(Display* d, Drawable w, GC gc, const Glyph& g, int x, int y, int block) {
    for (int r = 0; r < 7; ++r)
        for (int c = 0; c < 5; ++c)
            if (g[size_t(r)][size_t(c)] == '#') XFillRectangle(d, w, gc, x + c * block, y + r * block, unsigned(block), unsigned(block));
}

// A window whose picture is its background pixmap: the server repaints it by itself.
Window sampleWindow(Display* d, int x, int y, int w, int h, Look look, std::initializer_list<const Glyph*> text,
                    const char* name) {
    const int screen = DefaultScreen(d);
    const Window root = RootWindow(d, screen);
    const Pixmap pm = XCreatePixmap(d, root, unsigned(w), unsigned(h), unsigned(DefaultDepth(d, screen)));
    GC gc = XCreateGC(d, pm, 0, nullptr);
    XSetForeground(d, gc, look.background);
    XFillRectangle(d, pm, gc, 0, 0, unsigned(w), unsigned(h));
    XSetForeground(d, gc, look.ink);
    for (int i = 0; i < 3; ++i) XDrawRectangle(d, pm, gc, i, i, unsigned(w - 1 - 2 * i), unsigned(h - 1 - 2 * i));
    int at = 8;
    for (const Glyph* g : text) {
        drawGlyph(d, pm, gc, *g, at, 8, 4);
        at += 28;
    }
    XFreeGC(d, gc);
    XSetWindowAttributes a{};
    a.background_pixmap = pm;
    a.override_redirect = False;
    const Window win = XCreateWindow(d, root, x, y, unsigned(w), unsigned(h), 0, CopyFromParent, InputOutput,
                                     CopyFromParent, CWBackPixmap, &a);
    XFreePixmap(d, pm);
    XStoreName(d, win, name);
    const unsigned long pid = static_cast<unsigned long>(::getpid());
    XChangeProperty(d, win, XInternAtom(d, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&pid), 1);
    XMapRaised(d, win);
    return win;
}

void bringToFront(Display* d, Window w) {
    XRaiseWindow(d, w);
    const unsigned long id = w;
    XChangeProperty(d, DefaultRootWindow(d), XInternAtom(d, "_NET_ACTIVE_WINDOW", False), XA_WINDOW, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(&id), 1);
    XSync(d, False);
}

int ioError(Display*) { std::_Exit(0); }  // the display went away: the demo is over

}  // namespace

int main(int argc, char** argv) {
    double secondAfter = -1;
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (a == "--help" || a == "-h") {
            std::puts("usage: demo_windows [--second-after SECONDS]\n"
                      "Opens the demo's sample window on $DISPLAY and makes it the window in front;\n"
                      "a second window comes to the front on SIGUSR1 or, with --second-after, after SECONDS.");
            return 0;
        }
        if (a == "--second-after" && i + 1 < argc) {
            char* end = nullptr;
            secondAfter = std::strtod(argv[++i], &end);
            if (!end || *end || secondAfter < 0 || secondAfter > 86400) {
                std::fprintf(stderr, "demo_windows: --second-after needs seconds (0..86400)\n");
                return 2;
            }
            continue;
        }
        std::fprintf(stderr, "demo_windows: unknown argument \"%s\" (try --help)\n", argv[i]);
        return 2;
    }
    Display* d = XOpenDisplay(nullptr);
    if (!d) {
        std::fprintf(stderr, "demo_windows: cannot open the X display \"%s\"\n", std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "");
        return 1;
    }
    XSetIOErrorHandler(ioError);
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);
    std::signal(SIGUSR1, onSecond);

    const Window first = sampleWindow(d, 20, 20, 200, 150, {0xFFFFFF, 0x000000}, {&kH, &kI}, "Lumo sample");
    bringToFront(d, first);
    std::puts("ready");
    std::fflush(stdout);

    const auto start = std::chrono::steady_clock::now();
    bool secondShown = false;
    while (!gStop) {
        while (XPending(d)) {
            XEvent e;
            XNextEvent(d, &e);
        }
        const bool due = gSecond || (secondAfter >= 0 && std::chrono::steady_clock::now() - start >=
                                                          std::chrono::duration<double>(secondAfter));
        if (!secondShown && due) {
            const Window second =
                sampleWindow(d, 260, 120, 200, 150, {0x000000, 0xFFFFFF}, {&kB}, "Lumo sample 2");
            bringToFront(d, second);
            secondShown = true;
        }
        pollfd p{ConnectionNumber(d), POLLIN, 0};
        ::poll(&p, 1, 100);
    }
    XCloseDisplay(d);
    return 0;
}
