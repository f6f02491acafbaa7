#pragma once
// Formatted printing into a buffer, the one function of <stdio.h> the
// library calls, for the macOS cross build; libSystem provides it at run time.

#include <stddef.h>

extern "C"
{
    int snprintf ( char *pOut, size_t n, const char *pFormat, ... );
}
