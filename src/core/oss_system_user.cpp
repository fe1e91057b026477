// System-user check: shadow password and group membership.
#include "core/oss_system_user.h"

#include <crypt.h>
#include <grp.h>
#include <shadow.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "core/core_log.h"

int ValidateSystemUserPassword(const char* storedHash, const char* password) {
    if (storedHash == nullptr || password == nullptr) return -1;
    // A hash too short to be a salt is compared with a hash under a fixed
    // salt, which it can never equal: such an account never passes.
    const char* salt = std::strlen(storedHash) >= 2 ? storedHash : "zv";
    auto data = std::unique_ptr<crypt_data>(new (std::nothrow) crypt_data());
    if (!data) return -1;
    const char* hashed = crypt_r(password, salt, data.get());
    if (hashed == nullptr || hashed[0] == '*' || std::strlen(storedHash) < 2) return -1;
    return std::strcmp(hashed, storedHash) == 0 ? 0 : -1;
}

int ValidateSystemUserGroupType(const char* user, const char* group) {
    if (user == nullptr || group == nullptr) return -1;
    std::vector<char> buf(16384);
    struct group gr {};
    struct group* found = nullptr;
    int rc;
    while ((rc = ::getgrnam_r(group, &gr, buf.data(), buf.size(), &found)) == ERANGE && buf.size() < (1u << 20))
        buf.resize(buf.size() * 4);
    if (rc != 0 || found == nullptr) {
        CoreLogMessage(ZV_MSG_ERROR, "ERROR - %s group  does not exist", group);
        return -1;
    }
    for (char** m = gr.gr_mem; m != nullptr && *m != nullptr; ++m)
        if (std::strcmp(*m, user) == 0) return 0;
    CoreLogMessage(ZV_MSG_ERROR, "ERROR - User is not of the %s group", group);
    return -1;
}

int ValidateSystemUserGroup(const char* user) {
    if (ValidateSystemUserGroupType(user, "adm") == 0 || ValidateSystemUserGroupType(user, "root") == 0) return 0;
    return -1;
}

int OSSValidateSystemUser(const char* user, const char* password) {
    if (user == nullptr || password == nullptr) return -1;
    std::vector<char> buf(16384);
    struct spwd sp {};
    struct spwd* found = nullptr;
    ::setspent();
    const int rc = ::getspnam_r(user, &sp, buf.data(), buf.size(), &found);
    int result = 0;
    if (rc != 0 || found == nullptr) {
        CoreLogMessage(ZV_MSG_ERROR, "Invalid User Login");
        result = -1;
    } else if (ValidateSystemUserPassword(sp.sp_pwdp, password) != 0) {
        CoreLogMessage(ZV_MSG_ERROR, "Invalid User Password");
        result = -1;
    } else if (ValidateSystemUserGroup(user) != 0) {
        CoreLogMessage(ZV_MSG_ERROR, "Invalid User not in adm or root groups");
        result = -1;
    }
    ::endspent();
    return result;
}
