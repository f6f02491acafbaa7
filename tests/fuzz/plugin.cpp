// Properties of the plug-in object under arbitrary contents-directory inputs:
// any length, any bytes, null, texts that lie in the member itself, many calls
// in a row. After every call the member holds the input's first
// min(length, 1023) characters and a NUL after them, and no byte of the
// object outside the member changes. A second plug-in object, built inside a
// guarded buffer, also shows that nothing past the object is written.

#include <fuzzer/FuzzedDataProvider.h>

#include <new>
#include <string>
#include <vector>

#include "LerpworkPlugin.h"
#include "FuzzSupport.h"

namespace
{
    using Plugin = class Lerpwork;
    constexpr size_t kMember = Plugin::kContentsDirectorySize;
    constexpr size_t kGuard  = 256;
    constexpr unsigned char kGuardByte = 0xa5;

    // A plug-in object with guard bytes on both sides.
    alignas ( Plugin ) unsigned char aGuarded [ kGuard + sizeof ( Plugin ) + kGuard ];
    Plugin *pGuarded = nullptr;

    struct Snapshot
    {
        std::vector<unsigned char> aBefore, aAfter;

        explicit Snapshot ( const Plugin &o )
        {
            const unsigned char *p = reinterpret_cast<const unsigned char *>( &o );
            const size_t iMember = static_cast<size_t>( reinterpret_cast<const unsigned char *>( o.aContentsDirectory ) - p );
            aBefore.assign ( p, p + iMember );
            aAfter.assign ( p + iMember + kMember, p + sizeof ( Plugin ) );
        }

        bool operator == ( const Snapshot &s ) const { return aBefore == s.aBefore && aAfter == s.aAfter; }
    };

    bool GuardsIntact ( )
    {
        for ( size_t i = 0; i < kGuard; ++i )
            if ( aGuarded[i] != kGuardByte || aGuarded[kGuard + sizeof ( Plugin ) + i] != kGuardByte ) return false;
        return true;
    }

    void SetAndCheck ( Plugin &o, const char *pDirectory, const char *pWhat )
    {
        // What the member must hold, read before the call: the text may lie
        // in the member itself.
        const std::string expected = pDirectory ? std::string ( pDirectory ).substr ( 0, kMember - 1 ) : std::string ( );
        const Snapshot before ( o );

        S3DX::Plugin &host = o;
        host.SetContentsDirectory ( pDirectory );

        const char *m = o.aContentsDirectory;
        FUZZ_CHECK ( std::memchr ( m, 0, kMember ) != nullptr, "%s: the member is not terminated within %zu bytes", pWhat, kMember );
        FUZZ_CHECK ( std::strlen ( m ) == expected.size ( ) && expected == m, "%s: the member holds %zu characters, expected %zu",
                     pWhat, std::strlen ( m ), expected.size ( ) );
        FUZZ_CHECK ( Snapshot ( o ) == before, "%s: a byte of the object outside the member changed", pWhat );
        FUZZ_CHECK ( GuardsIntact ( ), "%s: a guard byte around the second object changed", pWhat );
        FUZZ_CHECK ( host.GetSDKVersion ( ) == 0x02000000u && host.GetAIPackageCount ( ) == 3 && host.GetAIPackageAt ( 3 ) == nullptr,
                     "%s: the object's answers changed", pWhat );
    }
}

extern "C" int LLVMFuzzerInitialize ( int *, char *** )
{
    std::memset ( aGuarded, kGuardByte, sizeof aGuarded );
    // Building a plug-in object points the global table pointer at its
    // table; the library's own object must stay the one it designates.
    S3DX::AIEngineAPI *const pTable = GUID_Lerpwork::__pS3DXEAPIMI;
    pGuarded = new ( aGuarded + kGuard ) Plugin;
    GUID_Lerpwork::__pS3DXEAPIMI = pTable;
    FUZZ_CHECK ( GuardsIntact ( ), "construction writes only the object" );
    FUZZ_CHECK ( pGuarded->aContentsDirectory[0] == 0, "a new object's directory is empty" );
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput ( const uint8_t *pData, size_t nSize )
{
    FuzzedDataProvider in ( pData, nSize );
    Plugin &oInstance = static_cast<Plugin &>( *GetPlugin ( ) );
    std::vector<std::string> aKeep;
    while ( in.remaining_bytes ( ) )
    {
        Plugin &o = in.ConsumeBool ( ) ? oInstance : *pGuarded;
        const char *p;
        switch ( in.ConsumeIntegralInRange<int>( 0, 4 ) )
        {
        case 0:
            // Any bytes; an embedded NUL ends the text early.
            aKeep.push_back ( in.ConsumeRandomLengthString ( 4096 ) );
            p = aKeep.back ( ).c_str ( );
            break;
        case 1:
        {
            // Lengths around the member's size, of one repeated byte.
            const size_t n = kMember - 1 + in.ConsumeIntegralInRange<int>( -3, 3 );
            aKeep.push_back ( std::string ( n, static_cast<char>( in.ConsumeIntegralInRange<int>( 1, 255 ) ) ) );
            p = aKeep.back ( ).c_str ( );
            break;
        }
        case 2:
            aKeep.push_back ( std::string ( in.ConsumeIntegralInRange<size_t>( 0, 1 << 16 ), static_cast<char>( in.ConsumeIntegralInRange<int>( 1, 255 ) ) ) );
            p = aKeep.back ( ).c_str ( );
            break;
        case 3:
            p = nullptr;
            break;
        default:
        {
            // A text inside a member, from any of its characters to its NUL:
            // this object's own (so the copy runs over its source) or the
            // other object's.
            const char *m = ( in.ConsumeBool ( ) ? o : ( &o == &oInstance ? *pGuarded : oInstance ) ).aContentsDirectory;
            p = m + in.ConsumeIntegralInRange<size_t>( 0, std::strlen ( m ) );
            break;
        }
        }
        SetAndCheck ( o, p, &o == &oInstance ? "the library's object" : "a second object" );
    }
    return 0;
}
