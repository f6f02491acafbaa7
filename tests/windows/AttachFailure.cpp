// Runs the DLL's start-up with the heap failing: the library is mapped
// without its start-up (DONT_RESOLVE_DLL_REFERENCES), its imports are bound
// here, with malloc failing from its n-th call on and free recorded, and its
// entry is called for process attach and detach. The operator new of the
// library throws, the exception leaves the plug-in object's initialiser, and
// the start-up turns it into a failed attach: no crash, no destructor on the
// exit list, nothing freed that was not being built. With no failure the
// same binding must give a successful attach and the normal unload, which
// shows that the binding itself is sound.
//
//   lerpwork-attach-failure LERPWORK.DLL      exit status 0 when all cases hold

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

extern "C"
{
    void *__stdcall LoadLibraryA   ( const char *pPath );
    void *__stdcall LoadLibraryExA ( const char *pPath, void *hFile, unsigned int iFlags );
    void *__stdcall GetProcAddress ( void *hModule, const char *pName );
    int   __stdcall FreeLibrary    ( void *hModule );
    int   __stdcall VirtualProtect ( void *pAddress, size_t n, unsigned int iProtection, unsigned int *pOld );

    int    __cdecl  _configure_narrow_argv ( int iMode );
    int   *__cdecl  __p___argc ( void );
    char ***__cdecl __p___argv ( void );
    void   __cdecl  exit ( int iStatus );
}

namespace
{
    enum { kDontResolveReferences = 0x1, kPageReadWrite = 0x04, kProcessDetach = 0, kProcessAttach = 1 };

    typedef void *( __cdecl *MallocFunction ) ( size_t );
    typedef void  ( __cdecl *FreeFunction ) ( void * );
    typedef int   ( __stdcall *EntryFunction ) ( void *, unsigned int, void * );

    MallocFunction pRealMalloc;
    FreeFunction   pRealFree;
    unsigned int   iMallocCalls, iFailFrom;
    void          *aAllocated [ 16 ];
    unsigned int   iAllocated;
    void          *aFreed [ 16 ];
    unsigned int   iFreed;

    void *__cdecl FailingMalloc ( size_t n )
    {
        ++iMallocCalls;
        if ( iFailFrom && iMallocCalls >= iFailFrom ) return nullptr;
        void *p = pRealMalloc ( n );
        if ( iAllocated < 16 ) aAllocated[iAllocated++] = p;
        return p;
    }

    void __cdecl RecordingFree ( void *p )
    {
        if ( p && iFreed < 16 ) aFreed[iFreed++] = p;
        pRealFree ( p );
    }

    template < class T > T *At ( unsigned char *pBase, unsigned int iOffset ) { return reinterpret_cast<T *>( pBase + iOffset ); }

    // Binds every import of the mapped module as the loader would, except
    // malloc and free. Returns false when one cannot be found.
    bool BindImports ( unsigned char *pBase )
    {
        const unsigned int iHeaders = *At<unsigned int>( pBase, 0x3c );
        const unsigned int iImports = *At<unsigned int>( pBase, iHeaders + 4 + 20 + 96 + 8 );
        for ( unsigned int *d = At<unsigned int>( pBase, iImports ); d[3]; d += 5 )
        {
            void *hLibrary = LoadLibraryA ( At<char>( pBase, d[3] ) );
            if ( !hLibrary ) return false;
            const unsigned int *pNames = At<unsigned int>( pBase, d[0] );
            void             **pSlots = At<void *>( pBase, d[4] );
            for ( unsigned int i = 0; pNames[i]; ++i )
            {
                const char *pName = At<char>( pBase, pNames[i] + 2 );
                void *pAddress = GetProcAddress ( hLibrary, pName );
                if ( !pAddress ) return false;
                if ( strcmp ( pName, "malloc" ) == 0 ) { pRealMalloc = reinterpret_cast<MallocFunction>( pAddress ); pAddress = reinterpret_cast<void *>( FailingMalloc ); }
                if ( strcmp ( pName, "free" ) == 0 )   { pRealFree = reinterpret_cast<FreeFunction>( pAddress );     pAddress = reinterpret_cast<void *>( RecordingFree ); }
                unsigned int iOld = 0;
                VirtualProtect ( &pSlots[i], sizeof pSlots[i], kPageReadWrite, &iOld );
                pSlots[i] = pAddress;
                VirtualProtect ( &pSlots[i], sizeof pSlots[i], iOld, &iOld );
            }
        }
        return true;
    }

