// The host probe: loads a plug-in library, takes the host's part against it
// and writes every observation as one JSON line on stdout, flushed at once,
// so that a probe that dies still shows how far it got. It judges nothing:
// tools/lerpwork-host checks and renders the records (tools/host/README.md
// gives their format). Portable: C headers and the SDK only, no exceptions,
// no run-time type information; the operating system is reached through
// HostProbe.h.

#define S3DX_HOST_SIDE 1

#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "S3DX.h"
#include "HostProbe.h"

namespace
{
    // -----------------------------------------------------------------------
    // The lists the probe needs, compiled in from the SDK's own files.

    const unsigned int aIdentifiers [ ] =
    {
#define S3DX_ENGINE_FUNCTION( identifier, slot ) identifier,
#include "S3DXAIEngineIdentifiers.inc"
#undef S3DX_ENGINE_FUNCTION
    };
    const unsigned int kIdentifierCount = sizeof ( aIdentifiers ) / sizeof ( aIdentifiers[0] );
    const unsigned int kSlotCount       = S3DX::AIEngineAPI::kCallbackCount;

    struct EngineObject { const char *pType; const char *pObject; unsigned int iCount; };
    const EngineObject aEngineObjects [ ] =
    {
#define S3DX_ENGINE_PACKAGE_BEGIN( Type, object, count ) { #Type "Package", #object, count },
#define S3DX_ENGINE_NUMBER( Type, position, value )
#define S3DX_ENGINE_NIL( Type, position )
#define S3DX_ENGINE_PACKAGE_END( Type, object, count )
#define S3DX_ENGINE_EMPTY_PACKAGE( Type, object )        { #Type "Package", #object, 0 },
#include "S3DXAIEngineConstants.inc"
#undef S3DX_ENGINE_PACKAGE_BEGIN
#undef S3DX_ENGINE_NUMBER
#undef S3DX_ENGINE_NIL
#undef S3DX_ENGINE_PACKAGE_END
#undef S3DX_ENGINE_EMPTY_PACKAGE
    };

    const unsigned int aUnknownIdentifiers [ ] = { 0x00000000u, 0xffffffffu, 0x00000001u, 0x0002d228u, 0xffe11c32u, 0x12345678u };
    const unsigned int kUnknownCount  = sizeof ( aUnknownIdentifiers ) / sizeof ( aUnknownIdentifiers[0] );
    const unsigned int kRepeatSentinel = kIdentifierCount + kUnknownCount;
    const unsigned int kSentinelCount  = kRepeatSentinel + 1;

    // Limits that keep a broken library from sending the probe round forever.
    const unsigned int kMaxPackages = 64;
    const unsigned int kMaxRows     = 4096;
    const size_t       kMaxText     = 65536;
    const unsigned int kResultCount = 8;

    // Sentinel addresses: distinct, owned by the probe, never called.
    unsigned char aSentinels [ kSentinelCount ];

    S3DX::AIScriptCallback Sentinel ( unsigned int i )
    {
        return reinterpret_cast<S3DX::AIScriptCallback>( static_cast<void *>( &aSentinels[i] ) );
    }

    // -----------------------------------------------------------------------
    // Record writer: one JSON object per line.

    bool bFirstMember;

    void Put ( const char *p ) { fputs ( p, stdout ); }

    void Key ( const char *pName )
    {
        if ( !bFirstMember ) Put ( ", " );
        bFirstMember = false;
        Put ( "\"" ); Put ( pName ); Put ( "\": " );
    }

    void Begin ( const char *pKind )
    {
        Put ( "{\"record\": \"" ); Put ( pKind ); Put ( "\"" );
        bFirstMember = false;
    }

    void End ( )
    {
        Put ( "}\n" );
        fflush ( stdout );
    }

    void PutUInt ( unsigned long long i ) { char s[32]; snprintf ( s, sizeof s, "%llu", i ); Put ( s ); }
    void PutInt  ( long long i )          { char s[32]; snprintf ( s, sizeof s, "%lld", i ); Put ( s ); }
    void PutBool ( bool b )               { Put ( b ? "true" : "false" ); }

