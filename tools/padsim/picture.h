// Pictures of the pins: Unicode braille text for a terminal (U+2800 block, 2 x 4
// dots per character) and a PNG file (written with zlib, no other library).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace padsim {

// Rows of braille characters (UTF-8, '\n' after each) for the dots of a W x H
// image whose value passes `minValue` (1: every raised pin, 2: plane 2 / level 2+).
std::string brailleRows(std::span<const uint8_t> dots, int width, int height, uint8_t minValue);

// One braille character (UTF-8) per text cell byte, bit i = dot i + 1.
std::string brailleCells(std::span<const uint8_t> cells);

// Encodes an RGB image (3 bytes per pixel, rows top to bottom) as PNG.
std::vector<uint8_t> encodePng(std::span<const uint8_t> rgb, int width, int height);

// Draws the pins (value 0 down, 1 plane 1, >= 2 plane 2 or a level, shaded up to
// `maxValue`) as circles on a dark board and returns the RGB pixels; `cell` is the
// pixel pitch of one pin. `widthPx`/`heightPx` receive the picture size.
std::vector<uint8_t> drawPins(std::span<const uint8_t> dots, int width, int height, int maxValue, int cell,
                              int& widthPx, int& heightPx);

// drawPins + encodePng + atomic write. False when the file cannot be written.
bool writePinsPng(const std::string& path, std::span<const uint8_t> dots, int width, int height, int maxValue);

}  // namespace padsim
