// The option-ROM disable answer and the Windows FCoE driver version test.
#include "dispatch/option_rom_commands.h"

#include <gtest/gtest.h>

#include "fixtures/adapters_properties_builder.h"
#include "fixtures/host_builder.h"
#include "fixtures/lists_host.h"

namespace {

TEST(OptionRomCommands, DisableAnswerFollowsSupportAndUpdateType) {
    EXPECT_EQ(disableOptionROMCmdOnHBA(nullptr), 19);
    zvfix::HostBuilder h;
    h.AddChip25TwoPort().subSystemId = 0x0289;
    h.AddChip27().subSystemId = 0x02AA;
    zvfix::ListsHost lists(h, zvfix::AdapterTable({zvfix::TableRow(0x0289, 0x1A77)}));
    const auto ports = zvfix::ListsHost::Ports();
    ASSERT_EQ(ports.size(), 4u);
    for (SDMDevice* p : ports)
        EXPECT_EQ(disableOptionROMCmdOnHBA(p), p->DeviceChipProperty.SubSystemID == 0x0289 ? 1 : 19);
}

TEST(OptionRomCommands, FcoeDriverVersionsThatUpdateWithoutReset) {
    const struct {
        const char* version;
        int flag, want;
    } rows[] = {{"9.1.9.39", 0, 1}, {"9.1.9.46", 1, 1}, {"9.1.9.38", 1, 0}, {"9.1.9.40", 1, 1}, {"9.1.9.40", 0, 0},
                {"9,1,9,50", 0, 1}, {"9.1.10", 0, 1},   {"9.1.9", 1, 0},    {"10", 1, 1},       {"8.9.9.99", 1, 0},
                {nullptr, 1, 0}};
    for (const auto& r : rows)
        EXPECT_EQ(isWindowsFCoEDriverWithResetDisableSupport(r.version, r.flag), r.want) << (r.version ? r.version : "null");
}

}  // namespace