    void UInt ( const char *pName, unsigned long long i ) { Key ( pName ); PutUInt ( i ); }
    void Int  ( const char *pName, long long i )          { Key ( pName ); PutInt ( i ); }
    void Bool ( const char *pName, bool b )               { Key ( pName ); PutBool ( b ); }
    void Str  ( const char *pName, const char *p )        { Key ( pName ); Put ( "\"" ); Put ( p ); Put ( "\"" ); }

    // A text as a JSON string, one character per byte (README: Texts).
    void PutText ( const unsigned char *p, size_t n )
    {
        Put ( "\"" );
        for ( size_t i = 0; i < n; ++i )
        {
            char s[8];
            const unsigned char c = p[i];
            if      ( c == '"' )  Put ( "\\\"" );
            else if ( c == '\\' ) Put ( "\\\\" );
            else if ( c < 0x20 || c >= 0x7f ) { snprintf ( s, sizeof s, "\\u%04x", c ); Put ( s ); }
            else { s[0] = static_cast<char>( c ); s[1] = 0; Put ( s ); }
        }
        Put ( "\"" );
    }

    void PutHex ( const void *p, size_t n )
    {
        Put ( "\"" );
        for ( size_t i = 0; i < n; ++i )
        {
            char s[4];
            snprintf ( s, sizeof s, "%02x", static_cast<const unsigned char *>( p )[i] );
            Put ( s );
        }
        Put ( "\"" );
    }

    void Hex ( const char *pName, const void *p, size_t n ) { Key ( pName ); PutHex ( p, n ); }

    // -----------------------------------------------------------------------
    // Guarded calls into the library.

    template < class F > bool Guarded ( F &&f )
    {
        return ProbeGuard ( [] ( void *p ) { ( *static_cast<F *>( p ) ) ( ); }, &f );
    }

    // A text copied out of the library under the guard.
    struct Text
    {
        bool          bNull;
        bool          bTruncated;
        size_t        n;
        unsigned char a [ kMaxText ];
    };

    // Copies pText into t; may fault on a bad pointer, so runs under a guard.
    void CopyText ( Text &t, const char *pText )
    {
        t.bNull = pText == nullptr;
        t.bTruncated = false;
        t.n = 0;
        if ( !pText ) return;
        while ( pText[t.n] )
        {
            if ( t.n == kMaxText ) { t.bTruncated = true; return; }
            t.a[t.n] = static_cast<unsigned char>( pText[t.n] );
            ++t.n;
        }
    }

    bool bTextTruncated;

    void TextMember ( const char *pName, const Text &t )
    {
        Key ( pName );
        if ( t.bNull ) Put ( "null" ); else PutText ( t.a, t.n );
        if ( t.bTruncated ) bTextTruncated = true;
    }

    const unsigned char *PayloadOf ( const S3DX::AIVariable &v )
    {
        return reinterpret_cast<const unsigned char *>( &v ) + sizeof ( void * );
    }

    void Step ( const char *pName ) { Begin ( "step" ); Str ( "name", pName ); End ( ); }

    // -----------------------------------------------------------------------
    // The probe's state across phases.

    ProbeLibrary        *pLibrary;
    S3DX::Plugin        *pPlugin;
    S3DX::AIEngineAPI   *pEngineAPI;
    unsigned int         iPackageCount;
    S3DX::AIPackage     *aPackages [ kMaxPackages ];

    // Slot values as the records write them: -1 null, -2 foreign, else a sentinel index.
    const int kSlotNull = -1, kSlotForeign = -2;
    int aSlots [ kSlotCount ], aSlotsBefore [ kSlotCount ];

    int SlotValue ( S3DX::AIScriptCallback p )
    {
        if ( !p ) return kSlotNull;
        const unsigned char *q = reinterpret_cast<const unsigned char *>( reinterpret_cast<void *>( p ) );
        for ( unsigned int i = 0; i < kSentinelCount; ++i ) if ( q == &aSentinels[i] ) return static_cast<int>( i );
        return kSlotForeign;
    }

    void PutSlotValue ( int i )
    {
        if      ( i == kSlotNull )    Put ( "null" );
        else if ( i == kSlotForeign ) Put ( "\"foreign\"" );
        else                          PutInt ( i );
    }

