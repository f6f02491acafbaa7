// The engine callback table: the identifier list the library is built with,
// RegisterCallback against a plain model of that list, and table copies.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <set>
#include <typeinfo>
#include <vector>

#include "LerpworkPlugin.h"

namespace
{
    struct Row { uint32_t iIdentifier; unsigned int iSlot; };
    const Row aRows [ ] =
    {
#define S3DX_ENGINE_FUNCTION( identifier, slot ) { identifier, slot },
#include "S3DXAIEngineIdentifiers.inc"
#undef S3DX_ENGINE_FUNCTION
    };
    constexpr unsigned int kSlots = S3DX::AIEngineAPI::kCallbackCount;

    // A distinct, recognisable address per slot; never called.
    S3DX::AIScriptCallback Sentinel ( unsigned int i )
    {
        return reinterpret_cast<S3DX::AIScriptCallback>( static_cast<uintptr_t>( 0x1000 + 16 * i ) );
    }

    // The host-visible contract of RegisterCallback, written as the plain
    // scan of the test sequence.
    void ModelRegister ( std::array<S3DX::AIScriptCallback, kSlots> &aModel, uint32_t iIdentifier, S3DX::AIScriptCallback p )
    {
        for ( const Row &r : aRows )
            if ( r.iIdentifier == iIdentifier ) { aModel[r.iSlot] = p; return; }
    }

    std::array<S3DX::AIScriptCallback, kSlots> SlotsOf ( const S3DX::AIEngineAPI &t )
    {
        std::array<S3DX::AIScriptCallback, kSlots> a;
        std::copy ( t.aCallbacks, t.aCallbacks + kSlots, a.begin ( ) );
        return a;
    }

    // A table to register into that leaves the plug-in's own one alone; copy
    // construction does not move the global pointer.
    Lerpwork::__AIEngineAPI FreshTable ( )
    {
        Lerpwork::__AIEngineAPI t ( Lerpwork::__oInstance.oAIEngineAPI );
        std::fill ( t.aCallbacks, t.aCallbacks + kSlots, nullptr );
        return t;
    }
}

TEST ( IdentifierList, HoldsItsFixedRowsAndProperties )
{
    ASSERT_EQ ( std::size ( aRows ), kSlots );
    std::set<uint32_t> ids;
    std::vector<int> aOwners ( kSlots, 0 );
    unsigned int iMoved = 0;
    for ( unsigned int p = 0; p < kSlots; ++p )
    {
        ids.insert ( aRows[p].iIdentifier );
        ASSERT_LT ( aRows[p].iSlot, kSlots );
        ++aOwners[aRows[p].iSlot];
        if ( aRows[p].iSlot != p ) ++iMoved;
    }
    EXPECT_EQ ( ids.size ( ), kSlots ) << "identifiers are pairwise distinct";
    EXPECT_TRUE ( std::all_of ( aOwners.begin ( ), aOwners.end ( ), [ ] ( int n ) { return n == 1; } ) ) << "one identifier per slot";
    EXPECT_EQ ( iMoved, 1059u );
    EXPECT_EQ ( *ids.begin ( ), 0x0002d229u );
    EXPECT_EQ ( *ids.rbegin ( ), 0xffe11c31u );
    EXPECT_EQ ( ids.count ( 0u ), 0u );
    EXPECT_EQ ( ids.count ( 0xffffffffu ), 0u );
    for ( unsigned int p = 0; p < 12; ++p ) EXPECT_EQ ( aRows[p].iSlot, p );

    struct Fixed { unsigned int iPosition; uint32_t iIdentifier; unsigned int iSlot; };
    const Fixed aFixed [ ] =
    {
        { 0, 0x0c0b94c3, 0 }, { 1, 0x731527b4, 1 }, { 2, 0xb3fbbf64, 2 }, { 3, 0x81edcd7d, 3 }, { 4, 0x26378d81, 4 },
        { 12, 0x12f66939, 27 }, { 13, 0xbcdd2945, 28 }, { 14, 0xdbc245a7, 12 },
        { 1615, 0x01532fff, 1621 }, { 1616, 0x14eb8309, 1615 }, { 1617, 0x32060199, 1616 }, { 1618, 0xdd3484f3, 1617 },
        { 1619, 0xd748c5b1, 1618 }, { 1620, 0xff6b159b, 1619 }, { 1621, 0xfe220246, 1620 },
    };
    for ( const Fixed &f : aFixed )
    {
        EXPECT_EQ ( aRows[f.iPosition].iIdentifier, f.iIdentifier ) << "position " << f.iPosition;
        EXPECT_EQ ( aRows[f.iPosition].iSlot, f.iSlot ) << "position " << f.iPosition;
    }
}

