// A Dorne or Vrel image taken as one image set for the adapter: what makes
// no complete set is refused with 507, what the families' images may leave
// out or carry for other adapters is not.
#include <gtest/gtest.h>

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

struct Family {
    const char* name;
    MultibootImageSpec good;
    uint16_t chipType;
    std::span<const SD_UINT32> needs;
};

std::vector<Family> Families() {
    return {{"Dorne", zvfix::DorneImageSpec(kDorne), 25, IMAGE_SET_NEEDS_DORNE},
            {"Vrel", zvfix::VrelImageSpec(kVrel), 27, IMAGE_SET_NEEDS_VREL}};
}

std::vector<SDM_OPT_ROM_REGION> Layout(uint16_t chipType) {
    std::vector<SDM_OPT_ROM_REGION> out;
    for (const zvsim_region& r : zvsim_default_layout(chipType)) out.push_back({r.code, r.size});
    return out;
}

int Check(const Family& f, const MultibootImageSpec& spec, uint16_t chipRev = 0) {
    const Bytes image = zvfix::BuildMultibootImage(spec);
    return ValidateImageSetAsWhole(image, 1, chipRev, Layout(f.chipType), f.needs);
}

TEST(WholeImage, EveryBrokenSetIsRefused) {
    for (const Family& f : Families()) {
        EXPECT_EQ(Check(f, f.good), 0) << f.name;
        for (const zvfix::MbiVariant& v : zvfix::BrokenSetVariants(f.good))
            EXPECT_EQ(Check(f, v.spec), ILT_WRONG_COMPONENT) << f.name << ": " << v.name;
    }
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
                     return std::find(f.needs.begin(), f.needs.end(), c.region) == f.needs.end();
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
    EXPECT_EQ(ValidateImageSetAsWhole(longer, 1, 0, Layout(25), IMAGE_SET_NEEDS_DORNE), ILT_WRONG_COMPONENT);

    // A header that claims less: the lists still belong to the table.
    s.tableLength = 32;
    EXPECT_EQ(ILT_TableExtent(zvfix::BuildMultibootImage(s)), zvfix::MbiTableLength(s));

    // No card type for the adapter: nothing serves it, so the set is incomplete.
    EXPECT_EQ(ValidateImageSetAsWhole(plain, -1, 0, Layout(25), IMAGE_SET_NEEDS_DORNE), ILT_WRONG_COMPONENT);
    EXPECT_EQ(ValidateImageSetAsWhole(plain, -1, 0, Layout(25), {}), 0);
}

}  // namespace
