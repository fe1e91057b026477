// Directories where only root may put anything ("/run"): what the library's
// shared database and the host's update lock live in, so that no other user
// can plant a file, link or FIFO under their names.
#pragma once

#include <string>
#include <sys/stat.h>

// Owned by root (or this process's user) and writable by neither group nor
// others.
bool zvapi_root_only(const struct stat& st);

// Opens `dir` (O_DIRECTORY, O_CLOEXEC) when it is root-only; -1 with `why`
// ("its directory cannot be opened (...)" or "users other than root may
// write its directory") otherwise.
int zvapi_open_root_only_dir(const char* dir, std::string& why);
