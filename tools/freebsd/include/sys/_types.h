/*
 * The one name of FreeBSD's <sys/_types.h> that gcc's own <stddef.h> needs
 * when __FreeBSD__ is 5 or more (FreeBSD: sys/sys/_types.h).
 */
#ifndef CHECK_FREEBSD_SYS__TYPES_H
#define CHECK_FREEBSD_SYS__TYPES_H
typedef int __ct_rune_t;
typedef __ct_rune_t __rune_t;
#endif
