// The counters the I/O-count preload keeps in its shared file.
#pragma once

struct ZvBenchIoCounters {
    unsigned long long readCalls;
    unsigned long long readBytes;
    unsigned long long writeCalls;
    unsigned long long writeBytes;
    unsigned long long peakRssKiB;   // VmHWM of the program when it ends
};
