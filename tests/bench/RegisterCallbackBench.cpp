// How fast RegisterCallback finds a slot, next to the plain scan of the test
// sequence that the identifier list defines. Both register the same shuffled
// sequence: every identifier once, plus a tenth as many unknown ones. The
// library's table is called through the interface, as the host calls it.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <random>
#include <set>
#include <string>
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

    const std::vector<uint32_t> &Sequence ( )
    {
        static const std::vector<uint32_t> a = [ ]
        {
            std::vector<uint32_t> v;
            std::set<uint32_t> known;
            for ( const Row &r : aRows ) { v.push_back ( r.iIdentifier ); known.insert ( r.iIdentifier ); }
            std::mt19937 rng ( 1622 );
            while ( v.size ( ) < std::size ( aRows ) + std::size ( aRows ) / 10 )
            {
                const uint32_t i = static_cast<uint32_t>( rng ( ) );
                if ( !known.count ( i ) ) v.push_back ( i );
            }
            std::shuffle ( v.begin ( ), v.end ( ), rng );
            return v;
        } ( );
        return a;
    }

    S3DX::AIScriptCallback Sentinel ( uint32_t i ) { return reinterpret_cast<S3DX::AIScriptCallback>( static_cast<uintptr_t>( i | 1 ) ); }

    // The plain sequence of equality tests in list order.
    void LinearRegister ( S3DX::AIScriptCallback *aSlots, uint32_t iIdentifier, S3DX::AIScriptCallback p )
    {
        for ( const Row &r : aRows )
            if ( r.iIdentifier == iIdentifier ) { aSlots[r.iSlot] = p; return; }
    }

    void RegisterCallback ( benchmark::State &state )
    {
        Lerpwork::__AIEngineAPI oTable ( Lerpwork::__oInstance.oAIEngineAPI );
        S3DX::AIEngineAPI *pTable = &oTable;
        benchmark::DoNotOptimize ( pTable );
        const std::vector<uint32_t> &ids = Sequence ( );
        for ( auto _ : state )
            for ( uint32_t id : ids ) pTable->RegisterCallback ( id, Sentinel ( id ) );
        benchmark::DoNotOptimize ( oTable.aCallbacks );
        state.SetItemsProcessed ( state.iterations ( ) * ids.size ( ) );
    }

    void LinearScan ( benchmark::State &state )
    {
        static S3DX::AIScriptCallback aSlots [ S3DX::AIEngineAPI::kCallbackCount ];
        const std::vector<uint32_t> &ids = Sequence ( );
        for ( auto _ : state )
            for ( uint32_t id : ids ) LinearRegister ( aSlots, id, Sentinel ( id ) );
        benchmark::DoNotOptimize ( aSlots );
        state.SetItemsProcessed ( state.iterations ( ) * ids.size ( ) );
    }

    // Prints the usual table, then nanoseconds per call and the ratio.
    class RatioReporter : public benchmark::ConsoleReporter
    {
    public:
        void ReportRuns ( const std::vector<Run> &runs ) override
        {
            ConsoleReporter::ReportRuns ( runs );
            for ( const Run &r : runs )
                if ( r.run_type == Run::RT_Iteration && !r.error_occurred )
                    aNsPerCall[r.benchmark_name ( )] = r.GetAdjustedRealTime ( ) / double ( Sequence ( ).size ( ) );
        }
        std::map<std::string, double> aNsPerCall;
    };
}

BENCHMARK ( RegisterCallback );
BENCHMARK ( LinearScan );

int main ( int argc, char **argv )
{
    benchmark::Initialize ( &argc, argv );
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks ( &reporter );
    const double fOurs = reporter.aNsPerCall["RegisterCallback"], fScan = reporter.aNsPerCall["LinearScan"];
    if ( fOurs > 0 && fScan > 0 )
        std::printf ( "RegisterCallback: %.2f ns per call; linear scan: %.2f ns per call; %.1f times faster\n", fOurs, fScan, fScan / fOurs );
    benchmark::Shutdown ( );
    return 0;
}
