// The System V semaphore sets of the test's IPC namespace, as the kernel
// lists them (/proc/sysvipc/sem), and what tests compare of one set.
#pragma once

#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/types.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace zvtest {

// Ids of the sets that `uid` owns.
inline std::vector<int> SemaphoreSetsOf(uid_t uid) {
    std::vector<int> ids;
    std::ifstream in("/proc/sysvipc/sem");
    std::string line;
    std::getline(in, line);   // the column names
    while (std::getline(in, line)) {
        std::istringstream row(line);
        long long key = 0, perms = 0, nsems = 0, owner = -1;
        int id = -1;
        if (row >> key >> id >> perms >> nsems >> owner && owner == static_cast<long long>(uid)) ids.push_back(id);
    }
    return ids;
}

// What a set is: owner, creator, mode, count and every semaphore's value
// ("" when the set is gone).
inline std::string SemaphoreSetState(int id) {
    struct semid_ds ds {};
    if (id < 0 || ::semctl(id, 0, IPC_STAT, &ds) != 0) return "";
    std::ostringstream s;
    s << "uid " << ds.sem_perm.uid << " cuid " << ds.sem_perm.cuid << " mode " << std::oct
      << (ds.sem_perm.mode & 0777) << std::dec << " nsems " << ds.sem_nsems << " values";
    for (unsigned long i = 0; i < ds.sem_nsems; ++i) s << ' ' << ::semctl(id, static_cast<int>(i), GETVAL);
    return s.str();
}

}  // namespace zvtest
