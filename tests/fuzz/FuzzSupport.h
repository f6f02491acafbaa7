#pragma once
// Shared by the fuzz targets: a check that stops the process with a message
// (so libFuzzer keeps the input), and raw views of floats.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

inline uint32_t FuzzFloatBits ( float f )
{
    uint32_t u;
    std::memcpy ( &u, &f, sizeof u );
    return u;
}

inline float FuzzFloatFromBits ( uint32_t u )
{
    float f;
    std::memcpy ( &f, &u, sizeof f );
    return f;
}
