// A Pemra adapter (chip type 26) has no update flow: the dispatch refuses it
// and nothing is written (its engine is reached only from the library level).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "dispatch/update_dispatch.h"
#include "fixtures/adapters_properties_builder.h"
#include "fixtures/lists_host.h"
#include "fixtures/pemra_image_builder.h"
#include "frontend/output.h"
#include "image/option_rom_request.h"
#include "support/e2e_support.h"

namespace {

TEST(PemraDispatch, PemraAdapterIsRefusedAndLeftUnwritten) {
    if (std::getenv("ZV_ISOLATED") == nullptr) GTEST_SKIP() << "needs the private /tmp";
    zvfix::HostBuilder h;
    zvfix::AdapterSpec& a = h.AddPemra();
    zvfix::ListsHost lists(h, zvfix::AdapterTable({zvfix::TableRow(a.subSystemId, a.subVendorId)}));
    zvtest::TempDir dir;
    const std::string image = dir.Path() + "/pemra.bin";
    zvfix::WriteBytes(image, zvfix::BuildMultibootImage(zvfix::PemraImageSpec(
                                 {.deviceId = 0x8044, .ssvid = a.subVendorId, .ssdid = a.subSystemId})));
    SDMDevice* port = zvfix::ListsHost::Ports().at(0);
    EXPECT_EQ(doISPCheckForOptionROM(port), UPDCLASS_PEMRA);
    SD_UINT16 count = 77;
    EXPECT_EQ(updateOptionROMSingleHBA(port, image.c_str(), &count, 0, 0), UPD_UNSUPPORTED_FAMILY);
    EXPECT_EQ(count, 0);
    EXPECT_TRUE(zvfix::ReadJournal(lists.Dir() + "/host").empty());
}

}  // namespace
