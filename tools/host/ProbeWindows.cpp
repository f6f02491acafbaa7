// The host probe's platform layer for 32-bit Windows (run under Wine by
// tools/host/backends/pe.py): LoadLibraryA/GetProcAddress/FreeLibrary,
// structured exception handling for the guard, the MSVC decorated names, and
// the process's own start-up, since no run-time start-up code is linked.
//
// Releases at unload are seen through the library's own import of the run
// time's free: while recording, its import slot points at a hook of the
// probe, so a release counts as the library's when the library's code asks
// for it (operator delete and free of the library both end there), in the
// order asked. Blocks that the run time frees on its own behalf, such as the
// storage of the library's exit list, do not count, as on the other
// platforms.

#include "HostProbe.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

extern "C"
{
    // KERNEL32.dll
    void        *__stdcall LoadLibraryA   ( const char *pPath );
    void        *__stdcall GetProcAddress ( void *hModule, const char *pName );
    int          __stdcall FreeLibrary    ( void *hModule );
    unsigned int __stdcall GetLastError   ( void );

    int          __stdcall VirtualProtect ( void *pAddress, size_t n, unsigned int iProtection, unsigned int *pOld );

    // api-ms-win-crt-heap
    void __cdecl free ( void *p );

    // api-ms-win-crt-runtime: the process's arguments and its end.
    int    __cdecl  _configure_narrow_argv ( int iMode );
    int   *__cdecl  __p___argc ( void );
    char ***__cdecl __p___argv ( void );
    void   __cdecl  exit ( int iStatus );
}

namespace
{
    enum { kPageReadWrite = 0x04 };

    bool         bRecording;
    ProbeFree    aFrees [ 256 ];
    unsigned int iFrees;

    typedef void ( __cdecl *FreeFunction ) ( void * );

    void __cdecl FreeHook ( void *p )
    {
        if ( bRecording && p )
        {
            if ( iFrees < sizeof aFrees / sizeof aFrees[0] ) aFrees[iFrees] = ProbeFree { p, 0, false };
            ++iFrees;
        }
        free ( p );
    }

    template < class T > const T *At ( const unsigned char *pBase, unsigned int iOffset )
    {
        return reinterpret_cast<const T *>( pBase + iOffset );
    }

    // Points every import slot of the module that binds the name "free" at
    // pHook. The module's headers are read as the loader laid them out.
    unsigned int HookFree ( void *hModule, FreeFunction pHook )
    {
        const unsigned char *pBase     = static_cast<const unsigned char *>( hModule );
        const unsigned int   iHeaders  = *At<unsigned int>( pBase, 0x3c );
        // The import directory: entry 1 of the data directories, which begin
        // 96 bytes into the 32-bit optional header, after the 4-byte
        // signature and the 20-byte file header.
        const unsigned int   iImports  = *At<unsigned int>( pBase, iHeaders + 4 + 20 + 96 + 8 );
        if ( !iImports ) return 0;
        unsigned int nHooked = 0;
        // Import descriptors: lookup table, time stamp, forwarder chain, name, address table.
        for ( const unsigned int *d = At<unsigned int>( pBase, iImports ); d[3]; d += 5 )
        {
            const unsigned int *pNames = At<unsigned int>( pBase, d[0] ? d[0] : d[4] );
            FreeFunction       *pSlots = reinterpret_cast<FreeFunction *>( const_cast<unsigned char *>( pBase ) + d[4] );
            for ( unsigned int i = 0; pNames[i]; ++i )
            {
                if ( pNames[i] & 0x80000000u ) continue;                  // by ordinal
                const char *pName = At<char>( pBase, pNames[i] + 2 );     // after the hint
                if ( strcmp ( pName, "free" ) != 0 ) continue;
                unsigned int iOld = 0;
                if ( !VirtualProtect ( &pSlots[i], sizeof pSlots[i], kPageReadWrite, &iOld ) ) continue;
                pSlots[i] = pHook;
                VirtualProtect ( &pSlots[i], sizeof pSlots[i], iOld, &iOld );
                ++nHooked;
            }
        }
        return nHooked;
    }
}

