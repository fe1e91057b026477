// The update lock's directory: one that users other than root may write (or
// that another user owns) is refused with the reason, and nothing is made in
// it. A whole run stops earlier on such a /run, at the library's start
// (tests/e2e/planted_inputs_test.cpp), so the refusal is seen here.
#include "cli/update_lock.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace {

TEST(UpdateLockDirectory, ADirectoryOthersMayWriteIsRefusedWithTheReason) {
    if (std::getenv("ZV_ISOLATED") == nullptr) GTEST_SKIP() << "needs the private /run";
    struct Row {
        const char* what;
        uid_t owner;
        mode_t mode;
    };
    for (const Row& row : {Row{"others may write it", 0, 01777}, Row{"its group may write it", 0, 0775},
                           Row{"another user owns it", 65534, 0755}}) {
        SCOPED_TRACE(row.what);
        ASSERT_EQ(chown("/run", row.owner, 0), 0);
        ASSERT_EQ(chmod("/run", row.mode), 0);
        std::string why;
        const UpdateLock lock = TakeUpdateLock(why);
        ASSERT_EQ(chown("/run", 0, 0), 0);
        ASSERT_EQ(chmod("/run", 0755), 0);
        EXPECT_EQ(lock, UpdateLock::Unusable);
        EXPECT_EQ(why, "users other than root may write its directory");
        EXPECT_NE(access("/run/zv_mctp_update.lock", F_OK), 0) << "nothing made there";
    }
    std::string why;
    EXPECT_EQ(TakeUpdateLock(why), UpdateLock::Taken) << why;
}

}  // namespace
