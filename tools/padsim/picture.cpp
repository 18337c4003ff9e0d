// Braille text and PNG pictures of the pins.
#include "picture.h"

#include <zlib.h>

#include <algorithm>
#include <string>

#include "state_file.h"

namespace padsim {

namespace {

void appendUtf8Braille(std::string& s, unsigned bits) {
    const unsigned cp = 0x2800 + (bits & 0xFF);
    s += static_cast<char>(0xE0 | (cp >> 12));
    s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (cp & 0x3F));
}

void put32(std::vector<uint8_t>& v, uint32_t x) {
    for (int i = 3; i >= 0; --i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}

void chunk(std::vector<uint8_t>& png, const char* type, std::span<const uint8_t> data) {
    put32(png, static_cast<uint32_t>(data.size()));
    const size_t start = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), data.begin(), data.end());
    const uLong crc = crc32(0L, png.data() + start, static_cast<uInt>(png.size() - start));
    put32(png, static_cast<uint32_t>(crc));
}

}  // namespace

std::string brailleRows(std::span<const uint8_t> dots, int width, int height, uint8_t minValue) {
    // Bit of the braille character for dot (dx, dy) inside the 2 x 4 block.
    static constexpr unsigned kBit[4][2] = {{0x01, 0x08}, {0x02, 0x10}, {0x04, 0x20}, {0x40, 0x80}};
    std::string s;
    if (width <= 0 || height <= 0 || dots.size() < static_cast<size_t>(width) * static_cast<size_t>(height)) return s;
    for (int y = 0; y < height; y += 4) {
        for (int x = 0; x < width; x += 2) {
            unsigned bits = 0;
            for (int dy = 0; dy < 4 && y + dy < height; ++dy)
                for (int dx = 0; dx < 2 && x + dx < width; ++dx)
                    if (dots[static_cast<size_t>((y + dy) * width + x + dx)] >= minValue) bits |= kBit[dy][dx];
            appendUtf8Braille(s, bits);
        }
        s += '\n';
    }
    return s;
}

std::string brailleCells(std::span<const uint8_t> cells) {
    std::string s;
    for (uint8_t c : cells) appendUtf8Braille(s, c);
    return s;
}

std::vector<uint8_t> encodePng(std::span<const uint8_t> rgb, int width, int height) {
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> ihdr;
    put32(ihdr, static_cast<uint32_t>(width));
    put32(ihdr, static_cast<uint32_t>(height));
    ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});  // 8-bit RGB, deflate, no filter, no interlace
    chunk(png, "IHDR", ihdr);

    const size_t stride = static_cast<size_t>(width) * 3;
    std::vector<uint8_t> raw;
    raw.reserve((stride + 1) * static_cast<size_t>(height));
    for (int y = 0; y < height; ++y) {
        raw.push_back(0);  // filter: none
        const auto row = rgb.subspan(static_cast<size_t>(y) * stride, stride);
        raw.insert(raw.end(), row.begin(), row.end());
    }
    uLongf zlen = compressBound(static_cast<uLong>(raw.size()));
    std::vector<uint8_t> z(zlen);
    if (compress2(z.data(), &zlen, raw.data(), static_cast<uLong>(raw.size()), 6) != Z_OK) return {};
    z.resize(zlen);
    chunk(png, "IDAT", z);
    chunk(png, "IEND", {});
    return png;
}

std::vector<uint8_t> drawPins(std::span<const uint8_t> dots, int width, int height, int maxValue, int cell,
                              int& widthPx, int& heightPx) {
    widthPx = width * cell;
    heightPx = height * cell;
    std::vector<uint8_t> rgb(static_cast<size_t>(widthPx) * static_cast<size_t>(heightPx) * 3);
    for (size_t i = 0; i < rgb.size(); i += 3) {  // board
        rgb[i] = 40;
        rgb[i + 1] = 44;
        rgb[i + 2] = 52;
    }
    const double r = cell * 0.38, c0 = (cell - 1) / 2.0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint8_t v = dots[static_cast<size_t>(y * width + x)];
            uint8_t col[3];
            if (v == 0) {
                col[0] = 70, col[1] = 76, col[2] = 88;  // lowered pin
            } else if (v == 1 && maxValue <= 2) {
                col[0] = 245, col[1] = 245, col[2] = 245;  // plane 1: white
            } else if (maxValue <= 2) {
                col[0] = 255, col[1] = 150, col[2] = 30;  // plane 2: orange
            } else {  // multi-level: brighter with the value
                const double t = std::min(1.0, static_cast<double>(v) / maxValue);
                col[0] = static_cast<uint8_t>(90 + 165 * t);
                col[1] = static_cast<uint8_t>(90 + 120 * t);
                col[2] = static_cast<uint8_t>(40 + 20 * t);
            }
            const double rr = v == 0 ? r * 0.45 : r;
            for (int py = 0; py < cell; ++py)
                for (int px = 0; px < cell; ++px) {
                    const double dx = px - c0, dy = py - c0;
                    if (dx * dx + dy * dy > rr * rr) continue;
                    const size_t o = (static_cast<size_t>(y * cell + py) * static_cast<size_t>(widthPx) +
                                      static_cast<size_t>(x * cell + px)) * 3;
                    rgb[o] = col[0];
                    rgb[o + 1] = col[1];
                    rgb[o + 2] = col[2];
                }
        }
    return rgb;
}

bool writePinsPng(const std::string& path, std::span<const uint8_t> dots, int width, int height, int maxValue) {
    if (width <= 0 || height <= 0 || dots.size() < static_cast<size_t>(width) * static_cast<size_t>(height))
        return false;
    int w = 0, h = 0;
    const auto rgb = drawPins(dots, width, height, maxValue, 10, w, h);
    const auto png = encodePng(rgb, w, h);
    if (png.empty()) return false;
    return writeFileAtomically(path, std::string(png.begin(), png.end()));
}

}  // namespace padsim
