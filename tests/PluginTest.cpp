// The plug-in object as the host sees it, in-process: entry point, version,
// packages in their slots, the contents directory, inherited operations, and
// destruction of a plug-in object of our own.

#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "LerpworkPlugin.h"

namespace
{
    const char *StoredDirectory ( ) { return Lerpwork::__oInstance.aContentsDirectory; }
}

TEST ( Plugin, EntryVersionAndPackages )
{
    EXPECT_STREQ ( StoredDirectory ( ), "" ) << "empty until the host hands a directory over";
    S3DX::Plugin *p = GetPlugin ( );
    ASSERT_NE ( p, nullptr );
    EXPECT_EQ ( p, GetPlugin ( ) );
    EXPECT_EQ ( p, &Lerpwork::__oInstance );
    EXPECT_EQ ( p->GetSDKVersion ( ), 0x02000000u );
    EXPECT_EQ ( p->GetAIEngineAPI ( ), GUID_Lerpwork::__pS3DXEAPIMI );
    ASSERT_EQ ( p->GetAIPackageCount ( ), 3u );
    const char *aNames [ ] = { "instant", "inst", "Lerpwork" };
    for ( unsigned int i = 0; i < 3; ++i )
    {
        ASSERT_NE ( p->GetAIPackageAt ( i ), nullptr );
        EXPECT_STREQ ( p->GetAIPackageAt ( i )->GetName ( ), aNames[i] );
        EXPECT_EQ ( p->GetAIPackageAt ( i ), p->GetAIPackageAt ( i ) );
    }
    for ( unsigned int i : { 3u, 4u, 0x80000000u, 0xffffffffu } ) EXPECT_EQ ( p->GetAIPackageAt ( i ), nullptr ) << i;
}

TEST ( Plugin, ContentsDirectoryNeverRunsPastItsMember )
{
    S3DX::Plugin *p = GetPlugin ( );
    struct Case { const char *pWhat; std::string sPath; bool bNull; std::string sStored; };
    const std::string s1023 ( 1023, 'a' );
    const std::string s1024 = std::string ( 1023, 'b' ) + "c";
    const Case aCases [ ] =
    {
        { "long",            "/games/" + std::string ( 500, 'x' ), false, "/games/" + std::string ( 500, 'x' ) },
        { "empty again",     "",                                    false, "" },
        { "exactly 1023",    s1023,                                 false, s1023 },
        { "1024 is cut",     s1024,                                 false, s1024.substr ( 0, 1023 ) },
        { "far too long",    std::string ( 100000, 'z' ),           false, std::string ( 1023, 'z' ) },
        { "short after long", "/c",                                 false, "/c" },
        { "null",            "",                                    true,  "" },
    };
    for ( const Case &c : aCases )
    {
        // A canary right behind the member shows any write past it.
        char *pAfter = reinterpret_cast<char *>( &Lerpwork::__oInstance ) + sizeof ( Lerpwork );
        const std::vector<char> before ( reinterpret_cast<char *>( Lerpwork::__oInstance.aContentsDirectory ) + 1024, pAfter );
        p->SetContentsDirectory ( c.bNull ? nullptr : c.sPath.c_str ( ) );
        EXPECT_EQ ( std::string ( StoredDirectory ( ) ), c.sStored ) << c.pWhat;
        EXPECT_EQ ( std::vector<char> ( reinterpret_cast<char *>( Lerpwork::__oInstance.aContentsDirectory ) + 1024, pAfter ), before ) << c.pWhat;
    }
    // The copy is taken at once: changing the host's string changes nothing.
    char aHost [ ] = "/host/dir";
    p->SetContentsDirectory ( aHost );
    aHost[1] = 'X';
    EXPECT_STREQ ( StoredDirectory ( ), "/host/dir" );
}

TEST ( Plugin, InheritedOperationsChangeNothing )
{
    S3DX::Plugin *p = GetPlugin ( );
    std::vector<unsigned char> before ( sizeof ( Lerpwork ) );
    std::memcpy ( before.data ( ), &Lerpwork::__oInstance, before.size ( ) );
    int iToken = 0;
    S3DX::AIVariable aArgs [ 2 ] = { S3DX::AIVariable ( "m" ), S3DX::AIVariable ( 3 ) };
    p->SetJavaVM ( &iToken );
    p->SetDirect3DDevice ( &iToken );
    p->SetXAudio2 ( &iToken );
    p->SetNaClModuleInstance ( &iToken );
    p->OnEngineEvent ( 1, 2, aArgs );
    EXPECT_EQ ( p->GetAudioBackendCount ( ), 0u );
    EXPECT_EQ ( p->GetAudioBackendAt ( 0 ), nullptr );
    EXPECT_TRUE ( aArgs[0] == "m" && aArgs[1] == 3 ) << "event arguments untouched";
    std::vector<unsigned char> after ( sizeof ( Lerpwork ) );
    std::memcpy ( after.data ( ), &Lerpwork::__oInstance, after.size ( ) );
    EXPECT_EQ ( before, after );
}

// A second plug-in object, built and destroyed here: its destructor empties
// all three slots. (Building one moves the global table pointer, so it is
// put back afterwards.)
TEST ( Plugin, DestructionNullsEverySlot )
{
    S3DX::AIEngineAPI *pGlobal = GUID_Lerpwork::__pS3DXEAPIMI;
    alignas ( Lerpwork ) unsigned char aStorage [ sizeof ( Lerpwork ) ];
    Lerpwork *p = new ( aStorage ) Lerpwork;
    EXPECT_EQ ( GUID_Lerpwork::__pS3DXEAPIMI, &p->oAIEngineAPI );
    EXPECT_STREQ ( p->aContentsDirectory, "" );
    for ( S3DX::AIPackage *pPackage : p->aAIPackages ) EXPECT_NE ( pPackage, nullptr );
    EXPECT_STREQ ( p->aAIPackages[2]->GetName ( ), "Lerpwork" );
    p->~Lerpwork ( );
    for ( S3DX::AIPackage *pPackage : p->aAIPackages ) EXPECT_EQ ( pPackage, nullptr );
    GUID_Lerpwork::__pS3DXEAPIMI = pGlobal;
}
