// Properties of the engine callback table under arbitrary sequences of
// registrations, copies, moves, assignments and destructions. Each table has
// a model: 1622 plain slots, written through a linear scan of the identifier
// list in its test order. After every step every table equals its model, so a
// registration touches only its identifier's slot, an unknown identifier
// changes nothing, and a copy or assignment copies every slot and leaves the
// source and the global table pointer alone.

#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <memory>
#include <typeinfo>
#include <vector>

#include "LerpworkPlugin.h"
#include "FuzzSupport.h"

namespace
{
    using Table = class Lerpwork::__AIEngineAPI;
    constexpr unsigned int kSlots = S3DX::AIEngineAPI::kCallbackCount;

    struct Row { unsigned int iIdentifier; unsigned int iSlot; };
    const Row aRows [ ] =
    {
#define S3DX_ENGINE_FUNCTION( identifier, slot ) { identifier, slot },
#include "S3DXAIEngineIdentifiers.inc"
#undef S3DX_ENGINE_FUNCTION
    };
    constexpr unsigned int kRows = sizeof ( aRows ) / sizeof ( aRows[0] );

    // The slot an identifier owns, by a plain scan in test order; -1 for none.
    int ModelSlot ( unsigned int iIdentifier )
    {
        for ( const Row &r : aRows )
            if ( r.iIdentifier == iIdentifier ) return static_cast<int>( r.iSlot );
        return -1;
    }

    using Slots = std::array<S3DX::AIScriptCallback, kSlots>;

    Slots SlotsOf ( const S3DX::AIEngineAPI &t )
    {
        Slots s;
        for ( unsigned int i = 0; i < kSlots; ++i ) s[i] = t.aCallbacks[i];
        return s;
    }

    // Host functions are never called through the table, so any address will do.
    S3DX::AIScriptCallback AddressOf ( uintptr_t i ) { return reinterpret_cast<S3DX::AIScriptCallback>( i ); }

    int HostFunction ( int, const S3DX::AIVariable *, S3DX::AIVariable * ) { return 0; }

    struct Entry
    {
        Table *pTable;  // the plug-in's own table, or one of ours
        bool   bOwned;
        Slots  oModel;
    };

    struct Machine
    {
        FuzzedDataProvider &in;
        Table              &oPlugin;
        std::vector<Entry>  aTables;

        explicit Machine ( FuzzedDataProvider &i )
            : in ( i ), oPlugin ( static_cast<Table &>( *GetPlugin ( )->GetAIEngineAPI ( ) ) )
        {
            aTables.reserve ( 8 );
            aTables.push_back ( { &oPlugin, false, SlotsOf ( oPlugin ) } );
        }

        ~Machine ( )
        {
            for ( Entry &e : aTables ) if ( e.bOwned ) delete e.pTable;
        }

        Entry &Pick ( ) { return aTables[in.ConsumeIntegralInRange<size_t>( 0, aTables.size ( ) - 1 )]; }

        unsigned int NewIdentifier ( )
        {
            switch ( in.ConsumeIntegralInRange<int>( 0, 4 ) )
            {
            case 0:  return aRows[in.ConsumeIntegralInRange<unsigned int>( 0, kRows - 1 )].iIdentifier;
            case 1:  return aRows[in.ConsumeIntegralInRange<unsigned int>( 0, kRows - 1 )].iIdentifier + in.ConsumeIntegralInRange<int>( -3, 3 );
            case 2:  return in.PickValueInArray ( { 0u, 0xffffffffu, 0x0002d229u, 0xffe11c31u, 0x0002d228u, 0xffe11c32u } );
            case 3:  return aRows[in.ConsumeIntegralInRange<unsigned int>( 0, kRows - 1 )].iIdentifier ^ ( 1u << in.ConsumeIntegralInRange<int>( 0, 31 ) );
            default: return in.ConsumeIntegral<unsigned int>( );
            }
        }

        S3DX::AIScriptCallback NewAddress ( )
        {
            switch ( in.ConsumeIntegralInRange<int>( 0, 2 ) )
            {
            case 0:  return nullptr;
            case 1:  return HostFunction;
            default: return AddressOf ( in.ConsumeIntegral<uintptr_t>( ) );
            }
        }

        void CheckAll ( const char *pWhat )
        {
            FUZZ_CHECK ( GUID_Lerpwork::__pS3DXEAPIMI == &oPlugin, "%s: the global table pointer moved", pWhat );
            for ( size_t k = 0; k < aTables.size ( ); ++k )
            {
                const Entry &e = aTables[k];
                FUZZ_CHECK ( typeid ( *e.pTable ) == typeid ( Table ), "%s: table %zu changed its dynamic type", pWhat, k );
                for ( unsigned int i = 0; i < kSlots; ++i )
                    FUZZ_CHECK ( e.pTable->aCallbacks[i] == e.oModel[i], "%s: table %zu, slot %u: %p instead of %p", pWhat, k, i,
                                 reinterpret_cast<void *>( e.pTable->aCallbacks[i] ), reinterpret_cast<void *>( e.oModel[i] ) );
            }
        }

