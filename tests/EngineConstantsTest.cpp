// The 35 engine package objects: every member's tag and bits against the
// constants list, their layout at this width, and the rows worth naming.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace
{
    struct Member { bool bNil; float fValue; };
    struct Package { const char *pObject; const void *pAddress; size_t iSize; std::vector<Member> aMembers; };

    std::vector<Package> ListedPackages ( )
    {
        std::vector<Package> a;
#define S3DX_ENGINE_PACKAGE_BEGIN( Type, object, count ) a.push_back ( { #object, &S3DX::object, sizeof ( S3DX::object ), { } } );
#define S3DX_ENGINE_NUMBER( Type, position, value )      a.back ( ).aMembers.push_back ( { false, value } );
#define S3DX_ENGINE_NIL( Type, position )                a.back ( ).aMembers.push_back ( { true, 0.0f } );
#define S3DX_ENGINE_PACKAGE_END( Type, object, count )
#define S3DX_ENGINE_EMPTY_PACKAGE( Type, object )        a.push_back ( { #object, &S3DX::object, sizeof ( S3DX::object ), { } } );
#include "S3DXAIEngineConstants.inc"
#undef S3DX_ENGINE_PACKAGE_BEGIN
#undef S3DX_ENGINE_NUMBER
#undef S3DX_ENGINE_NIL
#undef S3DX_ENGINE_PACKAGE_END
#undef S3DX_ENGINE_EMPTY_PACKAGE
        return a;
    }

    const S3DX::AIVariable *MembersOf ( const void *p ) { return static_cast<const S3DX::AIVariable *>( p ); }
}

TEST ( EngineConstants, EveryMemberHoldsItsListedValueBitForBit )
{
    const std::vector<Package> aPackages = ListedPackages ( );
    ASSERT_EQ ( aPackages.size ( ), 35u );
    size_t iMembers = 0, iWithConstants = 0;
    for ( const Package &p : aPackages )
    {
        iMembers += p.aMembers.size ( );
        if ( p.aMembers.empty ( ) )
        {
            EXPECT_EQ ( p.iSize, 1u ) << p.pObject << " is an empty object";
            continue;
        }
        ++iWithConstants;
        EXPECT_EQ ( p.iSize, p.aMembers.size ( ) * sizeof ( S3DX::AIVariable ) ) << p.pObject;
        for ( size_t i = 0; i < p.aMembers.size ( ); ++i )
        {
            const S3DX::AIVariable &v = MembersOf ( p.pAddress )[i];
            const std::string where = std::string ( p.pObject ) + "[" + std::to_string ( i ) + "]";
            if ( p.aMembers[i].bNil )
            {
                EXPECT_TRUE ( v.IsNil ( ) ) << where;
                EXPECT_EQ ( v.pHandleValue, nullptr ) << where;
                continue;
            }
            EXPECT_EQ ( v.iType, S3DX::AIVariable::TypeNumber ) << where;
            EXPECT_EQ ( FloatBits ( v.fNumberValue ), FloatBits ( p.aMembers[i].fValue ) ) << where;
            const std::vector<unsigned char> b = PayloadBytes ( v );
            for ( size_t k = 4; k < b.size ( ); ++k ) EXPECT_EQ ( b[k], 0 ) << where << " payload byte " << k;
        }
    }
    EXPECT_EQ ( iMembers, 611u );
    EXPECT_EQ ( iWithConstants, 23u );
}

TEST ( EngineConstants, RowsWorthNaming )
{
    EXPECT_EQ ( sizeof ( S3DX::animation ), sizeof ( void * ) == 4 ? 80u : 160u );
    EXPECT_EQ ( S3DX::hud.k0.GetNumberValue ( ), 1.0f );
    EXPECT_TRUE ( S3DX::hud.k155.IsNil ( ) );
    EXPECT_EQ ( S3DX::hud.k155.GetNumberValue ( ), 0.0f );
    EXPECT_EQ ( S3DX::hud.k154.GetNumberValue ( ), 5.0f );
    EXPECT_EQ ( S3DX::hud.k156.GetNumberValue ( ), 66.0f );
    EXPECT_EQ ( FloatBits ( S3DX::math.k0.fNumberValue ), 0x7F7FFFFFu );
    EXPECT_EQ ( FloatBits ( S3DX::math.k1.fNumberValue ), 0x358637BDu ) << "1e-06 as a float, not the double";
    EXPECT_EQ ( FloatBits ( S3DX::math.k2.fNumberValue ), 0x40490FDBu );
    EXPECT_EQ ( FloatBits ( S3DX::network.k4.fNumberValue ), 0x45A75000u );
    EXPECT_TRUE ( S3DX::math.k0 == 3.4028235e+38f );
    const float aUser [ ] = { 3, 2, 0, 1, 0, 1, -1, 0, 1, -2, -3, -4, -5, -6, -7, 2, -8, -9 };
    const S3DX::AIVariable *pUser = MembersOf ( &S3DX::user );
    for ( size_t i = 0; i < std::size ( aUser ); ++i ) EXPECT_EQ ( pUser[i].GetNumberValue ( ), aUser[i] ) << "user[" << i << "]";
    EXPECT_NE ( static_cast<const void *>( &S3DX::collider ), static_cast<const void *>( &S3DX::group ) ) << "empty objects have addresses of their own";
}
