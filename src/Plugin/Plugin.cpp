// The SDK's out-of-line support (the temporary string pool and the engine
// package objects), the engine callback table and the plug-in object.
// Definition order is initialisation order: the engine package objects are
// complete before the plug-in object is built.

#include "LerpworkPlugin.h"
#include "instantPackage.h"
#include "instPackage.h"
#include "LerpworkPackage.h"

// ---------------------------------------------------------------------------
// Temporary string pool

static char __aStringPool [ 524288 ];

char         *S3DX::AIVariable::pStringPool       = __aStringPool;
unsigned int  S3DX::AIVariable::iStringPoolSize   = sizeof ( __aStringPool );
unsigned int  S3DX::AIVariable::iStringPoolCursor = 0;

char *S3DX::AIVariable::GetStringPoolBuffer ( unsigned int iSize )
{
    unsigned int iStart = iStringPoolCursor;
    if ( iSize > iStringPoolSize - iStart )
    {
        if ( iSize > iStringPoolSize ) return nullptr;
        iStart = 0;
    }
    iStringPoolCursor = iStart + iSize;
    return pStringPool + iStart;
}

// ---------------------------------------------------------------------------
// Engine package objects

// Objects of at most LERPWORK_ENGINE_DATA_MAX_COUNT constants are laid down
// as initialised data (where the constructors are constant expressions); the
// others are zero storage that this unit's load-time initialiser fills, one
// object after the other in list order, before the plug-in object is built.
// The Windows build keeps the host compiler's split (objects of up to five
// constants as data); by default every object is filled at load.
#ifndef LERPWORK_ENGINE_DATA_MAX_COUNT
#  define LERPWORK_ENGINE_DATA_MAX_COUNT 0
#endif

namespace
{
    template < class Package, bool bAtLoad > struct EngineObject;
    template < class Package > struct EngineObject<Package, false>
    {
        static constexpr Package Build ( ) { return Package ( ); }
    };
    template < class Package > struct EngineObject<Package, true>
    {
        // Not a constant expression: the object is built by the initialiser.
        static Package Build ( ) { return Package ( ); }
    };
}

#define S3DX_ENGINE_PACKAGE_BEGIN( Type, object, count )                                                     \
    S3DX::AIEngineAPI::Type##Package S3DX::object =                                                         \
        EngineObject<S3DX::AIEngineAPI::Type##Package, ( count > LERPWORK_ENGINE_DATA_MAX_COUNT )>::Build ( );
#define S3DX_ENGINE_NUMBER( Type, position, value )
#define S3DX_ENGINE_NIL( Type, position )
#define S3DX_ENGINE_PACKAGE_END( Type, object, count )
#define S3DX_ENGINE_EMPTY_PACKAGE( Type, object )        S3DX::AIEngineAPI::Type##Package S3DX::object;
#include "S3DXAIEngineConstants.inc"
#undef S3DX_ENGINE_PACKAGE_BEGIN
#undef S3DX_ENGINE_NUMBER
#undef S3DX_ENGINE_NIL
#undef S3DX_ENGINE_PACKAGE_END
#undef S3DX_ENGINE_EMPTY_PACKAGE

// ---------------------------------------------------------------------------
// Engine callback table

S3DX::AIEngineAPI *GUID_Lerpwork::__pS3DXEAPIMI = nullptr;

namespace
{
    // Identifier -> slot, as an open-addressing hash table laid down at
    // compile time from the identifier list, so RegisterCallback costs a
    // hash and a probe or two instead of a scan of 1622 identifiers.
    struct IdentifierRow { unsigned int iIdentifier; unsigned int iSlot; };

    constexpr IdentifierRow aIdentifierRows [ ] =
    {
#define S3DX_ENGINE_FUNCTION( identifier, slot ) { identifier, slot },
#include "S3DXAIEngineIdentifiers.inc"
#undef S3DX_ENGINE_FUNCTION
    };
    constexpr unsigned int kIdentifierCount = sizeof ( aIdentifierRows ) / sizeof ( aIdentifierRows[0] );
    static_assert ( kIdentifierCount == S3DX::AIEngineAPI::kCallbackCount, "one identifier per slot" );

    constexpr unsigned int kHashBits = 12;
    constexpr unsigned int kHashMask = ( 1u << kHashBits ) - 1;

