#pragma once
// The memory functions of <string.h> the library calls, for the macOS cross
// build; libSystem provides them at run time under their C names.

#include <stddef.h>

extern "C"
{
    void *memcpy  ( void *pTo, const void *pFrom, size_t n );
    void *memmove ( void *pTo, const void *pFrom, size_t n );
    void *memset  ( void *pTo, int iByte, size_t n );
}
