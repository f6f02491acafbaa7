#pragma once
// Shared by the fuzz targets: a check that stops the process with a message
// (so libFuzzer keeps the input); raw views of floats come from the test support.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../TestSupport.h"

// Stops the run on a broken property. Unlike assert it is never compiled out.
#define FUZZ_CHECK( condition, ... )                                                         \
    do                                                                                        \
    {                                                                                         \
        if ( !( condition ) )                                                                 \
        {                                                                                     \
            std::fprintf ( stderr, "%s:%d: property broken: %s\n  ", __FILE__, __LINE__, #condition ); \
            std::fprintf ( stderr, __VA_ARGS__ );                                            \
            std::fprintf ( stderr, "\n" );                                                    \
            std::abort ( );                                                                   \
        }                                                                                     \
    } while ( 0 )