    bool ReadSlots ( int *aOut )
    {
        return Guarded ( [&] { for ( unsigned int i = 0; i < kSlotCount; ++i ) aOut[i] = SlotValue ( pEngineAPI->aCallbacks[i] ); } );
    }

    void SlotsRecord ( const char *pStage )
    {
        Begin ( "engine-slots" );
        Str ( "stage", pStage );
        if ( !ReadSlots ( aSlots ) ) { Bool ( "crashed", true ); End ( ); return; }
        Key ( "slots" );
        Put ( "[" );
        for ( unsigned int i = 0; i < kSlotCount; ++i ) { if ( i ) Put ( ", " ); PutSlotValue ( aSlots[i] ); }
        Put ( "]" );
        End ( );
    }

    // What a host can observe of the plug-in object, for "changes nothing".
    struct Observable
    {
        unsigned int        iVersion;
        unsigned int        iCount;
        S3DX::AIPackage    *aPackages [ kMaxPackages ];
        const char         *aNames [ kMaxPackages ];
        S3DX::AIEngineAPI  *pEngineAPI;
        int                 aSlots [ kSlotCount ];
        unsigned int        iEngineObjectsHash;
        bool                bCrashed;
    };
    Observable oBefore, oAfter;

    void Observe ( Observable &o )
    {
        memset ( static_cast<void *>( &o ), 0, sizeof o );
        o.bCrashed = !Guarded ( [&] {
            o.iVersion = pPlugin->GetSDKVersion ( );
            o.iCount   = pPlugin->GetAIPackageCount ( );
            for ( unsigned int i = 0; i < o.iCount && i < kMaxPackages; ++i )
            {
                o.aPackages[i] = pPlugin->GetAIPackageAt ( i );
                o.aNames[i]    = o.aPackages[i] ? o.aPackages[i]->GetName ( ) : nullptr;
            }
            o.pEngineAPI = pPlugin->GetAIEngineAPI ( );
        } );
        if ( !o.bCrashed && o.pEngineAPI == pEngineAPI && pEngineAPI ) o.bCrashed = !ReadSlots ( o.aSlots );
        // The engine package objects' bytes, as an FNV-1a hash: a write past
        // the end of some other object of the library shows up here.
        o.iEngineObjectsHash = 2166136261u;
        for ( const EngineObject &e : aEngineObjects )
        {
            char aName [ 256 ];
            ProbeEngineObjectName ( aName, sizeof aName, e.pType, e.pObject );
            const unsigned char *p = static_cast<const unsigned char *>( ProbeSymbol ( pLibrary, aName ) );
            if ( !p ) continue;
            if ( !Guarded ( [&] { for ( size_t i = 0; i < e.iCount * sizeof ( S3DX::AIVariable ); ++i ) o.iEngineObjectsHash = ( o.iEngineObjectsHash ^ p[i] ) * 16777619u; } ) )
                o.bCrashed = true;
        }
    }

    bool SameObservable ( const Observable &a, const Observable &b )
    {
        return !a.bCrashed && !b.bCrashed && memcmp ( &a, &b, sizeof a ) == 0;
    }

    // -----------------------------------------------------------------------
    // Phases.

