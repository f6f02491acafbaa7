#pragma once
// Small helpers shared by the tests: raw views of floats and variables.

#include <cstdint>
#include <cstring>
#include <vector>

#include "S3DX.h"

inline uint32_t FloatBits ( float f )
{
    uint32_t u;
    std::memcpy ( &u, &f, sizeof u );
    return u;
}

inline float FloatFromBits ( uint32_t u )
{
    float f;
    std::memcpy ( &f, &u, sizeof f );
    return f;
}

// The payload bytes of a variable (4 or 8 of them).
inline std::vector<unsigned char> PayloadBytes ( const S3DX::AIVariable &v )
{
    const unsigned char *p = reinterpret_cast<const unsigned char *>( &v ) + sizeof ( void * );
    return std::vector<unsigned char> ( p, p + sizeof ( void * ) );
}

// A variable with an arbitrary tag byte, as a host could hand over.
inline S3DX::AIVariable WithTag ( unsigned char iTag, const void *pPayload = nullptr )
{
    S3DX::AIVariable v;
    v.iType        = iTag;
    v.pHandleValue = pPayload;
    return v;
}
