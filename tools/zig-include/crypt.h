/* What glibc 2.17's <crypt.h> declares, for the wheels' compiler, whose glibc headers leave out
   libcrypt's: CPython 3.8 to 3.10's Python.h include it (the module uses none of it). */
#ifndef SKYLOOM_ZIG_CRYPT_H
#define SKYLOOM_ZIG_CRYPT_H
#ifdef __cplusplus
extern "C" {
#endif
extern char* crypt(const char* key, const char* salt);
#ifdef __cplusplus
}
#endif
#endif