    bool PluginPhase ( )
    {
        Step ( "plugin" );
        S3DX::Plugin *(*pGetPlugin) ( ) = nullptr;
        void *pEntry = ProbeSymbol ( pLibrary, "GetPlugin" );
        memcpy ( &pGetPlugin, &pEntry, sizeof pGetPlugin );

        Begin ( "get-plugin" );
        S3DX::Plugin *pSecond = nullptr;
        if ( !Guarded ( [&] { pPlugin = pGetPlugin ( ); pSecond = pGetPlugin ( ); } ) )
        {
            Bool ( "crashed", true ); End ( );
            return false;
        }
        Bool ( "null", pPlugin == nullptr );
        Bool ( "same", pPlugin == pSecond );
        End ( );
        if ( !pPlugin ) return false;

        Begin ( "sdk-version" );
        unsigned int iVersion = 0;
        if ( Guarded ( [&] { iVersion = pPlugin->GetSDKVersion ( ); } ) ) UInt ( "value", iVersion );
        else Bool ( "crashed", true );
        End ( );

        // Paths: "/" followed by 'a' + i % 26, of the lengths README lists.
        static char aPath [ 4097 ];
        struct Case { const char *pName; int iLength; };
        const Case aCases [ ] = { { "empty", 0 }, { "short", -2 }, { "long", 300 }, { "max", 1023 }, { "over", 1024 },
                                  { "far-over", 4096 }, { "null", -1 }, { "empty", 0 } };
        for ( const Case &c : aCases )
        {
            const char *pArgument = aPath;
            if ( c.iLength == -1 ) pArgument = nullptr;
            else if ( c.iLength == -2 ) pArgument = "/contents";
            else
            {
                for ( int i = 0; i < c.iLength; ++i ) aPath[i] = i == 0 ? '/' : static_cast<char>( 'a' + i % 26 );
                aPath[c.iLength] = 0;
            }
            Begin ( "contents-directory" );
            Str ( "case", c.pName );
            Key ( "length" );
            if ( pArgument ) PutUInt ( strlen ( pArgument ) ); else Put ( "null" );
            Observe ( oBefore );
            if ( !Guarded ( [&] { pPlugin->SetContentsDirectory ( pArgument ); } ) ) Bool ( "crashed", true );
            else
            {
                Observe ( oAfter );
                Bool ( "changed", !SameObservable ( oBefore, oAfter ) );
            }
            End ( );
        }
        return true;
    }

    void RegisterRecord ( const char *pCase, int iPosition, unsigned int iIdentifier, int iSentinel )
    {
        Begin ( "register" );
        Str ( "case", pCase );
        Key ( "position" );   if ( iPosition < 0 ) Put ( "null" ); else PutInt ( iPosition );
        UInt ( "identifier", iIdentifier );
        Key ( "sentinel" );   if ( iSentinel < 0 ) Put ( "null" ); else PutInt ( iSentinel );
        S3DX::AIScriptCallback pAddress = iSentinel < 0 ? nullptr : Sentinel ( static_cast<unsigned int>( iSentinel ) );
        if ( !Guarded ( [&] { pEngineAPI->RegisterCallback ( iIdentifier, pAddress ); } ) || !ReadSlots ( aSlots ) )
        {
            Bool ( "crashed", true ); End ( );
            ReadSlots ( aSlotsBefore );
            return;
        }
        Key ( "changed" );
        Put ( "[" );
        bool bFirst = true;
        for ( unsigned int i = 0; i < kSlotCount; ++i )
        {
            if ( aSlots[i] == aSlotsBefore[i] ) continue;
            if ( !bFirst ) Put ( ", " );
            bFirst = false;
            Put ( "{\"slot\": " ); PutUInt ( i );
            Put ( ", \"from\": " ); PutSlotValue ( aSlotsBefore[i] );
            Put ( ", \"to\": " );   PutSlotValue ( aSlots[i] );
            Put ( "}" );
            aSlotsBefore[i] = aSlots[i];
        }
        Put ( "]" );
        End ( );
    }

    void EngineAPIPhase ( )
    {
        Step ( "engine-api" );
        S3DX::AIEngineAPI *pSecond = nullptr;
        Begin ( "engine-api" );
        if ( !Guarded ( [&] { pEngineAPI = pPlugin->GetAIEngineAPI ( ); pSecond = pPlugin->GetAIEngineAPI ( ); } ) )
        {
            pEngineAPI = nullptr;
            Bool ( "crashed", true ); End ( );
            return;
        }
        Bool ( "null", pEngineAPI == nullptr );
        Bool ( "same", pEngineAPI == pSecond );
        void *pGlobal = ProbeSymbol ( pLibrary, ProbeGlobalTableName ( ) );
        Bool ( "global_found", pGlobal != nullptr );
        Key ( "equals_global" );
        if ( pGlobal ) PutBool ( *static_cast<S3DX::AIEngineAPI **>( pGlobal ) == pEngineAPI ); else Put ( "null" );
        End ( );
        if ( !pEngineAPI ) return;

        SlotsRecord ( "before" );
        if ( !ReadSlots ( aSlotsBefore ) ) return;
        for ( unsigned int i = 0; i < kIdentifierCount; ++i )
            RegisterRecord ( "known", static_cast<int>( i ), aIdentifiers[i], static_cast<int>( i ) );
        for ( unsigned int i = 0; i < kUnknownCount; ++i )
            RegisterRecord ( "unknown", -1, aUnknownIdentifiers[i], static_cast<int>( kIdentifierCount + i ) );
        RegisterRecord ( "repeat",  0, aIdentifiers[0], static_cast<int>( kRepeatSentinel ) );
        RegisterRecord ( "null",    0, aIdentifiers[0], -1 );
        RegisterRecord ( "restore", 0, aIdentifiers[0], 0 );
        SlotsRecord ( "after" );
    }

