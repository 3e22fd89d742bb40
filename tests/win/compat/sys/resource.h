#pragma once
// Windows test builds only: no resource limits. The cases that fill the disk through
// RLIMIT_FSIZE are left out by name (posix_only_cases.cmake); this keeps their files compiling.
#include <signal.h>

#ifndef SIGXFSZ
#define SIGXFSZ 25
#endif
#define RLIMIT_FSIZE 1

typedef unsigned long long rlim_t;
struct rlimit {
    rlim_t rlim_cur;
    rlim_t rlim_max;
};

inline int getrlimit(int, struct rlimit* limit) {
    limit->rlim_cur = limit->rlim_max = ~0ull;
    return 0;
}
inline int setrlimit(int, const struct rlimit*) {
    return -1;
}