TEST ( EngineAPI, SlotsAreNullUntilRegisteredAndTheGlobalPointsAtTheTable )
{
    const Lerpwork::__AIEngineAPI &t = Lerpwork::__oInstance.oAIEngineAPI;
    EXPECT_TRUE ( std::all_of ( t.aCallbacks, t.aCallbacks + kSlots, [ ] ( S3DX::AIScriptCallback p ) { return p == nullptr; } ) );
    EXPECT_EQ ( GUID_Lerpwork::__pS3DXEAPIMI, GetPlugin ( )->GetAIEngineAPI ( ) );
    EXPECT_EQ ( sizeof ( S3DX::AIEngineAPI ), ( kSlots + 1 ) * sizeof ( void * ) );
}

TEST ( EngineAPI, RegistrationFillsExactlyItsSlot )
{
    struct Case { uint32_t iIdentifier; int iSlot; };  // -1: not an identifier
    const Case aCases [ ] =
    {
        { 0x0c0b94c3, 0 }, { 0x12f66939, 27 }, { 0xdbc245a7, 12 }, { 0x01532fff, 1621 }, { 0xfe220246, 1620 },
        { 0x0002d229, -2 }, { 0xffe11c31, -2 },  // the extremes: whichever slot the list gives them
        { 0, -1 }, { 0xffffffff, -1 }, { 0x0002d228, -1 }, { 0xffe11c32, -1 }, { 0x0c0b94c2, -1 },
    };
    for ( const Case &c : aCases )
    {
        Lerpwork::__AIEngineAPI t = FreshTable ( );
        std::array<S3DX::AIScriptCallback, kSlots> aModel = SlotsOf ( t );
        t.RegisterCallback ( c.iIdentifier, Sentinel ( 7 ) );
        ModelRegister ( aModel, c.iIdentifier, Sentinel ( 7 ) );
        EXPECT_EQ ( SlotsOf ( t ), aModel ) << std::hex << c.iIdentifier;
        const long iFilled = std::count ( t.aCallbacks, t.aCallbacks + kSlots, Sentinel ( 7 ) );
        EXPECT_EQ ( iFilled, c.iSlot == -1 ? 0 : 1 ) << std::hex << c.iIdentifier;
        if ( c.iSlot >= 0 ) EXPECT_EQ ( t.aCallbacks[c.iSlot], Sentinel ( 7 ) ) << std::hex << c.iIdentifier;
    }
}

TEST ( EngineAPI, AnyOrderOfRegistrationsMatchesTheModel )
{
    std::mt19937 rng ( 20261211 );
    std::vector<uint32_t> aIds;
    for ( const Row &r : aRows ) aIds.push_back ( r.iIdentifier );
    for ( int i = 0; i < 200; ++i ) aIds.push_back ( static_cast<uint32_t>( rng ( ) ) );  // mostly unknown
    for ( int round = 0; round < 3; ++round )
    {
        std::shuffle ( aIds.begin ( ), aIds.end ( ), rng );
        Lerpwork::__AIEngineAPI t = FreshTable ( );
        std::array<S3DX::AIScriptCallback, kSlots> aModel = SlotsOf ( t );
        for ( size_t i = 0; i < aIds.size ( ); ++i )
        {
            // Every tenth a null, so that unregistering is exercised too.
            S3DX::AIScriptCallback p = i % 10 == 9 ? nullptr : Sentinel ( static_cast<unsigned int>( i ) );
            t.RegisterCallback ( aIds[i], p );
            ModelRegister ( aModel, aIds[i], p );
        }
        EXPECT_EQ ( SlotsOf ( t ), aModel ) << "round " << round;
    }
}

