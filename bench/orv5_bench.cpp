// orv5_bench - runs one session through ExecOrv5 and reports its wall time,
// its CPU time (user + system) and the heap allocations made during it.
//
// usage: orv5_bench DEVICE COMMAND-TEXT
// Prints one line: result=<code> wall_s=<s> cpu_s=<s> allocs=<count>
//
// Allocations are counted by interposing malloc, calloc, realloc and
// aligned_alloc and posix_memalign in this executable (operator new goes through malloc); the
// counter is armed only for the duration of the call.  glibc only.
#include "orv5w32.h"

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sys/resource.h>

extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void *__libc_memalign(size_t, size_t);
}

namespace {

volatile bool g_counting = false;
volatile long g_allocs = 0;

inline void count() {
    if (g_counting) g_allocs = g_allocs + 1;
}

double now_s() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

double cpu_s() {
    rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// The file name the library writes back: 8 + "." + 3 + NUL.
constexpr int NAME_BUF_SIZE = 13;

}  // namespace

extern "C" {
void *malloc(size_t n) {
    count();
    return __libc_malloc(n);
}
void *calloc(size_t n, size_t m) {
    count();
    return __libc_calloc(n, m);
}
void *realloc(void *p, size_t n) {
    count();
    return __libc_realloc(p, n);
}
void *aligned_alloc(size_t a, size_t n) {
    count();
    return __libc_memalign(a, n);
}
int posix_memalign(void **p, size_t a, size_t n) {
    count();
    *p = __libc_memalign(a, n);
    return *p ? 0 : ENOMEM;
}
}

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: orv5_bench DEVICE COMMAND-TEXT\n");
        return 64;
    }
    setenv("ORV5_DEVICE", argv[1], 1);
    char name[NAME_BUF_SIZE] = "";
    double wall0 = now_s(), cpu0 = cpu_s();
    g_counting = true;
    int rc = ExecOrv5(nullptr, argv[2], name);
    g_counting = false;
    double wall = now_s() - wall0, cpu = cpu_s() - cpu0;
    std::printf("result=%d wall_s=%.3f cpu_s=%.3f allocs=%ld\n", rc, wall, cpu, long(g_allocs));
    return rc;
}