struct ProbeLibrary
{
    void *hModule;
};

const char *ProbePlatformName ( ) { return "windows"; }

ProbeLibrary *ProbeLoad ( const char *pPath, char *pError, size_t nError )
{
    static ProbeLibrary oLibrary;
    void *hModule = LoadLibraryA ( pPath );
    if ( !hModule )
    {
        snprintf ( pError, nError, "LoadLibraryA failed with error %u", GetLastError ( ) );
        return nullptr;
    }
    oLibrary.hModule = hModule;
    return &oLibrary;
}

void *ProbeSymbol ( ProbeLibrary *pLibrary, const char *pName )
{
    return GetProcAddress ( pLibrary->hModule, pName );
}

// A global variable of class type in namespace S3DX: "?" name "@S3DX@@3U"
// type "@AIEngineAPI@1@A", where 1 refers back to the second name, S3DX.
void ProbeEngineObjectName ( char *pOut, size_t nOut, const char *pType, const char *pObject )
{
    snprintf ( pOut, nOut, "?%s@S3DX@@3U%s@AIEngineAPI@1@A", pObject, pType );
}

const char *ProbeGlobalTableName ( ) { return "?__pS3DXEAPIMI@GUID_Lerpwork@@3PAVAIEngineAPI@S3DX@@A"; }

bool ProbeUnload ( ProbeLibrary *pLibrary, char *pError, size_t nError )
{
    const bool bOk = FreeLibrary ( pLibrary->hModule ) != 0;
    if ( !bOk ) snprintf ( pError, nError, "FreeLibrary failed with error %u", GetLastError ( ) );
    pLibrary->hModule = nullptr;
    return bOk;
}

bool ProbeGuard ( void ( *pCall ) ( void * ), void *pContext )
{
    __try
    {
        pCall ( pContext );
    }
    __except ( 1 )
    {
        return false;
    }
    return true;
}

void ProbeRecordFrees ( ProbeLibrary *pLibrary, bool bOn )
{
    // The hook stays in place: the library's image is gone once it has
    // unloaded, and with it the slot.
    if ( bOn )
    {
        iFrees = 0;
        if ( pLibrary && pLibrary->hModule ) HookFree ( pLibrary->hModule, FreeHook );
    }
    bRecording = bOn;
}

unsigned int ProbeRecordedFrees ( ProbeFree *aOut, unsigned int nMax, bool *pOrdered )
{
    const unsigned int iKept = iFrees < sizeof aFrees / sizeof aFrees[0] ? iFrees : sizeof aFrees / sizeof aFrees[0];
    for ( unsigned int i = 0; i < iKept && i < nMax; ++i ) aOut[i] = aFrees[i];
    *pOrdered = true;
    return iFrees;
}

// ---------------------------------------------------------------------------
// Process start-up: no run-time start-up code is linked into the probe.

extern "C" int _fltused = 0x9875;

typedef void ( __cdecl *Initialiser ) ( void );
#pragma section ( ".CRT$XCA", long, read )
#pragma section ( ".CRT$XCZ", long, read )
__declspec ( allocate ( ".CRT$XCA" ) ) static const Initialiser aInitialisersBegin[1] = { nullptr };
__declspec ( allocate ( ".CRT$XCZ" ) ) static const Initialiser aInitialisersEnd[1]   = { nullptr };

int main ( int argc, char **argv );

extern "C" int __cdecl ProbeStartup ( void )
{
    for ( const Initialiser *p = aInitialisersBegin + 1; p < aInitialisersEnd; ++p )
        if ( *p ) ( *p ) ( );
    // 1: the arguments as given, without wildcard expansion.
    _configure_narrow_argv ( 1 );
    exit ( main ( *__p___argc ( ), *__p___argv ( ) ) );
    return 0;
}
