#pragma once
// Formatted printing into a buffer and the few stream functions the test
// host writes with, from the universal run time (api-ms-win-crt-stdio). It has
// no snprintf entry of its own: that is the one formatting routine
// __stdio_common_vsprintf with option bits that select the C99 behaviour (the
// result counts the whole text; the buffer always ends in a NUL).

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef __builtin_va_list va_list;
typedef struct LerpworkStream FILE;

// The run time's standard streams, by number: 0 in, 1 out, 2 error.
FILE *__cdecl __acrt_iob_func ( unsigned int iStream );
#define stdin  ( __acrt_iob_func ( 0 ) )
#define stdout ( __acrt_iob_func ( 1 ) )
#define stderr ( __acrt_iob_func ( 2 ) )

int __cdecl fputs  ( const char *pText, FILE *pStream );
int __cdecl fflush ( FILE *pStream );

// Option bit: snprintf's standard result and termination.
#define LERPWORK_PRINTF_STANDARD_SNPRINTF_BEHAVIOR ( 1ULL << 1 )

int __cdecl __stdio_common_vsprintf ( unsigned long long iOptions, char *pBuffer, size_t nBuffer,
                                      const char *pFormat, void *pLocale, va_list aArguments );

static inline int __cdecl vsnprintf ( char *pBuffer, size_t nBuffer, const char *pFormat, va_list aArguments )
{
    const int n = __stdio_common_vsprintf ( LERPWORK_PRINTF_STANDARD_SNPRINTF_BEHAVIOR, pBuffer, nBuffer,
                                            pFormat, NULL, aArguments );
    return n < 0 ? -1 : n;
}

static inline int __cdecl snprintf ( char *pBuffer, size_t nBuffer, const char *pFormat, ... )
{
    va_list aArguments;
    __builtin_va_start ( aArguments, pFormat );
    const int n = vsnprintf ( pBuffer, nBuffer, pFormat, aArguments );
    __builtin_va_end ( aArguments );
    return n;
}

#ifdef __cplusplus
}
#endif