    constexpr unsigned int HashOf ( unsigned int iIdentifier )
    {
        return ( iIdentifier * 0x9e3779b1u ) >> ( 32 - kHashBits );
    }

    struct IdentifierTable
    {
        struct Entry { unsigned int iIdentifier; unsigned short iSlotPlusOne; };  // 0: empty
        Entry        aEntries [ kHashMask + 1 ];
        unsigned int iDuplicateIdentifiers;
        unsigned int iSlotsNotOwnedOnce;
    };

    constexpr IdentifierTable BuildIdentifierTable ( )
    {
        IdentifierTable t { };
        unsigned int aOwners [ S3DX::AIEngineAPI::kCallbackCount ] { };
        for ( const IdentifierRow &r : aIdentifierRows )
        {
            unsigned int h = HashOf ( r.iIdentifier );
            while ( t.aEntries[h].iSlotPlusOne )
            {
                if ( t.aEntries[h].iIdentifier == r.iIdentifier ) ++t.iDuplicateIdentifiers;
                h = ( h + 1 ) & kHashMask;
            }
            t.aEntries[h].iIdentifier  = r.iIdentifier;
            t.aEntries[h].iSlotPlusOne = static_cast<unsigned short>( r.iSlot + 1 );
            if ( r.iSlot < S3DX::AIEngineAPI::kCallbackCount ) ++aOwners[r.iSlot];
        }
        for ( unsigned int n : aOwners ) if ( n != 1 ) ++t.iSlotsNotOwnedOnce;
        return t;
    }

    constexpr IdentifierTable oIdentifierTable = BuildIdentifierTable ( );
    static_assert ( oIdentifierTable.iDuplicateIdentifiers == 0, "identifiers are pairwise distinct" );
    static_assert ( oIdentifierTable.iSlotsNotOwnedOnce == 0,    "every slot belongs to exactly one identifier" );
}

Lerpwork::__AIEngineAPI::__AIEngineAPI ( )
{
    GUID_Lerpwork::__pS3DXEAPIMI = this;
}

void Lerpwork::__AIEngineAPI::RegisterCallback ( unsigned int iIdentifier, S3DX::AIScriptCallback pCallback )
{
    for ( unsigned int h = HashOf ( iIdentifier ); oIdentifierTable.aEntries[h].iSlotPlusOne; h = ( h + 1 ) & kHashMask )
    {
        if ( oIdentifierTable.aEntries[h].iIdentifier == iIdentifier )
        {
            aCallbacks[oIdentifierTable.aEntries[h].iSlotPlusOne - 1] = pCallback;
            return;
        }
    }
}

// ---------------------------------------------------------------------------
// Plug-in object

Lerpwork::Lerpwork ( )
{
    aContentsDirectory[0] = 0;
    aAIPackages[0] = new instantPackage;
    aAIPackages[1] = new instPackage;
    aAIPackages[2] = new LerpworkPackage;
}

Lerpwork::~Lerpwork ( )
{
    for ( S3DX::AIPackage *&pPackage : aAIPackages )
    {
        if ( pPackage )
        {
            delete pPackage;
            pPackage = nullptr;
        }
    }
}

unsigned int Lerpwork::GetSDKVersion ( ) const
{
    return S3DX::kSDKVersion;
}

void Lerpwork::SetContentsDirectory ( const char *pDirectory )
{
    // A longer path is cut rather than allowed to run past the member.
    unsigned int n = 0;
    if ( pDirectory )
        for ( ; n < kContentsDirectorySize - 1 && pDirectory[n]; ++n ) aContentsDirectory[n] = pDirectory[n];
    aContentsDirectory[n] = 0;
}

S3DX::AIEngineAPI *Lerpwork::GetAIEngineAPI ( )
{
    return &oAIEngineAPI;
}

unsigned int Lerpwork::GetAIPackageCount ( ) const
{
    return kPackageCount;
}

S3DX::AIPackage *Lerpwork::GetAIPackageAt ( unsigned int iIndex ) const
{
    return iIndex < kPackageCount ? aAIPackages[iIndex] : nullptr;
}

class Lerpwork Lerpwork::__oInstance;

S3DX::Plugin *S3DX_CDECL GetPlugin ( )
{
    return &Lerpwork::__oInstance;
}