    bool bFailed;

    void Say ( const char *pText ) { fputs ( pText, stdout ); }

    void Expect ( bool bOk, unsigned int iFailFromCall, const char *pWhat )
    {
        char s[256];
        snprintf ( s, sizeof s, "%s  malloc failing from call %u: %s\n", bOk ? "ok    " : "FAILED", iFailFromCall, pWhat );
        Say ( s );
        if ( !bOk ) bFailed = true;
    }

    // One case: malloc fails from call iFail on (0: never).
    void RunCase ( const char *pPath, unsigned int iFail )
    {
        iMallocCalls = iAllocated = iFreed = 0;
        iFailFrom = iFail;
        unsigned char *pBase = static_cast<unsigned char *>( LoadLibraryExA ( pPath, nullptr, kDontResolveReferences ) );
        if ( !pBase || !BindImports ( pBase ) ) { Expect ( false, iFail, "the library maps and its imports bind" ); return; }
        const unsigned int iHeaders = *At<unsigned int>( pBase, 0x3c );
        EntryFunction pEntry = reinterpret_cast<EntryFunction>( pBase + *At<unsigned int>( pBase, iHeaders + 4 + 20 + 16 ) );

        const int iAttach = pEntry ( pBase, kProcessAttach, nullptr );
        const unsigned int iAllocatedAtAttach = iAllocated, iFreedAtAttach = iFreed;
        const int iDetach = pEntry ( pBase, kProcessDetach, nullptr );
        const unsigned int iFreedAtDetach = iFreed - iFreedAtAttach;

        if ( iFail == 0 )
        {
            Expect ( iAttach == 1, iFail, "attach succeeds" );
            Expect ( iAllocatedAtAttach == 3 && iFreedAtAttach == 0, iFail, "attach allocates the three packages and frees nothing" );
            bool bInOrder = iFreedAtDetach == 3;
            for ( unsigned int i = 0; bInOrder && i < 3; ++i ) bInOrder = aFreed[i] == aAllocated[i];
            Expect ( bInOrder, iFail, "detach frees the three packages, in slot order" );
        }
        else
        {
            // Call n is the allocation of package n - 1; those before it were made.
            Expect ( iAttach == 0, iFail, "attach fails, without a crash" );
            Expect ( iAllocatedAtAttach == iFail - 1 && iFreedAtAttach == 0, iFail,
                     "the packages made before the failing one stay; nothing is freed" );
            Expect ( iFreedAtDetach == 0, iFail, "detach runs no destructor: none was registered" );
        }
        Expect ( iDetach == 1, iFail, "detach succeeds" );
        FreeLibrary ( pBase );
    }
}

int main ( int argc, char **argv )
{
    if ( argc != 2 ) { fputs ( "usage: lerpwork-attach-failure LERPWORK.DLL\n", stderr ); return 2; }
    for ( unsigned int iFail = 0; iFail <= 3; ++iFail ) RunCase ( argv[1], iFail );
    Say ( bFailed ? "attach failure: failed\n" : "attach failure: as expected\n" );
    return bFailed ? 1 : 0;
}

// ---------------------------------------------------------------------------
// Process start-up: no run-time start-up code is linked into the program.

extern "C" int _fltused = 0x9875;

extern "C" int __cdecl AttachFailureStartup ( void )
{
    _configure_narrow_argv ( 1 );
    exit ( main ( *__p___argc ( ), *__p___argv ( ) ) );
    return 0;
}
