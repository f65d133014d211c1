/*
 * Forced in front of every source by check-freebsd.sh: glibc's headers, made
 * to look like FreeBSD's libc. features.h is read once here and guarded
 * against a second reading, so once __GLIBC__ is gone the sources take the
 * paths they take on FreeBSD.
 */
#include <features.h>
#undef __GLIBC__
#undef __GLIBC_MINOR__

/* FreeBSD's <unistd.h> declares it beside getopt (getopt(3)). */
#ifdef __cplusplus
extern "C"
#endif
int optreset;
