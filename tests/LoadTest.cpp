// The built shared library, loaded as a host loads it: dlopen, GetPlugin by
// name, the plug-in's operations, dlclose. The executable provides the global
// operators new and delete (exported, so the library binds to them) and logs
// what the library allocates and frees while it loads and unloads.

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "LerpworkPlugin.h"
#include "LerpworkPackage.h"

// The direct-call object shares the plug-in class's name, so the class is
// named with its class-key here.

namespace
{
    struct Event { bool bFree; void *p; size_t n; };
    bool               bLogging = false;
    std::vector<Event> *pLog    = nullptr;

    // While the library unloads: the plug-in object, so the hook can see the
    // package slots at the moment each package is freed.
    const class Lerpwork *pUnloading = nullptr;
    std::vector<std::vector<bool>> *pSlotsNullAtFree = nullptr;

    void Record ( bool bFree, void *p, size_t n )
    {
        if ( !bLogging ) return;
        bLogging = false;  // the log's own growth is not the library's
        pLog->push_back ( { bFree, p, n } );
        if ( bFree && pUnloading )
        {
            std::vector<bool> aNull;
            for ( S3DX::AIPackage *pPackage : pUnloading->aAIPackages ) aNull.push_back ( pPackage == nullptr );
            pSlotsNullAtFree->push_back ( aNull );
        }
        bLogging = true;
    }
}

void *operator new ( size_t n )
{
    void *p = std::malloc ( n ? n : 1 );
    if ( !p ) throw std::bad_alloc ( );
    Record ( false, p, n );
    return p;
}
void *operator new[] ( size_t n ) { return operator new ( n ); }
void  operator delete ( void *p ) noexcept { if ( p ) Record ( true, p, 0 ); std::free ( p ); }
void  operator delete[] ( void *p ) noexcept { operator delete ( p ); }
void  operator delete ( void *p, size_t ) noexcept { operator delete ( p ); }
void  operator delete[] ( void *p, size_t ) noexcept { operator delete ( p ); }

namespace
{
    // One loaded copy of the library, with what its load allocated.
    class Loaded
    {
    public:
        Loaded ( )
        {
            pLog = &aLoadLog;
            bLogging = true;
            pHandle = dlopen ( LERPWORK_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL );
            bLogging = false;
            if ( !pHandle ) { ADD_FAILURE ( ) << dlerror ( ); return; }
            typedef S3DX::Plugin *( *GetPluginFunction ) ( );
            pGetPlugin = reinterpret_cast<GetPluginFunction>( dlsym ( pHandle, "GetPlugin" ) );
        }
        ~Loaded ( ) { if ( pHandle ) Unload ( ); }

        // Unloads, logging the frees and the slots' state at each free.
        void Unload ( )
        {
            aSlotsNullAtFree.clear ( );
            pSlotsNullAtFree = &aSlotsNullAtFree;
            pUnloading = static_cast<const class Lerpwork *>( pGetPlugin ( ) );
            pLog = &aUnloadLog;
            bLogging = true;
            dlclose ( pHandle );
            bLogging = false;
            pUnloading = nullptr;
            pHandle = nullptr;
        }

        template < class T > T *Symbol ( const char *pName ) { return reinterpret_cast<T *>( dlsym ( pHandle, pName ) ); }
        S3DX::Plugin *Plugin ( ) { return pGetPlugin ( ); }
        class Lerpwork *Object ( ) { return static_cast<class Lerpwork *>( pGetPlugin ( ) ); }

        void                           *pHandle    = nullptr;
        S3DX::Plugin *( *pGetPlugin ) ( ) = nullptr;
        std::vector<Event>              aLoadLog, aUnloadLog;
        std::vector<std::vector<bool>>  aSlotsNullAtFree;
    };

    S3DX::AIScriptCallback Sentinel ( unsigned int i ) { return reinterpret_cast<S3DX::AIScriptCallback>( static_cast<uintptr_t>( 0x4000 + 8 * i ) ); }
}

TEST ( LoadedLibrary, IsCompleteBeforeTheFirstCall )
{
    Loaded lib;
    ASSERT_NE ( lib.pGetPlugin, nullptr ) << "GetPlugin resolves by its plain name";
    // Engine package objects and the direct-call object, read before any call.
    const S3DX::AIVariable *pHud = lib.Symbol<const S3DX::AIVariable> ( "_ZN4S3DX3hudE" );
    const LerpworkDirectCalls *pDirect = lib.Symbol<const LerpworkDirectCalls> ( "Lerpwork" );
    ASSERT_NE ( pHud, nullptr );
    ASSERT_NE ( pDirect, nullptr );
    EXPECT_TRUE ( pHud[0].IsNumber ( ) );
    EXPECT_EQ ( pHud[0].GetNumberValue ( ), 1.0f );
    EXPECT_TRUE ( pHud[155].IsNil ( ) );

    S3DX::Plugin *p = lib.Plugin ( );
    ASSERT_NE ( p, nullptr );
    EXPECT_EQ ( p, lib.Plugin ( ) );
    EXPECT_EQ ( pDirect->isInAnimationMode, p->GetAIPackageAt ( 2 )->GetFunctionAt ( 0 )->pCallback );
    EXPECT_EQ ( p->GetSDKVersion ( ), 0x02000000u );
    EXPECT_EQ ( *lib.Symbol<S3DX::AIEngineAPI *> ( "_ZN13GUID_Lerpwork13__pS3DXEAPIMIE" ), p->GetAIEngineAPI ( ) );

    // Loading built the three packages and allocated nothing else.
    ASSERT_EQ ( lib.aLoadLog.size ( ), 3u );
    for ( unsigned int i = 0; i < 3; ++i )
    {
        EXPECT_FALSE ( lib.aLoadLog[i].bFree );
        EXPECT_EQ ( lib.aLoadLog[i].p, static_cast<void *>( p->GetAIPackageAt ( i ) ) ) << "slot " << i;
    }
    const char *aNames [ ] = { "instant", "inst", "Lerpwork" };
    for ( unsigned int i = 0; i < 3; ++i ) EXPECT_STREQ ( p->GetAIPackageAt ( i )->GetName ( ), aNames[i] );
    for ( unsigned int i : { 3u, 0xffffffffu } ) EXPECT_EQ ( p->GetAIPackageAt ( i ), nullptr );
}