    Text oName, oOutputs, oInputs, oHelp;

    void FunctionRecord ( unsigned int iPackage, unsigned int iIndex, bool bFiller )
    {
        const S3DX::AIFunctionRecord *pRow = nullptr, *pAgain = nullptr;
        bool bCallback = false;
        unsigned int iFlags = 0;
        Begin ( "function" );
        UInt ( "package", iPackage );
        UInt ( "index", iIndex );
        Bool ( "filler", bFiller );
        bTextTruncated = false;
        if ( !Guarded ( [&] {
                 pRow   = aPackages[iPackage]->GetFunctionAt ( iIndex );
                 pAgain = aPackages[iPackage]->GetFunctionAt ( iIndex );
                 CopyText ( oName, pRow->pName );
                 CopyText ( oOutputs, pRow->pOutputs );
                 CopyText ( oInputs, pRow->pInputs );
                 CopyText ( oHelp, pRow->pHelp );
                 bCallback = pRow->pCallback != nullptr;
                 iFlags    = pRow->iFlags;
             } ) )
        {
            Bool ( "crashed", true ); End ( );
            return;
        }
        TextMember ( "name", oName );
        Bool ( "callback", bCallback );
        TextMember ( "outputs", oOutputs );
        TextMember ( "inputs", oInputs );
        TextMember ( "help", oHelp );
        UInt ( "flags", iFlags );
        Bool ( "same", pRow == pAgain );
        if ( bTextTruncated ) Bool ( "truncated", true );
        End ( );
    }

    void ConstantRecord ( unsigned int iPackage, unsigned int iIndex, bool bFiller )
    {
        const S3DX::AIConstantRecord *pRow = nullptr, *pAgain = nullptr;
        S3DX::AIVariable vValue;
        unsigned int iFlags = 0;
        Begin ( "constant" );
        UInt ( "package", iPackage );
        UInt ( "index", iIndex );
        Bool ( "filler", bFiller );
        bTextTruncated = false;
        if ( !Guarded ( [&] {
                 pRow   = aPackages[iPackage]->GetConstantAt ( iIndex );
                 pAgain = aPackages[iPackage]->GetConstantAt ( iIndex );
                 CopyText ( oName, pRow->pName );
                 memcpy ( static_cast<void *>( &vValue ), &pRow->vValue, sizeof vValue );
                 CopyText ( oHelp, pRow->pHelp );
                 iFlags = pRow->iFlags;
             } ) )
        {
            Bool ( "crashed", true ); End ( );
            return;
        }
        TextMember ( "name", oName );
        UInt ( "tag", vValue.iType );
        Hex ( "payload", PayloadOf ( vValue ), sizeof ( void * ) );
        TextMember ( "help", oHelp );
        UInt ( "flags", iFlags );
        Bool ( "same", pRow == pAgain );
        if ( bTextTruncated ) Bool ( "truncated", true );
        End ( );
    }

    // Function counts as read, for the callback phase.
    unsigned int aFunctionCounts [ kMaxPackages ];

