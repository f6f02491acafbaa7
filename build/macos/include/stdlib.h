#pragma once
// The number parser of <stdlib.h> the library calls, for the macOS cross
// build; libSystem provides it at run time.

#include <stddef.h>

extern "C"
{
    double strtod ( const char *pText, char **pEnd );
}
