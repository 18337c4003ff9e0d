// The model table: names found exactly, numbers that index it and nothing past it, and the
// traits that single out one model each (the FTDI one, the note-taker, the large display).
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "common/model_traits.h"

namespace {

using tavik::allModels;
using tavik::findModel;
using tavik::Model;
using tavik::modelAt;

TEST(ModelTraits, NamesAreFoundExactlyAndNumberTheTable) {
    std::set<std::string> names;
    for (const auto& m : allModels()) {
        names.insert(std::string(m.name));
        ASSERT_EQ(findModel(m.name), &m);
        EXPECT_EQ(modelAt(static_cast<int32_t>(m.model)), &m);
        EXPECT_EQ(m.name.data()[m.name.size()], '\0');  // handed to C callers as is
    }
    EXPECT_EQ(names.size(), allModels().size());
    EXPECT_EQ(findModel("notaro"), nullptr);
    EXPECT_EQ(findModel("Pinora PX-2 "), nullptr);
    EXPECT_EQ(findModel(""), nullptr);
    EXPECT_EQ(modelAt(-1), nullptr);
    EXPECT_EQ(modelAt(static_cast<int32_t>(allModels().size())), nullptr);
    EXPECT_EQ(findModel("Notaro")->model, Model::Notaro);
    EXPECT_EQ(findModel("QX-64X48")->model, Model::QX64X48);
}

TEST(ModelTraits, EachSpecialTraitBelongsToTheRightModels) {
    for (const auto& m : allModels()) {
        const bool px2 = m.model == Model::PinoraPX2 || m.model == Model::PinoraNewPX2;
        EXPECT_EQ(m.ftdi, m.model == Model::PinoraNewPX2) << m.name;
        EXPECT_EQ(m.noteTaker, m.model == Model::Notaro) << m.name;
        EXPECT_EQ(m.multiLevel, !m.noteTaker) << m.name;
        EXPECT_EQ(m.japaneseOnly, m.noteTaker) << m.name;
        EXPECT_EQ(m.chimes, px2) << m.name;
        EXPECT_EQ(m.oneDotArrows, px2) << m.name;
        EXPECT_EQ(m.largeHistogram, m.model == Model::QX64X48) << m.name;
        EXPECT_EQ(m.textCells, m.model == Model::QX64X48 ? 32 : 0) << m.name;
    }
    EXPECT_EQ(tavik::ftdiModel().name, "Pinora New PX-2");
    EXPECT_EQ(tavik::ftdiModel().driver, "Padrik_ft.dll");
    EXPECT_EQ(tavik::traitsOf(Model::Notaro).driver, "Notdrv.dll");
    // Every model has exactly one built-in row.
    std::set<Model> rows(tavik::builtInRowOrder().begin(), tavik::builtInRowOrder().end());
    EXPECT_EQ(rows.size(), allModels().size());
    EXPECT_EQ(tavik::builtInRowOrder().size(), allModels().size());
}

}  // namespace
