// Writes the fuzz seed corpus: one small valid file of every kind the reader supports.
// Build and run by hand from the repository root:
//   g++ -std=c++20 -I. fuzz/imaging/make_corpus.cpp -o /tmp/make_corpus && /tmp/make_corpus fuzz/imaging/corpus
#include <fstream>
#include <string>

#include "tests/imaging/bmp_encode.h"

using namespace lumotest;

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const std::string dir = argv[1];
    const Pixels colours = eightColours();
    Pixels mono(9, 3);
    for (int i = 0; i < 27; ++i) mono.px[i] = i % 4 ? rgb(255, 255, 255) : 0;
    auto out = [&](const std::string& name, const Pixels& img, BmpKind k) {
        const auto bytes = encodeBmp(img, k);
        std::ofstream(dir + "/" + name + ".bmp", std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    };
    BmpKind k;
    for (int bits : {1, 4, 8, 16, 24, 32}) {
        k = BmpKind{};
        k.bits = bits;
        const Pixels& img = bits == 1 ? mono : colours;
        out("info" + std::to_string(bits), img, k);
        k.topDown = true;
        out("topdown" + std::to_string(bits), img, k);
        k.topDown = false;
        k.fileHeader = false;
        out("bare" + std::to_string(bits), img, k);
        if (bits <= 8 || bits == 24) {
            k = BmpKind{};
            k.bits = bits;
            k.header = HeaderKind::Core;
            out("core" + std::to_string(bits), img, k);
        }
    }
    k = BmpKind{};
    k.bits = 16;
    k.compression = 3;
    k.masks[0] = 0xF800, k.masks[1] = 0x07E0, k.masks[2] = 0x001F;
    out("fields16", colours, k);
    k.bits = 32;
    k.masks[0] = 0xFF00, k.masks[1] = 0xFF0000, k.masks[2] = 0xFF000000;
    out("fields32", colours, k);
    k = BmpKind{};
    k.bits = 8;
    k.compression = 1;
    out("rle8", colours, k);
    k.bits = 4;
    k.compression = 2;
    out("rle4", colours, k);
    return 0;
}
