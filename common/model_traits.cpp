// The table of models.
#include "common/model_traits.h"

#include <array>

namespace tavik {

namespace {

// clang-format off
constexpr std::array<ModelTraits, 5> kModels{{
    // model               name               driver           speed   X   Y  text  multi  note   ftdi   chimes 1dot   large  ja
    {Model::PinoraPX1,    "Pinora PX-1",     "Padrik.dll",    38400,  32, 24,  0,   true,  false, false, false, false, false, false},
    {Model::PinoraNewPX2, "Pinora New PX-2", "Padrik_ft.dll", 921600, 48, 32,  0,   true,  false, true,  true,  true,  false, false},
    {Model::PinoraPX2,    "Pinora PX-2",     "Padrik.dll",    38400,  48, 32,  0,   true,  false, false, true,  true,  false, false},
    {Model::Notaro,       "Notaro",          "Notdrv.dll",    9600,   4,  32,  0,   false, true,  false, false, false, false, true},
    {Model::QX64X48,      "QX-64X48",        "Padrik.dll",    38400,  64, 48,  32,  true,  false, false, false, false, true,  false},
}};
// clang-format on

constexpr std::array<Model, 5> kBuiltInOrder{Model::PinoraPX1, Model::PinoraPX2, Model::Notaro, Model::QX64X48,
                                             Model::PinoraNewPX2};

constexpr bool tableInModelOrder() {
    for (std::size_t i = 0; i < kModels.size(); ++i)
        if (static_cast<std::size_t>(kModels[i].model) != i) return false;
    return true;
}
static_assert(tableInModelOrder(), "the table is indexed by Model");

}  // namespace

std::span<const ModelTraits> allModels() { return kModels; }

const ModelTraits* findModel(std::string_view name) {
    for (const ModelTraits& m : kModels)
        if (m.name == name) return &m;
    return nullptr;
}

const ModelTraits& traitsOf(Model model) { return kModels[static_cast<std::size_t>(model)]; }

const ModelTraits* modelAt(int32_t index) {
    return index >= 0 && static_cast<std::size_t>(index) < kModels.size() ? &kModels[static_cast<std::size_t>(index)]
                                                                          : nullptr;
}

const ModelTraits& ftdiModel() { return traitsOf(Model::PinoraNewPX2); }

std::span<const Model> builtInRowOrder() { return kBuiltInOrder; }

}  // namespace tavik
