// The exported mouse calls: the entry's mouse map and the X11 desktop. Without
// an entry or without an X display they fail (0) and send nothing.
#include "client/library_state.h"
#include "client/mouse_ops.h"

using namespace tavik::client;

TAVIK_API int gdGetMouseState(TavikWindow window, int clientFlag, int* inside, int* x, int* y) {
    Library& lib = library();
    Desktop* d = x11Desktop();
    if (!lib.mouseMap || !d) return 0;
    return mouseState(*d, lib.mouseMap->data(), window, clientFlag != 0, inside, x, y);
}

TAVIK_API int gdSendMouseMove(TavikWindow window, int x, int y, int clientFlag) {
    Desktop* d = x11Desktop();
    if (!library().mouseMap || !d) return 0;
    return mouseMove(*d, window, x, y, clientFlag != 0);
}

TAVIK_API int gdSendMouseClick(TavikWindow window, int x, int y, int clientFlag, int buttons) {
    Library& lib = library();
    Desktop* d = x11Desktop();
    if (!lib.mouseMap || !d) return 0;
    return mouseClick(*d, lib.mouseMap->data(), window, x, y, clientFlag != 0, buttons);
}

TAVIK_API int gdStartMouseDrag(TavikWindow window, int x, int y, int clientFlag, int buttons) {
    Library& lib = library();
    Desktop* d = x11Desktop();
    if (!lib.mouseMap || !d) return 0;
    return mouseDrag(*d, lib.mouseMap->data(), window, x, y, clientFlag != 0, buttons);
}
