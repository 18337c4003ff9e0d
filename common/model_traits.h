// The device models the suite knows by name and what each one is: its driver plug-in and line
// speed, its pin grid and text cells, and which features it has. Everything that needs a model's
// traits reads this one table instead of comparing model names.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace tavik {

// The models, numbered as the bitmap viewer numbers them.
enum class Model : int32_t { PinoraPX1 = 0, PinoraNewPX2 = 1, PinoraPX2 = 2, Notaro = 3, QX64X48 = 4 };

struct ModelTraits {
    Model model;
    // Names are NUL-terminated literals: data() may be handed to C callers.
    std::string_view name;    // the model's name, as device rows and ports carry it
    std::string_view driver;  // the plug-in file of its built-in device row
    int32_t speed;            // line speed of its built-in row
    int32_t pinsX;            // pin grid of its built-in row
    int32_t pinsY;
    int32_t textCells;        // text cells of its built-in row
    bool multiLevel;          // its plug-in may send multi-level graphics (when the device accepts them)
    bool noteTaker;           // a braille note-taker: its own keys and key events
    bool ftdi;                // reached over the FTDI USB link (port indexes 64..79), not a serial port
    bool chimes;              // plays the tone tables (the bitmap viewer's chimes)
    bool oneDotArrows;        // in the bitmap viewer its arrow keys with the jump key move by one dot
    bool largeHistogram;      // the bitmap viewer shows only the image and the large histogram screen
    bool japaneseOnly;        // offered only with the Japanese interface
};

// Every model, in the order of Model.
std::span<const ModelTraits> allModels();

// The model with exactly this name (case matters); nullptr for any other name.
const ModelTraits* findModel(std::string_view name);

const ModelTraits& traitsOf(Model model);

// The model numbered `index` (a Model's value); nullptr when no model has that number.
const ModelTraits* modelAt(int32_t index);

// The one model reached over the FTDI USB link.
const ModelTraits& ftdiModel();

// The models of the built-in device rows, in the order the rows are offered.
std::span<const Model> builtInRowOrder();

}  // namespace tavik
