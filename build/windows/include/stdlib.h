#pragma once
// The heap and conversion functions the library uses, and the process ends
// the test programs use; the universal run time provides them
// (api-ms-win-crt-heap, api-ms-win-crt-convert, api-ms-win-crt-runtime).

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

void   *__cdecl malloc ( size_t n );
void    __cdecl free   ( void *p );
double  __cdecl strtod ( const char *pText, char **ppEnd );
__declspec ( noreturn ) void __cdecl abort ( void );
__declspec ( noreturn ) void __cdecl _Exit ( int iStatus );

#ifdef __cplusplus
}
#endif
