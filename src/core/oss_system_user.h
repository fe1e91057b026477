// Checking a system user's password and group for a client that logs in as
// that user.
#pragma once

// 0 when the user exists in the shadow-password database, the password is
// right and the user is a member of group "adm" or "root"; else -1.
int OSSValidateSystemUser(const char* user, const char* password);

// 0 when `password` hashes to `storedHash` (the hash is its own salt); a
// stored hash of fewer than two characters never matches. -1 otherwise.
int ValidateSystemUserPassword(const char* storedHash, const char* password);
// 0 when the user is listed as a member of group "adm", else of "root"; -1.
int ValidateSystemUserGroup(const char* user);
// 0 when the user is listed as a member of the group; -1 (also when the group
// does not exist).
int ValidateSystemUserGroupType(const char* user, const char* group);
