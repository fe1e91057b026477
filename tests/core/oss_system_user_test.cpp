// The system-user check: password hashes, group membership, unknown users.
#include "core/oss_system_user.h"

#include <crypt.h>
#include <gtest/gtest.h>

#include <string>

namespace {

TEST(SystemUser, PasswordAgainstItsStoredHash) {
    crypt_data data{};
    const std::string stored = crypt_r("s3cret", "$6$zvsaltzv$", &data);
    EXPECT_EQ(ValidateSystemUserPassword(stored.c_str(), "s3cret"), 0);
    EXPECT_EQ(ValidateSystemUserPassword(stored.c_str(), "s3cret "), -1);
    EXPECT_EQ(ValidateSystemUserPassword(stored.c_str(), ""), -1);
    // Locked or empty hashes never pass, whatever is given.
    EXPECT_EQ(ValidateSystemUserPassword("!", ""), -1);
    EXPECT_EQ(ValidateSystemUserPassword("", ""), -1);
    EXPECT_EQ(ValidateSystemUserPassword("*", "*"), -1);
}

TEST(SystemUser, GroupsAndUnknownUsers) {
    EXPECT_EQ(ValidateSystemUserGroupType("nobody-zv", "no-such-group-zv"), -1);
    EXPECT_EQ(ValidateSystemUserGroup("no-such-user-zv"), -1);
    EXPECT_EQ(OSSValidateSystemUser("no-such-user-zv", "x"), -1);
    EXPECT_EQ(OSSValidateSystemUser(nullptr, "x"), -1);
}

}  // namespace
