// The host probe's platform layer for Linux: dlopen/dlsym/dlclose, signal
// handlers that turn a fault in the library into a failed guard, and
// allocation hooks. The hooks live in the executable, which exports them
// (ENABLE_EXPORTS), so the library's operator delete and free bind to them;
// a release counts as the library's when its caller lies in the library's
// mapped segments.

#include "HostProbe.h"

#include <dlfcn.h>
#include <link.h>
#include <setjmp.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <new>

extern "C" void __libc_free ( void * );

struct ProbeLibrary
{
    void *pHandle;
};

namespace
{
    // The library's mapped address range, kept past dlclose for the hooks.
    const char *pLow, *pHigh;

    bool         bRecording;
    ProbeFree    aFrees [ 256 ];
    unsigned int iFrees;

    void Record ( const void *pCaller, const void *pBlock, size_t iSize, bool bSizeKnown )
    {
        if ( !bRecording || !pBlock ) return;
        const char *p = static_cast<const char *>( pCaller );
        if ( p < pLow || p >= pHigh ) return;
        if ( iFrees < sizeof aFrees / sizeof aFrees[0] ) aFrees[iFrees] = ProbeFree { pBlock, iSize, bSizeKnown };
        ++iFrees;
    }

    struct Range { const char *pBase; const char *pLow; const char *pHigh; };

    int FindRange ( struct dl_phdr_info *pInfo, size_t, void *pContext )
    {
        Range &r = *static_cast<Range *>( pContext );
        if ( reinterpret_cast<const char *>( pInfo->dlpi_addr ) != r.pBase ) return 0;
        for ( int i = 0; i < pInfo->dlpi_phnum; ++i )
        {
            const ElfW(Phdr) &h = pInfo->dlpi_phdr[i];
            if ( h.p_type != PT_LOAD ) continue;
            const char *pStart = r.pBase + h.p_vaddr, *pEnd = pStart + h.p_memsz;
            if ( !r.pLow || pStart < r.pLow ) r.pLow = pStart;
            if ( pEnd > r.pHigh ) r.pHigh = pEnd;
        }
        return 1;
    }

    void OneLine ( char *pOut, size_t nOut, const char *pText )
    {
        snprintf ( pOut, nOut, "%s", pText ? pText : "unknown error" );
        for ( char *p = pOut; *p; ++p ) if ( *p == '\n' || *p == '\r' ) *p = ' ';
    }

    sigjmp_buf *pActiveGuard;

    void OnFault ( int iSignal )
    {
        if ( pActiveGuard ) siglongjmp ( *pActiveGuard, iSignal );
        signal ( iSignal, SIG_DFL );
        raise ( iSignal );
    }

    const int aFaults [ ] = { SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP };
}

const char *ProbePlatformName ( ) { return "linux"; }

ProbeLibrary *ProbeLoad ( const char *pPath, char *pError, size_t nError )
{
    void *pHandle = dlopen ( pPath, RTLD_NOW | RTLD_LOCAL );
    if ( !pHandle )
    {
        OneLine ( pError, nError, dlerror ( ) );
        return nullptr;
    }
    struct link_map *pMap = nullptr;
    if ( dlinfo ( pHandle, RTLD_DI_LINKMAP, &pMap ) == 0 && pMap )
    {
        Range r { reinterpret_cast<const char *>( pMap->l_addr ), nullptr, nullptr };
        dl_iterate_phdr ( FindRange, &r );
        pLow = r.pLow;
        pHigh = r.pHigh;
    }
    ProbeLibrary *pLibrary = static_cast<ProbeLibrary *>( malloc ( sizeof ( ProbeLibrary ) ) );
    pLibrary->pHandle = pHandle;
    return pLibrary;
}

void *ProbeSymbol ( ProbeLibrary *pLibrary, const char *pName )
{
    return dlsym ( pLibrary->pHandle, pName );
}

void ProbeEngineObjectName ( char *pOut, size_t nOut, const char *, const char *pObject )
{
    snprintf ( pOut, nOut, "_ZN4S3DX%zu%sE", strlen ( pObject ), pObject );
}

const char *ProbeGlobalTableName ( ) { return "_ZN13GUID_Lerpwork13__pS3DXEAPIMIE"; }

bool ProbeUnload ( ProbeLibrary *pLibrary, char *pError, size_t nError )
{
    const bool bOk = dlclose ( pLibrary->pHandle ) == 0;
    if ( !bOk ) OneLine ( pError, nError, dlerror ( ) );
    free ( pLibrary );
    return bOk;
}

bool ProbeGuard ( void ( *pCall ) ( void * ), void *pContext )
{
    static bool bInstalled;
    if ( !bInstalled )
    {
        // Faults from a stack overflow need a stack of their own.
        static char aStack [ 1 << 16 ];
        stack_t oStack { };
        oStack.ss_sp = aStack;
        oStack.ss_size = sizeof aStack;
        sigaltstack ( &oStack, nullptr );
        struct sigaction oAction { };
        oAction.sa_handler = OnFault;
        oAction.sa_flags = SA_ONSTACK | SA_NODEFER;
        sigemptyset ( &oAction.sa_mask );
        for ( int iSignal : aFaults ) sigaction ( iSignal, &oAction, nullptr );
        bInstalled = true;
    }
    sigjmp_buf oGuard;
    sigjmp_buf *pOuter = pActiveGuard;
    if ( sigsetjmp ( oGuard, 1 ) != 0 )
    {
        pActiveGuard = pOuter;
        return false;
    }
    pActiveGuard = &oGuard;
    pCall ( pContext );
    pActiveGuard = pOuter;
    return true;
}

void ProbeRecordFrees ( ProbeLibrary *, bool bOn )
{
    if ( bOn ) iFrees = 0;
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
// Allocation hooks, exported from the executable. New goes to malloc, delete
// to free, as the run time's own operators do.

#define PROBE_CALLER __builtin_return_address ( 0 )

void *operator new   ( size_t n )                         { void *p = malloc ( n ? n : 1 ); if ( !p ) abort ( ); return p; }
void *operator new[] ( size_t n )                         { void *p = malloc ( n ? n : 1 ); if ( !p ) abort ( ); return p; }
void *operator new   ( size_t n, const std::nothrow_t & ) noexcept { return malloc ( n ? n : 1 ); }
void *operator new[] ( size_t n, const std::nothrow_t & ) noexcept { return malloc ( n ? n : 1 ); }

void operator delete   ( void *p ) noexcept                          { Record ( PROBE_CALLER, p, 0, false ); __libc_free ( p ); }
void operator delete[] ( void *p ) noexcept                          { Record ( PROBE_CALLER, p, 0, false ); __libc_free ( p ); }
void operator delete   ( void *p, size_t n ) noexcept                { Record ( PROBE_CALLER, p, n, true );  __libc_free ( p ); }
void operator delete[] ( void *p, size_t n ) noexcept                { Record ( PROBE_CALLER, p, n, true );  __libc_free ( p ); }
void operator delete   ( void *p, const std::nothrow_t & ) noexcept  { Record ( PROBE_CALLER, p, 0, false ); __libc_free ( p ); }
void operator delete[] ( void *p, const std::nothrow_t & ) noexcept  { Record ( PROBE_CALLER, p, 0, false ); __libc_free ( p ); }

extern "C" void free ( void *p )
{
    Record ( PROBE_CALLER, p, 0, false );
    __libc_free ( p );
}
