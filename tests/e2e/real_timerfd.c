/* Preloaded ahead of libfaketime into a program whose wall clock the tests speed up. The
 * library rewrites timerfd settings as if they were on its faked clock: a relative wait
 * shrinks tenfold, and the absolute "fire now" that Asio arms for a timer already due is
 * turned into a time that never comes, so an event loop whose next timer fell due while it
 * worked would sleep until something else woke it. The monotonic clock is not faked for these
 * programs, so their timer file descriptors go straight to the kernel. */
#define _GNU_SOURCE
#include <sys/syscall.h>
#include <sys/timerfd.h>
#include <unistd.h>

int timerfd_settime(int fd, int flags, const struct itimerspec* value, struct itimerspec* old) {
    return (int)syscall(SYS_timerfd_settime, fd, flags, value, old);
}

int timerfd_gettime(int fd, struct itimerspec* value) {
    return (int)syscall(SYS_timerfd_gettime, fd, value);
}