TEST ( LoadedLibrary, UnloadDestroysEachPackageOnceInSlotOrder )
{
    Loaded lib;
    ASSERT_NE ( lib.pGetPlugin, nullptr );
    std::vector<void *> aPackages;
    for ( unsigned int i = 0; i < 3; ++i ) aPackages.push_back ( lib.Plugin ( )->GetAIPackageAt ( i ) );
    lib.Unload ( );
    ASSERT_EQ ( lib.aUnloadLog.size ( ), 3u ) << "the packages are freed and nothing else is allocated or freed";
    for ( unsigned int i = 0; i < 3; ++i )
    {
        EXPECT_TRUE ( lib.aUnloadLog[i].bFree );
        EXPECT_EQ ( lib.aUnloadLog[i].p, aPackages[i] ) << "free number " << i;
        // When package i is freed, the slots before it are already null.
        for ( unsigned int j = 0; j < 3; ++j )
            EXPECT_EQ ( lib.aSlotsNullAtFree[i][j], j < i ) << "free " << i << ", slot " << j;
    }
}

TEST ( LoadedLibrary, ReloadStartsAfresh )
{
    {
        Loaded lib;
        ASSERT_NE ( lib.pGetPlugin, nullptr );
        lib.Plugin ( )->SetContentsDirectory ( "/first/load" );
        lib.Plugin ( )->GetAIEngineAPI ( )->RegisterCallback ( 0x0c0b94c3, Sentinel ( 1 ) );
    }
    Loaded lib;
    ASSERT_NE ( lib.pGetPlugin, nullptr );
    EXPECT_STREQ ( lib.Object ( )->aContentsDirectory, "" );
    EXPECT_EQ ( lib.Plugin ( )->GetAIEngineAPI ( )->aCallbacks[0], nullptr );
    EXPECT_EQ ( lib.aLoadLog.size ( ), 3u );
}

TEST ( LoadedLibrary, RegistrationThroughTheInterface )
{
    Loaded lib;
    ASSERT_NE ( lib.pGetPlugin, nullptr );
    S3DX::AIEngineAPI *t = lib.Plugin ( )->GetAIEngineAPI ( );
    for ( unsigned int i = 0; i < S3DX::AIEngineAPI::kCallbackCount; ++i ) ASSERT_EQ ( t->aCallbacks[i], nullptr ) << i;
    t->RegisterCallback ( 0x0c0b94c3, Sentinel ( 1 ) );  // first tested
    t->RegisterCallback ( 0xfe220246, Sentinel ( 2 ) );  // last tested
    t->RegisterCallback ( 0x01532fff, Sentinel ( 3 ) );  // last slot
    t->RegisterCallback ( 0, Sentinel ( 4 ) );
    t->RegisterCallback ( 0xffffffff, Sentinel ( 5 ) );
    t->RegisterCallback ( 0x12f66939, Sentinel ( 6 ) );
    t->RegisterCallback ( 0x12f66939, Sentinel ( 7 ) );  // repeated
    t->RegisterCallback ( 0xbcdd2945, Sentinel ( 8 ) );
    t->RegisterCallback ( 0xbcdd2945, nullptr );         // unregistered again
    for ( unsigned int i = 0; i < S3DX::AIEngineAPI::kCallbackCount; ++i )
    {
        S3DX::AIScriptCallback expected = nullptr;
        if ( i == 0 ) expected = Sentinel ( 1 );
        if ( i == 1620 ) expected = Sentinel ( 2 );
        if ( i == 1621 ) expected = Sentinel ( 3 );
        if ( i == 27 ) expected = Sentinel ( 7 );
        EXPECT_EQ ( t->aCallbacks[i], expected ) << "slot " << i;
    }
}

TEST ( LoadedLibrary, ContentsDirectoryAtTheMembersLimit )
{
    Loaded lib;
    ASSERT_NE ( lib.pGetPlugin, nullptr );
    S3DX::Plugin *p = lib.Plugin ( );
    EXPECT_STREQ ( lib.Object ( )->aContentsDirectory, "" );
    const std::string s1023 ( 1023, 'd' ), s4000 ( 4000, 'e' );
    p->SetContentsDirectory ( s1023.c_str ( ) );
    EXPECT_EQ ( std::string ( lib.Object ( )->aContentsDirectory ), s1023 );
    p->SetContentsDirectory ( s4000.c_str ( ) );
    EXPECT_EQ ( std::string ( lib.Object ( )->aContentsDirectory ), s4000.substr ( 0, 1023 ) );
    p->SetContentsDirectory ( nullptr );
    EXPECT_STREQ ( lib.Object ( )->aContentsDirectory, "" );
}
