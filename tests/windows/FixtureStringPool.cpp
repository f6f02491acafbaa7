// The value type's temporary string pool for the broken fixture plug-ins. The
// Windows build exports the value type as a whole class, inline members
// included, and those refer to the pool, which the fixtures' own source (made
// for the other builds, where only used members are emitted) leaves out.

#include "S3DX.h"

static char aFixturePool [ 4096 ];

char         *S3DX::AIVariable::pStringPool       = aFixturePool;
unsigned int  S3DX::AIVariable::iStringPoolSize   = sizeof ( aFixturePool );
unsigned int  S3DX::AIVariable::iStringPoolCursor = 0;

char *S3DX::AIVariable::GetStringPoolBuffer ( unsigned int iSize )
{
    if ( iSize > iStringPoolSize ) return nullptr;
    if ( iSize > iStringPoolSize - iStringPoolCursor ) iStringPoolCursor = 0;
    char *p = pStringPool + iStringPoolCursor;
    iStringPoolCursor += iSize;
    return p;
}
