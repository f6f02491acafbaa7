#pragma once
// The memory functions, from the compiler's run time (VCRUNTIME140.dll), and
// strlen and strcmp, from the universal run time (api-ms-win-crt-string), which only the
// test host uses: the library counts its texts itself.

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

void *__cdecl memcpy  ( void *pDestination, const void *pSource, size_t n );
void *__cdecl memmove ( void *pDestination, const void *pSource, size_t n );
void *__cdecl memset  ( void *pDestination, int iByte, size_t n );
int   __cdecl memcmp  ( const void *a, const void *b, size_t n );
size_t __cdecl strlen ( const char *pText );
int    __cdecl strcmp ( const char *a, const char *b );

#ifdef __cplusplus
}
#endif
