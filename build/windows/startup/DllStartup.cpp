// Start-up and run-time support of Lerpwork.dll: what the compiler's static
// run-time library would put into the module, written for this library alone.
//
// At process attach the module's initialisers run in the order the linker laid
// them out (every unit's dynamic initialisers in link order, each unit's in
// definition order), then the library's entry routine. Destructors that the
// initialisers register go on the module's own exit list, which runs at
// process detach, so that FreeLibrary, and not only the end of the process,
// destroys the plug-in object. Runs on the loader's thread, under its lock.

#include <stddef.h>
#include <stdlib.h>

extern "C"
{
    // ---- Imports of the universal run time (api-ms-win-crt-runtime) -------

    typedef int ( __cdecl *OnExitFunction ) ( void );

    // An exit list: the run time owns the array the three pointers describe.
    struct OnExitTable
    {
        OnExitFunction *pFirst;
        OnExitFunction *pLast;
        OnExitFunction *pEnd;
    };

    int __cdecl _initialize_onexit_table  ( OnExitTable *pTable );
    int __cdecl _register_onexit_function ( OnExitTable *pTable, OnExitFunction pFunction );
    int __cdecl _execute_onexit_table     ( OnExitTable *pTable );

    // ---- Imports of KERNEL32.dll, for the stack cookie ---------------------

    struct FileTime { unsigned int iLow; unsigned int iHigh; };
    void         __stdcall GetSystemTimeAsFileTime ( FileTime *pTime );
    unsigned int __stdcall GetCurrentProcessId     ( void );
    unsigned int __stdcall GetCurrentThreadId      ( void );
    int          __stdcall QueryPerformanceCounter ( long long *pCount );

    void __fastfail ( unsigned int iCode );
}

// ---------------------------------------------------------------------------
// Initialiser sections. The linker sorts the sections .CRT$XC* by the text
// after the $ and the compiler puts every unit's initialiser pointer into
// .CRT$XCU; the two pointers here bracket them.

typedef void ( __cdecl *Initialiser ) ( void );

#pragma section ( ".CRT$XCA", long, read )
#pragma section ( ".CRT$XCZ", long, read )
__declspec ( allocate ( ".CRT$XCA" ) ) static const Initialiser aInitialisersBegin[1] = { nullptr };
__declspec ( allocate ( ".CRT$XCZ" ) ) static const Initialiser aInitialisersEnd[1]   = { nullptr };

// The module's exit list. Zero storage until process attach sets it up.
static OnExitTable oModuleExitTable;

// Registration of a destructor of a static object: on the module's own list.
extern "C" int __cdecl atexit ( void ( __cdecl *pFunction ) ( void ) )
{
    return _register_onexit_function ( &oModuleExitTable, reinterpret_cast<OnExitFunction>( pFunction ) ) == 0 ? 0 : -1;
}

// ---------------------------------------------------------------------------
// Stack cookie of the functions the compiler guards. The default is replaced
// at attach, before any guarded function of the module runs.

extern "C" unsigned int __security_cookie = 0xbb40e64eu;

extern "C" void __fastcall __security_check_cookie ( unsigned int iCookie )
{
    // An overwritten cookie means a smashed stack: end the process on the spot.
    if ( iCookie != __security_cookie ) __fastfail ( 2 );
}

static void InitialiseSecurityCookie ( )
{
    FileTime  oTime;
    long long iCount = 0;
    GetSystemTimeAsFileTime ( &oTime );
    QueryPerformanceCounter ( &iCount );
    unsigned int iCookie = oTime.iLow ^ oTime.iHigh ^ GetCurrentProcessId ( ) ^ GetCurrentThreadId ( )
                         ^ static_cast<unsigned int>( iCount ) ^ static_cast<unsigned int>( iCount >> 32 )
                         ^ reinterpret_cast<unsigned int>( &iCookie );
    // The default value and zero would be guessable.
    if ( iCookie == 0xbb40e64eu || iCookie == 0 ) iCookie = 0xbb40e64fu;
    __security_cookie = iCookie;
}

// ---------------------------------------------------------------------------
// Load configuration: the image's table of exception handlers (without it the
// linker marks the image as having none, and the system then refuses the
// handlers of the C++ exception frames) and the address of the stack cookie.
// The linker provides the two handler symbols.