    void PackagesPhase ( )
    {
        Step ( "packages" );
        iPackageCount = 0;
        Begin ( "package-count" );
        if ( Guarded ( [&] { iPackageCount = pPlugin->GetAIPackageCount ( ); } ) ) UInt ( "value", iPackageCount );
        else Bool ( "crashed", true );
        End ( );

        const unsigned int iListed = iPackageCount < kMaxPackages ? iPackageCount : kMaxPackages;
        const unsigned int aOutside [ ] = { iPackageCount, 0xffffffffu };
        for ( unsigned int k = 0; k < iListed + 2; ++k )
        {
            const unsigned int iIndex = k < iListed ? k : aOutside[k - iListed];
            S3DX::AIPackage *pPackage = nullptr, *pAgain = nullptr;
            unsigned int iFunctions = 0, iConstants = 0;
            Begin ( "package" );
            UInt ( "index", iIndex );
            if ( !Guarded ( [&] {
                     pPackage = pPlugin->GetAIPackageAt ( iIndex );
                     pAgain   = pPlugin->GetAIPackageAt ( iIndex );
                     if ( pPackage )
                     {
                         CopyText ( oName, pPackage->GetName ( ) );
                         iFunctions = pPackage->GetFunctionCount ( );
                         iConstants = pPackage->GetConstantCount ( );
                     }
                 } ) )
            {
                Bool ( "crashed", true ); End ( );
                continue;
            }
            Bool ( "null", pPackage == nullptr );
            Bool ( "same", pPackage == pAgain );
            if ( pPackage )
            {
                TextMember ( "name", oName );
                UInt ( "function_count", iFunctions );
                UInt ( "constant_count", iConstants );
            }
            End ( );
            if ( k >= iListed ) continue;
            aPackages[k] = pPackage;
            aFunctionCounts[k] = 0;
            if ( !pPackage ) continue;

            aFunctionCounts[k] = iFunctions < kMaxRows ? iFunctions : kMaxRows;
            if ( iFunctions == 0 ) FunctionRecord ( k, 0, true );
            for ( unsigned int i = 0; i < aFunctionCounts[k]; ++i ) FunctionRecord ( k, i, false );
            const unsigned int iRows = iConstants < kMaxRows ? iConstants : kMaxRows;
            if ( iConstants == 0 ) ConstantRecord ( k, 0, true );
            for ( unsigned int i = 0; i < iRows; ++i ) ConstantRecord ( k, i, false );
        }
    }

    void FillMarker ( S3DX::AIVariable *a, unsigned int n )
    {
        memset ( static_cast<void *>( a ), 0xa5, n * sizeof ( S3DX::AIVariable ) );
        for ( unsigned int i = 0; i < n; ++i ) a[i].iType = 0x7f;
    }

    bool IsMarker ( const S3DX::AIVariable &v )
    {
        if ( v.iType != 0x7f ) return false;
        for ( size_t i = 0; i < sizeof ( void * ); ++i ) if ( PayloadOf ( v )[i] != 0xa5 ) return false;
        return true;
    }

    void CallRecord ( unsigned int iPackage, unsigned int iIndex, S3DX::AIScriptCallback pCallback, const Text &tName, int iArguments )
    {
        S3DX::AIVariable aArguments [ 3 ] = { S3DX::AIVariable ( 1.5f ), S3DX::AIVariable ( "probe" ), S3DX::AIVariable ( true ) };
        unsigned char aArgumentBytes [ sizeof aArguments ];
        memcpy ( aArgumentBytes, static_cast<const void *>( aArguments ), sizeof aArguments );
        S3DX::AIVariable aResults [ kResultCount ];
        FillMarker ( aResults, kResultCount );

        Begin ( "call" );
        UInt ( "package", iPackage );
        UInt ( "function", iIndex );
        TextMember ( "name", tName );
        Int ( "arguments", iArguments );
        int iReturned = 0;
        if ( !Guarded ( [&] { iReturned = pCallback ( iArguments, aArguments, aResults ); } ) )
        {
            Bool ( "crashed", true ); End ( );
            return;
        }
        Int ( "returned", iReturned );
        Key ( "changed" );
        Put ( "[" );
        bool bFirst = true;
        for ( unsigned int i = 0; i < kResultCount; ++i )
        {
            if ( IsMarker ( aResults[i] ) ) continue;
            if ( !bFirst ) Put ( ", " );
            bFirst = false;
            Put ( "{\"slot\": " ); PutUInt ( i );
            Put ( ", \"tag\": " ); PutUInt ( aResults[i].iType );
            Put ( ", \"payload\": " ); PutHex ( PayloadOf ( aResults[i] ), sizeof ( void * ) );
            Put ( "}" );
        }
        Put ( "]" );
        Bool ( "arguments_changed", memcmp ( aArgumentBytes, static_cast<const void *>( aArguments ), sizeof aArguments ) != 0 );
        End ( );
    }

