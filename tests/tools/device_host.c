/* A host that loads the driver and prints its effective user and where each
 * of its descriptors leads: which device the driver opened. */
#include <dirent.h>
#include <dlfcn.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: device_host LIBRARY\n");
        return 2;
    }
    void *driver = dlopen(argv[1], RTLD_NOW);
    if (!driver) {
        fprintf(stderr, "%s\n", dlerror());
        return 1;
    }
    printf("euid %d\n", (int)geteuid());
    DIR *descriptors = opendir("/proc/self/fd");
    for (struct dirent *fd; descriptors && (fd = readdir(descriptors)) != NULL;) {
        char link[PATH_MAX + 32], target[PATH_MAX];
        snprintf(link, sizeof link, "/proc/self/fd/%s", fd->d_name);
        const ssize_t length = readlink(link, target, sizeof target - 1);
        if (length > 0) {
            target[length] = '\0';
            printf("%s -> %s\n", fd->d_name, target);
        }
    }
    if (descriptors)
        closedir(descriptors);
    dlclose(driver);
    return 0;
}