extern "C" const void   *__safe_se_handler_table[];
extern "C" const char    __safe_se_handler_count;

struct LoadConfiguration
{
    unsigned int   iSize;
    unsigned int   iTimeDateStamp;
    unsigned short iMajorVersion;
    unsigned short iMinorVersion;
    unsigned int   iGlobalFlagsClear;
    unsigned int   iGlobalFlagsSet;
    unsigned int   iCriticalSectionDefaultTimeout;
    unsigned int   iDeCommitFreeBlockThreshold;
    unsigned int   iDeCommitTotalFreeThreshold;
    unsigned int   iLockPrefixTable;
    unsigned int   iMaximumAllocationSize;
    unsigned int   iVirtualMemoryThreshold;
    unsigned int   iProcessHeapFlags;
    unsigned int   iProcessAffinityMask;
    unsigned short iCSDVersion;
    unsigned short iDependentLoadFlags;
    unsigned int   iEditList;
    const void    *pSecurityCookie;
    const void    *pSEHandlerTable;
    const void    *pSEHandlerCount;
};
static_assert ( sizeof ( LoadConfiguration ) == 72, "the load configuration up to the handler table" );

extern "C" const LoadConfiguration _load_config_used =
{
    sizeof ( LoadConfiguration ), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    &__security_cookie, __safe_se_handler_table, &__safe_se_handler_count
};

// ---------------------------------------------------------------------------
// Run-time support the compiler refers to.

// Marks a module that uses floating point; the value is the customary one.
extern "C" int _fltused = 0x9875;

// The virtual table of the type behind the compiler's run-time type
// descriptors, which refer to it by this name. The library never asks a type
// for its name nor destroys a type descriptor, so the one slot (the deleting
// destructor) is never called; it returns the object, as a destructor that
// frees nothing would.
namespace
{
    struct TypeDescriptorObject
    {
        void *__thiscall Delete ( unsigned int ) { return this; }
    };

    typedef void *( __thiscall TypeDescriptorObject::*DeleteSlot ) ( unsigned int );
}

extern "C" const DeleteSlot aTypeInfoTable[1] __asm__ ( "??_7type_info@@6B@" ) = { &TypeDescriptorObject::Delete };

namespace
{
    // What operator new throws when the heap has no block for it. Nothing in
    // the library catches it: it leaves the initialiser that asked, and the
    // start-up turns it into a failed attach.
    struct AllocationFailure { };
}

void *operator new ( size_t n )
{
    void *p = malloc ( n ? n : 1 );
    if ( !p ) throw AllocationFailure ( );
    return p;
}

void operator delete ( void *p ) noexcept
{
    free ( p );
}

void operator delete ( void *p, size_t ) noexcept
{
    free ( p );
}

// ---------------------------------------------------------------------------
// Entry points.

enum { kProcessDetach = 0, kProcessAttach = 1 };

// The library's own entry routine: every notification succeeds.
extern "C" int __stdcall DllMain ( void *, unsigned int, void * )
{
    return 1;
}

static bool RunInitialisers ( )
{
    try
    {
        for ( const Initialiser *p = aInitialisersBegin + 1; p < aInitialisersEnd; ++p )
            if ( *p ) ( *p ) ( );
    }
    catch ( ... )
    {
        return false;
    }
    return true;
}

extern "C" int __stdcall LerpworkDllStartup ( void *hModule, unsigned int iReason, void *pReserved )
{
    if ( iReason == kProcessAttach )
    {
        InitialiseSecurityCookie ( );
        if ( _initialize_onexit_table ( &oModuleExitTable ) != 0 ) return 0;
        // A failing initialiser fails the attach; what was registered before it
        // is torn down at once. The loader then detaches the module, and the
        // second run of the emptied list does nothing.
        if ( !RunInitialisers ( ) )
        {
            _execute_onexit_table ( &oModuleExitTable );
            return 0;
        }
        return DllMain ( hModule, iReason, pReserved );
    }
    if ( iReason == kProcessDetach )
    {
        const int iResult = DllMain ( hModule, iReason, pReserved );
        _execute_onexit_table ( &oModuleExitTable );
        return iResult;
    }
    return DllMain ( hModule, iReason, pReserved );
}
