#pragma once
// The heap and conversion functions the library uses; the universal run time
// provides them (api-ms-win-crt-heap, api-ms-win-crt-convert).

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

void   *__cdecl malloc ( size_t n );
void    __cdecl free   ( void *p );
double  __cdecl strtod ( const char *pText, char **ppEnd );
void    __cdecl abort  ( void );

#ifdef __cplusplus
}
#endif
