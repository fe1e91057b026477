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
    EXPECT_EQ(isWindowsFCoEDriverWithResetDisableSupport("9.1.9.39", 0), 1);
    EXPECT_EQ(isWindowsFCoEDriverWithResetDisableSupport("9.1.9.46", 1), 1);
    EXPECT_EQ(isWindowsFCoEDriverWithResetDisableSupport("9.1.9.38", 1), 0);
    EXPECT_EQ(isWindowsFCoEDriverWithResetDisableSupport("9.1.9.40", 1), 1);
    EXPECT_EQ(isWindowsFCoEDriverWithResetDisableSupport("9.1.9.40", 0), 0);
    EXPECT_EQ(isWindowsFCoEDriverWithResetDisableSupport("9,1,9,50", 0), 1);
    EXPECT_EQ(isWindowsFCoEDriverWithResetDisableSupport("9.1.10", 0), 1);
    EXPECT_EQ(isWindowsFCoEDriverWithResetDisableSupport("9.1.9", 1), 0);
    EXPECT_EQ(isWindowsFCoEDriverWithResetDisableSupport("10", 1), 1);
    EXPECT_EQ(isWindowsFCoEDriverWithResetDisableSupport("8.9.9.99", 1), 0);
    EXPECT_EQ(isWindowsFCoEDriverWithResetDisableSupport(nullptr, 1), 0);
}

}  // namespace
