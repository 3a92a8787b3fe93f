/* Loaded into the emulated device's smbd (LD_PRELOAD). The device runs in
 * the tests' user namespace, where supplementary groups can never be set;
 * smbd treats that as fatal. Here setting them succeeds and changes nothing
 * (every account of the device is the namespace's root anyway). */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <grp.h>
#include <stdarg.h>
#include <sys/syscall.h>
#include <unistd.h>

int setgroups(size_t size, const gid_t* list)
{
    (void)size;
    (void)list;
    return 0;
}

long syscall(long number, ...)
{
    va_list ap;
    va_start(ap, number);
    long a = va_arg(ap, long), b = va_arg(ap, long), c = va_arg(ap, long);
    long d = va_arg(ap, long), e = va_arg(ap, long), f = va_arg(ap, long);
    va_end(ap);
    if (number == SYS_setgroups)
        return 0;
    static long (*real)(long, ...) = 0;
    if (!real)
        real = (long (*)(long, ...))dlsym(RTLD_NEXT, "syscall");
    return real(number, a, b, c, d, e, f);
}