    void CallbacksPhase ( )
    {
        Step ( "callbacks" );
        const unsigned int iListed = iPackageCount < kMaxPackages ? iPackageCount : kMaxPackages;
        for ( unsigned int k = 0; k < iListed; ++k )
        {
            if ( !aPackages[k] ) continue;
            for ( unsigned int i = 0; i < aFunctionCounts[k]; ++i )
            {
                S3DX::AIScriptCallback pCallback = nullptr;
                if ( !Guarded ( [&] {
                         const S3DX::AIFunctionRecord *pRow = aPackages[k]->GetFunctionAt ( i );
                         pCallback = pRow->pCallback;
                         CopyText ( oName, pRow->pName );
                     } ) || !pCallback )
                    continue;
                CallRecord ( k, i, pCallback, oName, 0 );
                CallRecord ( k, i, pCallback, oName, 3 );
            }
        }
    }

    void InheritedPhase ( )
    {
        Step ( "inherited" );
        static unsigned char aHandOver [ 64 ];
        struct Setter { const char *pName; void ( S3DX::Plugin::*pOperation ) ( void * ); };
        const Setter aSetters [ ] =
        {
            { "SetJavaVM",             &S3DX::Plugin::SetJavaVM },
            { "SetDirect3DDevice",     &S3DX::Plugin::SetDirect3DDevice },
            { "SetXAudio2",            &S3DX::Plugin::SetXAudio2 },
            { "SetNaClModuleInstance", &S3DX::Plugin::SetNaClModuleInstance },
        };
        for ( const Setter &s : aSetters )
        {
            Observe ( oBefore );
            Begin ( "inherited" );
            Str ( "operation", s.pName );
            if ( !Guarded ( [&] { ( pPlugin->*s.pOperation ) ( aHandOver ); } ) ) { Bool ( "crashed", true ); End ( ); continue; }
            Observe ( oAfter );
            Bool ( "changed", !SameObservable ( oBefore, oAfter ) );
            End ( );
        }

        {
            S3DX::AIVariable aValues [ 4 ];
            FillMarker ( aValues, 4 );
            Observe ( oBefore );
            Begin ( "inherited" );
            Str ( "operation", "OnEngineEvent" );
            if ( !Guarded ( [&] { pPlugin->OnEngineEvent ( 1, 2, aValues ); } ) ) Bool ( "crashed", true );
            else
            {
                Observe ( oAfter );
                Bool ( "changed", !SameObservable ( oBefore, oAfter ) );
                Key ( "touched" );
                Put ( "[" );
                bool bFirst = true;
                for ( unsigned int i = 0; i < 4; ++i )
                {
                    if ( IsMarker ( aValues[i] ) ) continue;
                    if ( !bFirst ) Put ( ", " );
                    bFirst = false;
                    PutUInt ( i );
                }
                Put ( "]" );
            }
            End ( );
        }

        Begin ( "inherited" );
        Str ( "operation", "GetAudioBackendCount" );
        unsigned int iCount = 0;
        if ( Guarded ( [&] { iCount = pPlugin->GetAudioBackendCount ( ); } ) ) UInt ( "value", iCount );
        else Bool ( "crashed", true );
        End ( );

        const unsigned int aIndexes [ ] = { 0, 1, 0xffffffffu };
        for ( unsigned int iIndex : aIndexes )
        {
            S3DX::AudioBackend *pBackend = nullptr;
            Begin ( "inherited" );
            Str ( "operation", "GetAudioBackendAt" );
            UInt ( "index", iIndex );
            if ( Guarded ( [&] { pBackend = pPlugin->GetAudioBackendAt ( iIndex ); } ) ) Bool ( "null", pBackend == nullptr );
            else Bool ( "crashed", true );
            End ( );
        }
    }

