// A Dorne or Vrel image taken as one image set for the adapter: a set it
// cannot start from and what would put wrong bytes into flash are refused
// with 507; what the families' images may leave out, carry for other
// adapters or carry without its being written is not.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "fixtures/multiboot_image_builder.h"
#include "image/image_validation_whole.h"
#include "mgmt/sim/sim_layout.h"

namespace {

using zvfix::Bytes;
using zvfix::MbiComponent;
using zvfix::MultibootImageSpec;

constexpr zvfix::MbiAdapter kDorne{};                    // 0x2261, card type 1
constexpr zvfix::MbiAdapter kVrel{.deviceId = 0x2281};

// The engines write every type of their family's image (and nothing else).
template <uint16_t Chip>
bool Written(SD_UINT32 type) {
    static const MultibootImageSpec s = Chip == 25 ? zvfix::DorneImageSpec(kDorne) : zvfix::VrelImageSpec(kVrel);
    return std::any_of(s.components.begin(), s.components.end(), [type](const MbiComponent& c) { return c.region == type; });
}

struct Family {
    const char* name;
    MultibootImageSpec good;
    uint16_t chipType;
    ImageSetRules rules;
};

std::vector<Family> Families() {
    return {{"Dorne", zvfix::DorneImageSpec(kDorne), 25, {IMAGE_SET_NEEDS_DORNE, Written<25>}},
            {"Vrel", zvfix::VrelImageSpec(kVrel), 27, {IMAGE_SET_NEEDS_VREL, Written<27>}}};
}

std::vector<SDM_OPT_ROM_REGION> Layout(uint16_t chipType) {
    std::vector<SDM_OPT_ROM_REGION> out;
    for (const zvsim_region& r : zvsim_default_layout(chipType)) out.push_back({r.code, r.size});
    return out;
}

int Check(const Family& f, const MultibootImageSpec& spec, uint16_t chipRev = 0) {
    const Bytes image = zvfix::BuildMultibootImage(spec);
    return ValidateImageSetAsWhole(image, 1, chipRev, Layout(f.chipType), f.rules);
}

TEST(WholeImage, EveryBrokenSetIsRefusedAndEverySoundOneAccepted) {
    for (const Family& f : Families()) {
        EXPECT_EQ(Check(f, f.good), 0) << f.name;
        for (const zvfix::MbiVariant& v : zvfix::BrokenSetVariants(f.good, f.chipType))
            EXPECT_EQ(Check(f, v.spec), ILT_WRONG_COMPONENT) << f.name << ": " << v.name;
        for (const zvfix::MbiVariant& v : zvfix::SoundSetVariants(f.good, f.chipType))
            EXPECT_EQ(Check(f, v.spec), 0) << f.name << ": " << v.name;
    }
}

// An entry the engine writes is looked at wherever it stands in the table
// and whatever else serves the adapter; one it does not write never is.
TEST(WholeImage, OnlyWhatIsWrittenMustFitTheLayoutAndTheImage) {
    const Family f = Families()[1];
    const auto with = [&](uint16_t region, size_t size, uint32_t offset) {
        MultibootImageSpec s = f.good;
        s.components.push_back(MbiComponent::Filled(region, size));
        s.components.back().cardTypes = 1;
        s.components.back().offset = offset;
        return s;
    };
    const uint32_t end = static_cast<uint32_t>(zvfix::BuildMultibootImage(f.good).size());
    // A second PEP board configuration after all the others: written, so checked.
    EXPECT_EQ(Check(f, with(0xCF, 0x100, end - 0x100)), 0);
    EXPECT_EQ(Check(f, with(0xCF, 0x100, end - 0x80)), ILT_WRONG_COMPONENT);   // past the end
    EXPECT_EQ(Check(f, with(0xCF, 0, end - 0x100)), ILT_WRONG_COMPONENT);      // empty
    EXPECT_EQ(Check(f, with(0xCF, 0x100, 0x40)), ILT_WRONG_COMPONENT);         // in the table
    // The same for a type the engine does not write.
    for (const uint32_t offset : {end - 0x100, end - 0x80, 0x40u}) EXPECT_EQ(Check(f, with(0xE1, 0x100, offset)), 0);
    // A written type the layout lacks.
    std::vector<SDM_OPT_ROM_REGION> layout = Layout(27);
    std::erase_if(layout, [](const SDM_OPT_ROM_REGION& r) { return r.Region == 0xCF; });
    EXPECT_EQ(ValidateImageSetAsWhole(zvfix::BuildMultibootImage(f.good), 1, 0, layout, f.rules), ILT_WRONG_COMPONENT);
}

TEST(WholeImage, WhatTheSetMayLackOrCarryForOthersIsAccepted) {
    for (const Family& f : Families()) {
        const auto with = [&](auto change) {
            MultibootImageSpec s = f.good;
            change(s);
            return s;
        };
        const std::vector<std::pair<const char*, MultibootImageSpec>> rows = {
            {"only what the adapter runs from", with([&](MultibootImageSpec& s) {
                 std::erase_if(s.components, [&](const MbiComponent& c) {
                     return std::find(f.rules.needs.begin(), f.rules.needs.end(), c.region) == f.rules.needs.end();
                 });
             })},
            // Entries for another card type or chip revision are not combined:
            // their region, size and bytes do not matter to this adapter.
            {"a second firmware for card type 2 over the table", with([](MultibootImageSpec& s) {
                 MbiComponent other = *s.Component(0x01);
                 other.cardTypes = 2;
                 other.offset = 0;
                 s.components.push_back(other);
             })},
            {"an empty entry of region 0 for chip revision 0x30", with([](MultibootImageSpec& s) {
                 s.components.push_back(MbiComponent::Filled(0, 0));
                 s.components.back().chipRev = 0x30;
                 s.components.back().cardTypes = 1;
             })},
            // The first component may begin at the table's last byte + 1.
            {"components right after the table", with([](MultibootImageSpec& s) {
                 s.componentAlign = 1;
             })},
        };
        for (const auto& [name, spec] : rows) EXPECT_EQ(Check(f, spec), 0) << f.name << ": " << name;
    }
}

TEST(WholeImage, TheTableReachesAsFarAsItsLengthOrItsLastList) {
    MultibootImageSpec s = zvfix::DorneImageSpec(kDorne);
    const Bytes plain = zvfix::BuildMultibootImage(s);
    EXPECT_EQ(ILT_TableExtent(plain), zvfix::MbiTableLength(s));

    // A header that claims more: the stamped copy of the table would cover
    // the first component, so the image is refused.
    s.tableLength = static_cast<uint16_t>(zvfix::MbiComponentOffset(s, 0) + 1);
    const Bytes longer = zvfix::BuildMultibootImage(s);
    EXPECT_EQ(ILT_TableExtent(longer), zvfix::MbiComponentOffset(s, 0) + 1);
    EXPECT_EQ(ValidateImageSetAsWhole(longer, 1, 0, Layout(25), Families()[0].rules), ILT_WRONG_COMPONENT);

    // A header that claims less: the lists still belong to the table.
    s.tableLength = 32;
    EXPECT_EQ(ILT_TableExtent(zvfix::BuildMultibootImage(s)), zvfix::MbiTableLength(s));

    // No card type for the adapter: nothing serves it, so the set is incomplete.
    EXPECT_EQ(ValidateImageSetAsWhole(plain, -1, 0, Layout(25), Families()[0].rules), ILT_WRONG_COMPONENT);
    EXPECT_EQ(ValidateImageSetAsWhole(plain, -1, 0, Layout(25), {{}, Written<25>}), 0);
}

}  // namespace
