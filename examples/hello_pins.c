/* hello_pins: the smallest program on the suite's installed libraries. It
 * enters a port, raises a frame and a checkerboard square on the pins and
 * writes "hello" in braille; with a BMP file it also reports the picture's
 * size through the image library. Build it with pkg-config or CMake (see
 * CMakeLists.txt beside this file). */
#define _POSIX_C_SOURCE 200809L
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <tavikutil.h>
#include <lumoutil.h>

static void on_status(int status) { fprintf(stderr, "hello_pins: connection status %d\n", status); }

static void set_dot(unsigned char* plane, int width, int x, int y) {
    plane[(y / 8) * width + x] |= (unsigned char)(1u << (y % 8));
}

int main(int argc, char** argv) {
    const char* model = "QX-64X48";
    const char* picture = NULL;
    int port = 0, seconds = 2;
    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "--model") && i + 1 < argc) model = argv[++i];
        else if (!strcmp(argv[i], "--port") && i + 1 < argc) port = atoi(argv[++i]);
        else if (!strcmp(argv[i], "--seconds") && i + 1 < argc) seconds = atoi(argv[++i]);
        else if (!strcmp(argv[i], "--help")) {
            printf("Usage: hello_pins [--model NAME] [--port N] [--seconds S] [PICTURE.bmp]\n");
            return 0;
        } else picture = argv[i];
    }
    if (picture) {
        int32_t size[2] = {0, 0}; /* width, height */
        LumoHBITMAP bmp = lumoLoadBmp(picture, size);
        if (!bmp) {
            fprintf(stderr, "hello_pins: cannot read %s\n", picture);
            return 1;
        }
        printf("hello_pins: read %s (%d x %d pixels)\n", picture, (int)size[0], (int)size[1]);
        lumoDeleteBitmap(bmp);
    }
    const char* name = NULL;
    int cells = 0, width = 0, height = 0;
    if (!gdStart(model, port, on_status)) {
        fprintf(stderr, "hello_pins: cannot enter port %d as %s\n", port, model);
        return 1;
    }
    int index = 0, status = 0;
    if (!gdGetPortInfo(&index, &status, &name) || !gdQueryEquipment(index, &name, &cells, &width, &height) ||
        width <= 0 || height <= 0 || width > 256 || height > 256) {
        width = 64;
        height = 48;
        cells = 32;
    }
    /* Display mode (bit 0) as the default client (bit 1): shown when no window is in front. */
    gdStartDisplayMode(3, NULL, NULL, NULL);
    unsigned char* plane = calloc((size_t)width * (size_t)((height + 7) / 8), 1);
    unsigned char* none = calloc((size_t)width * (size_t)((height + 7) / 8), 1);
    if (!plane || !none) return 1;
    for (int x = 0; x < width; ++x) {
        set_dot(plane, width, x, 0);
        set_dot(plane, width, x, height - 1);
    }
    for (int y = 0; y < height; ++y) {
        set_dot(plane, width, 0, y);
        set_dot(plane, width, width - 1, y);
    }
    for (int y = 4; y < 12 && y < height; ++y)
        for (int x = 4; x < 12 && x < width; ++x)
            if ((x + y) % 2 == 0) set_dot(plane, width, x, y);
    gdDisplayGraphicData(plane, none, 10);
    if (cells > 0) {
        unsigned char text[256] = {0};
        const unsigned char hello[] = {0x13, 0x11, 0x70, 0x70, 0x51};
        memcpy(text, hello, sizeof hello);
        gdDisplayTextData(text);
    }
    printf("hello_pins: %dx%d pins, %d cells on port %d\n", width, height, cells, index);
    fflush(stdout);
    struct timespec pause = {seconds, 0};
    nanosleep(&pause, NULL);
    gdEndDisplayMode();
    gdEnd();
    free(plane);
    free(none);
    return 0;
}