TEST ( EngineAPI, LastRegistrationWinsAndNullUnregisters )
{
    Lerpwork::__AIEngineAPI t = FreshTable ( );
    t.RegisterCallback ( 0x12f66939, Sentinel ( 1 ) );
    t.RegisterCallback ( 0x12f66939, Sentinel ( 2 ) );
    EXPECT_EQ ( t.aCallbacks[27], Sentinel ( 2 ) );
    t.RegisterCallback ( 0x12f66939, nullptr );
    EXPECT_EQ ( t.aCallbacks[27], nullptr );
    EXPECT_TRUE ( std::all_of ( t.aCallbacks, t.aCallbacks + kSlots, [ ] ( S3DX::AIScriptCallback p ) { return p == nullptr; } ) );
}

TEST ( EngineAPI, CopiesCarryEverySlotAndStayIndependent )
{
    S3DX::AIEngineAPI *pGlobal = GUID_Lerpwork::__pS3DXEAPIMI;
    Lerpwork::__AIEngineAPI a = FreshTable ( );
    for ( unsigned int p = 0; p < kSlots; p += 3 ) a.RegisterCallback ( aRows[p].iIdentifier, Sentinel ( p ) );

    Lerpwork::__AIEngineAPI copied ( a );
    Lerpwork::__AIEngineAPI moved ( std::move ( a ) );
    EXPECT_EQ ( SlotsOf ( copied ), SlotsOf ( a ) );
    EXPECT_EQ ( SlotsOf ( moved ), SlotsOf ( a ) ) << "a move copies; the source keeps its slots";
    EXPECT_EQ ( typeid ( static_cast<S3DX::AIEngineAPI &>( moved ) ), typeid ( Lerpwork::__AIEngineAPI ) );

    copied.RegisterCallback ( aRows[1].iIdentifier, Sentinel ( 9999 ) );
    EXPECT_NE ( SlotsOf ( copied ), SlotsOf ( a ) );
    EXPECT_EQ ( SlotsOf ( moved ), SlotsOf ( a ) );

    Lerpwork::__AIEngineAPI assigned = FreshTable ( );
    assigned = copied;
    EXPECT_EQ ( SlotsOf ( assigned ), SlotsOf ( copied ) );
    Lerpwork::__AIEngineAPI moveAssigned = FreshTable ( );
    moveAssigned = std::move ( copied );
    EXPECT_EQ ( SlotsOf ( moveAssigned ), SlotsOf ( copied ) );

    // Assignment through the base keeps the destination's dynamic type.
    S3DX::AIEngineAPI &base = assigned;
    base = static_cast<const S3DX::AIEngineAPI &>( a );
    EXPECT_EQ ( SlotsOf ( assigned ), SlotsOf ( a ) );
    EXPECT_EQ ( typeid ( base ), typeid ( Lerpwork::__AIEngineAPI ) );

    const std::array<S3DX::AIScriptCallback, kSlots> before = SlotsOf ( assigned );
    Lerpwork::__AIEngineAPI &self = assigned;
    assigned = self;
    EXPECT_EQ ( SlotsOf ( assigned ), before );

    EXPECT_EQ ( GUID_Lerpwork::__pS3DXEAPIMI, pGlobal ) << "copies never move the global pointer";
    EXPECT_EQ ( GUID_Lerpwork::__pS3DXEAPIMI, &Lerpwork::__oInstance.oAIEngineAPI );
}