        void Add ( Table *p, const Slots &s ) { aTables.push_back ( { p, true, s } ); }

        void Step ( )
        {
            switch ( in.ConsumeIntegralInRange<int>( 0, 7 ) )
            {
            case 0:
            case 1:
            {
                // Through the host's view: a virtual call on the base.
                Entry &e = Pick ( );
                const unsigned int           id = NewIdentifier ( );
                const S3DX::AIScriptCallback p  = NewAddress ( );
                static_cast<S3DX::AIEngineAPI *>( e.pTable )->RegisterCallback ( id, p );
                const int iSlot = ModelSlot ( id );
                if ( iSlot >= 0 ) e.oModel[iSlot] = p;
                CheckAll ( "register" );
                break;
            }
            case 2:
            {
                // A burst of registrations of one identifier: only the last address stays.
                Entry &e = Pick ( );
                const unsigned int id = NewIdentifier ( );
                const unsigned int n  = in.ConsumeIntegralInRange<unsigned int>( 1, 8 );
                S3DX::AIScriptCallback p = nullptr;
                for ( unsigned int i = 0; i < n; ++i ) e.pTable->RegisterCallback ( id, p = NewAddress ( ) );
                const int iSlot = ModelSlot ( id );
                if ( iSlot >= 0 ) e.oModel[iSlot] = p;
                CheckAll ( "repeated register" );
                break;
            }
            case 3:
                if ( aTables.size ( ) < 6 )
                {
                    const Entry &e = Pick ( );
                    Add ( new Table ( *e.pTable ), e.oModel );
                    CheckAll ( "copy construction" );
                }
                break;
            case 4:
                if ( aTables.size ( ) < 6 )
                {
                    const Entry &e = Pick ( );
                    const Slots s = e.oModel;
                    Add ( new Table ( std::move ( *e.pTable ) ), s );
                    CheckAll ( "move construction" );
                }
                break;
            case 5:
            {
                Entry &d = Pick ( );
                const Entry &s = Pick ( );
                const Slots m = s.oModel;
                switch ( in.ConsumeIntegralInRange<int>( 0, 2 ) )
                {
                case 0:  *d.pTable = *s.pTable; break;
                case 1:  *d.pTable = std::move ( *s.pTable ); break;
                default: static_cast<S3DX::AIEngineAPI &>( *d.pTable ) = static_cast<const S3DX::AIEngineAPI &>( *s.pTable ); break;
                }
                d.oModel = m;
                CheckAll ( "assignment" );
                break;
            }
            case 6:
                if ( aTables.size ( ) > 1 )
                {
                    const size_t k = in.ConsumeIntegralInRange<size_t>( 1, aTables.size ( ) - 1 );
                    delete aTables[k].pTable;
                    aTables.erase ( aTables.begin ( ) + k );
                    CheckAll ( "destruction" );
                }
                break;
            default:
            {
                // Every identifier of the list, each with its own address.
                Entry &e = Pick ( );
                const uintptr_t iBase = in.ConsumeIntegral<uintptr_t>( );
                for ( unsigned int i = 0; i < kRows; ++i )
                {
                    e.pTable->RegisterCallback ( aRows[i].iIdentifier, AddressOf ( iBase + i ) );
                    e.oModel[aRows[i].iSlot] = AddressOf ( iBase + i );
                }
                CheckAll ( "register all" );
                break;
            }
            }
        }
    };
}

extern "C" int LLVMFuzzerInitialize ( int *, char *** )
{
    // The model's own premise: one slot per identifier and one identifier per slot.
    std::vector<int> aOwners ( kSlots, 0 );
    for ( const Row &r : aRows )
    {
        FUZZ_CHECK ( r.iSlot < kSlots && ModelSlot ( r.iIdentifier ) == static_cast<int>( r.iSlot ), "row %#x", r.iIdentifier );
        ++aOwners[r.iSlot];
    }
    for ( unsigned int i = 0; i < kSlots; ++i ) FUZZ_CHECK ( aOwners[i] == 1, "slot %u has %d identifiers", i, aOwners[i] );
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput ( const uint8_t *pData, size_t nSize )
{
    FuzzedDataProvider in ( pData, nSize );
    Machine m ( in );
    m.CheckAll ( "start" );
    while ( in.remaining_bytes ( ) ) m.Step ( );
    return 0;
}
