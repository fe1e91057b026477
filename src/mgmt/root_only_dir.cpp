#include "mgmt/root_only_dir.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

bool zvapi_root_only(const struct stat& st) {
    return (st.st_uid == 0 || st.st_uid == ::geteuid()) && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

int zvapi_open_root_only_dir(const char* dir, std::string& why) {
    const int fd = ::open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        why = std::string("its directory cannot be opened (") + std::strerror(errno) + ")";
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !zvapi_root_only(st)) {
        why = "users other than root may write its directory";
        ::close(fd);
        return -1;
    }
    return fd;
}
