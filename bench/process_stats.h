#pragma once

// What a long run watches of its own process, read from /proc and getrusage (Linux): memory,
// descriptors, threads and CPU time. A figure that cannot be read is 0, never an error: the
// runs that use these print it and go on.
#include <sys/resource.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

namespace orvane::bench {

// Resident memory of this process in MB (VmRSS).
inline double ResidentMegabytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::strtod(line.c_str() + 6, nullptr) / 1024.0;  // the kernel says kB
        }
    }
    return 0;
}

// Entries of a /proc folder, not counting "." and "..".
inline int ProcEntryCount(const char* path) {
    std::error_code error;
    int count = 0;
    for (std::filesystem::directory_iterator it(path, error), end; !error && it != end;
         it.increment(error)) {
        ++count;
    }
    return error ? 0 : count;
}

// Descriptors this process has open. The listing holds one of its own while it reads the
// folder: that one is not counted.
inline int OpenFileDescriptors() {
    const int entries = ProcEntryCount("/proc/self/fd");
    return entries > 0 ? entries - 1 : 0;
}

inline int ThreadCount() {
    return ProcEntryCount("/proc/self/task");
}

// User and system CPU time of this process so far, all threads together.
inline double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// User and system CPU time of the calling thread alone: for a baseline measured on one
// thread while the process's other threads may still be busy.
inline double ThreadCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace orvane::bench