    void EngineObjectsPhase ( )
    {
        Step ( "engine-objects" );
        for ( const EngineObject &o : aEngineObjects )
        {
            char aName [ 256 ];
            ProbeEngineObjectName ( aName, sizeof aName, o.pType, o.pObject );
            const unsigned char *pObject = static_cast<const unsigned char *>( ProbeSymbol ( pLibrary, aName ) );
            Begin ( "engine-object" );
            Str ( "object", o.pObject );
            Str ( "type", o.pType );
            Bool ( "found", pObject != nullptr );
            if ( pObject )
            {
                static S3DX::AIVariable aMembers [ 1024 ];
                const unsigned int n = o.iCount < 1024 ? o.iCount : 1024;
                if ( !Guarded ( [&] { memcpy ( static_cast<void *>( aMembers ), pObject, n * sizeof ( S3DX::AIVariable ) ); } ) )
                    Bool ( "crashed", true );
                else
                {
                    Key ( "members" );
                    Put ( "[" );
                    for ( unsigned int i = 0; i < n; ++i )
                    {
                        if ( i ) Put ( ", " );
                        Put ( "{\"tag\": " ); PutUInt ( aMembers[i].iType );
                        Put ( ", \"payload\": " ); PutHex ( PayloadOf ( aMembers[i] ), sizeof ( void * ) );
                        Put ( "}" );
                    }
                    Put ( "]" );
                }
            }
            End ( );
        }
    }

    void UnloadPhase ( )
    {
        Step ( "unload" );
        char aError [ 512 ] = "";
        ProbeRecordFrees ( pLibrary, true );
        bool bOk = false;
        const bool bReturned = Guarded ( [&] { bOk = ProbeUnload ( pLibrary, aError, sizeof aError ); } );
        ProbeRecordFrees ( pLibrary, false );
        pLibrary = nullptr;

        Begin ( "unload" );
        if ( !bReturned ) { Bool ( "crashed", true ); End ( ); return; }
        Bool ( "ok", bOk );
        if ( !bOk ) { Key ( "error" ); PutText ( reinterpret_cast<const unsigned char *>( aError ), strlen ( aError ) ); }
        static ProbeFree aFrees [ 256 ];
        bool bOrdered = true;
        const unsigned int n = ProbeRecordedFrees ( aFrees, 256, &bOrdered );
        Bool ( "ordered", bOrdered );
        Key ( "frees" );
        Put ( "[" );
        for ( unsigned int i = 0; i < n && i < 256; ++i )
        {
            if ( i ) Put ( ", " );
            int iPackage = -1;
            for ( unsigned int k = 0; k < iPackageCount && k < kMaxPackages; ++k )
                if ( aPackages[k] && static_cast<const void *>( aPackages[k] ) == aFrees[i].pBlock ) { iPackage = static_cast<int>( k ); break; }
            if ( iPackage >= 0 ) { Put ( "{\"package\": " ); PutInt ( iPackage ); Put ( "}" ); }
            else
            {
                Put ( "{\"package\": null, \"size\": " );
                if ( aFrees[i].bSizeKnown ) PutUInt ( aFrees[i].iSize ); else Put ( "null" );
                Put ( "}" );
            }
        }
        Put ( "]" );
        End ( );
    }
}

int main ( int argc, char **argv )
{
    if ( argc != 2 )
    {
        fputs ( "usage: lerpwork-probe LIBRARY\n", stderr );
        return 2;
    }

    Begin ( "probe" );
    UInt ( "format", 1 );
    Str ( "platform", ProbePlatformName ( ) );
    UInt ( "pointer_size", sizeof ( void * ) );
    UInt ( "variable_size", sizeof ( S3DX::AIVariable ) );
    End ( );

    char aError [ 512 ] = "";
    pLibrary = ProbeLoad ( argv[1], aError, sizeof aError );
    Begin ( "load" );
    Bool ( "ok", pLibrary != nullptr );
    if ( !pLibrary ) { Key ( "error" ); PutText ( reinterpret_cast<const unsigned char *>( aError ), strlen ( aError ) ); }
    End ( );
    if ( !pLibrary ) { Begin ( "end" ); End ( ); return 0; }

    const bool bEntry = ProbeSymbol ( pLibrary, "GetPlugin" ) != nullptr;
    Begin ( "entry" );
    Str ( "name", "GetPlugin" );
    Bool ( "found", bEntry );
    End ( );

    if ( bEntry && PluginPhase ( ) )
    {
        EngineAPIPhase ( );
        PackagesPhase ( );
        CallbacksPhase ( );
        InheritedPhase ( );
        EngineObjectsPhase ( );
        UnloadPhase ( );
    }
    Begin ( "end" );
    End ( );
    return 0;
}
