/* The cost of one name call (cnea) from C, for comparison with the Python
 * package's: loads the library given, prints nanoseconds per call.
 * Usage: name_call LIBRARY */
#include <dlfcn.h>
#include <stdio.h>
#include <time.h>

#include <vostrelle.h>

enum { calls = 1000000 };

static double seconds_now(void)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (double)now.tv_sec + (double)now.tv_nsec * 1e-9;
}

int main(int argc, char **argv)
{
    void *driver = argc == 2 ? dlopen(argv[1], RTLD_NOW) : NULL;
    vostrelle_cnea_fn cnea = driver ? (vostrelle_cnea_fn)dlsym(driver, "cnea") : NULL;
    if (!cnea) {
        fprintf(stderr, "usage: name_call LIBRARY (%s)\n", driver ? "no cnea" : dlerror());
        return 2;
    }
    unsigned long length = 0;
    const double start = seconds_now();
    for (int call = 0; call < calls; ++call)
        length += (unsigned long)cnea(call & 7)[0];
    const double elapsed = seconds_now() - start;
    printf("%.1f\n", elapsed / calls * 1e9);
    return length == 0; /* keeps the calls */
}
