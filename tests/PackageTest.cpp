// The package contract and the three packages: count rule, rows, callbacks
// and the direct-call object, checked against the package lists themselves
// and the naming rules that every script-visible name follows.

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "LerpworkPackage.h"
#include "instPackage.h"
#include "instantPackage.h"

using S3DX::AIVariable;

namespace
{
    struct FunctionRow { const char *pName, *pInputs, *pOutputs; bool bNilResult; const char *pHelp; };
    const FunctionRow aExpectedFunctions [ ] =
    {
#define LERPWORK_FUNCTION( name, inputs, outputs, result, help ) { #name, inputs, outputs, LERPWORK_IS_NIL_##result, help },
#define LERPWORK_IS_NIL_Nil  true
#define LERPWORK_IS_NIL_None false
#include "LerpworkFunctions.inc"
#undef LERPWORK_FUNCTION
    };
    struct ConstantRow { const char *pName; int iValue; const char *pHelp; };
    const ConstantRow aExpectedConstants [ ] =
    {
#define LERPWORK_CONSTANT( name, value, help ) { #name, value, help },
#include "LerpworkConstants.inc"
#undef LERPWORK_CONSTANT
    };

    // A package of the shared pattern whose tables the test controls.
    S3DX::AIFunctionRecord aMyFunctions [ 4 ] = { };
    S3DX::AIConstantRecord aMyConstants [ 3 ] = { };
    class FixturePackage : public S3DX::AIPackage
    {
    public:
        S3DX_AIPACKAGE_DECLARE_OPERATIONS
    };
    S3DX_AIPACKAGE_DEFINE_OPERATIONS ( FixturePackage, "fixture" )

    // Result arrays start as this marker, so any write shows.
    AIVariable Marker ( ) { return AIVariable ( "marker" ); }

    std::vector<std::string> SplitList ( const std::string &s )
    {
        std::vector<std::string> v;
        if ( s.empty ( ) ) return v;
        size_t i = 0;
        for ( ;; )
        {
            const size_t j = s.find ( ", ", i );
            v.push_back ( s.substr ( i, j - i ) );
            if ( j == std::string::npos ) return v;
            i = j + 2;
        }
    }
}

TEST ( PackageContract, CountRuleLooksAtTheFirstRowOnly )
{
    FixturePackage p;
    EXPECT_EQ ( p.GetFunctionCount ( ), 0u ) << "null first name";
    EXPECT_EQ ( p.GetConstantCount ( ), 0u );
    aMyFunctions[2].pName = "third";
    aMyConstants[1].pName = "second";
    EXPECT_EQ ( p.GetFunctionCount ( ), 0u ) << "later rows are never inspected";
    EXPECT_EQ ( p.GetConstantCount ( ), 0u );
    aMyFunctions[0].pName = "first";
    aMyConstants[0].pName = "first";
    EXPECT_EQ ( p.GetFunctionCount ( ), 4u ) << "the whole array, filled or not";
    EXPECT_EQ ( p.GetConstantCount ( ), 3u );
    EXPECT_EQ ( p.GetFunctionAt ( 3 ), &aMyFunctions[3] );
    EXPECT_EQ ( p.GetConstantAt ( 2 ), &aMyConstants[2] );
    EXPECT_STREQ ( p.GetName ( ), "fixture" );
}

TEST ( LerpworkPackage, RowsAreTheFunctionList )
{
    LerpworkPackage p;
    EXPECT_STREQ ( p.GetName ( ), "Lerpwork" );
    EXPECT_EQ ( p.GetName ( ), p.GetName ( ) );
    ASSERT_EQ ( p.GetFunctionCount ( ), 45u );
    ASSERT_EQ ( std::size ( aExpectedFunctions ), 45u );
    for ( unsigned int i = 0; i < 45; ++i )
    {
        const S3DX::AIFunctionRecord *r = p.GetFunctionAt ( i );
        const FunctionRow &e = aExpectedFunctions[i];
        ASSERT_NE ( r->pName, nullptr );
        ASSERT_NE ( r->pInputs, nullptr );
        ASSERT_NE ( r->pOutputs, nullptr );
        ASSERT_NE ( r->pHelp, nullptr ) << e.pName;
        EXPECT_STREQ ( r->pName, e.pName );
        EXPECT_STREQ ( r->pInputs, e.pInputs ) << e.pName;
        EXPECT_STREQ ( r->pOutputs, e.pOutputs ) << e.pName;
        EXPECT_STREQ ( r->pHelp, e.pHelp ) << e.pName;
        EXPECT_EQ ( r->iFlags, 0u ) << e.pName;
        EXPECT_NE ( r->pCallback, nullptr ) << e.pName;
        EXPECT_EQ ( r, p.GetFunctionAt ( i ) ) << "same row pointer on every call";
        if ( i ) EXPECT_EQ ( r, p.GetFunctionAt ( i - 1 ) + 1 ) << "rows form one array";
    }
    // Rows named by the package's own reference.
    EXPECT_STREQ ( p.GetFunctionAt ( 0 )->pName, "isInAnimationMode" );
    EXPECT_STREQ ( p.GetFunctionAt ( 11 )->pName, "getAnimationTime" );
    EXPECT_STREQ ( p.GetFunctionAt ( 28 )->pName, "enterAnimationMode" );
    EXPECT_STREQ ( p.GetFunctionAt ( 44 )->pName, "sendValueToUser" );
    for ( unsigned int i = 9; i <= 12; ++i ) EXPECT_STREQ ( p.GetFunctionAt ( i )->pHelp, "" );
    EXPECT_STREQ ( p.GetFunctionAt ( 29 )->pOutputs, "nTotalDuration" );
}

TEST ( LerpworkPackage, ConstantsAreNumbers )
{
    LerpworkPackage p;
    ASSERT_EQ ( p.GetConstantCount ( ), 8u );
    for ( unsigned int i = 0; i < 8; ++i )
    {
        const S3DX::AIConstantRecord *r = p.GetConstantAt ( i );
        EXPECT_STREQ ( r->pName, aExpectedConstants[i].pName );
        EXPECT_STREQ ( r->pHelp, aExpectedConstants[i].pHelp );
        EXPECT_TRUE ( r->vValue.IsNumber ( ) ) << r->pName;
        EXPECT_EQ ( FloatBits ( r->vValue.fNumberValue ), FloatBits ( static_cast<float>( aExpectedConstants[i].iValue ) ) ) << r->pName;
        EXPECT_EQ ( r->iFlags, 0u );
    }
    EXPECT_STREQ ( p.GetConstantAt ( 4 )->pName, "kLoopModePingPong" );
    EXPECT_EQ ( p.GetConstantAt ( 4 )->vValue.GetNumberValue ( ), 4.0f );
    EXPECT_EQ ( p.GetConstantAt ( 5 )->vValue, p.GetConstantAt ( 0 )->vValue );
}

// Script-visible names follow the host's conventions: lowerCamelCase
// functions, k-constants, kind-prefixed parameters and results.
TEST ( LerpworkPackage, NamesFollowTheConventions )
{
    const std::regex rFunction ( "[a-z][A-Za-z0-9]*" );
    const std::regex rConstant ( "k[A-Z][A-Za-z0-9]*" );
    const std::regex rItem ( "[snbkhtv](Opt)?[A-Z][A-Za-z0-9]*" );
    std::vector<std::string> aNames;
    for ( const FunctionRow &e : aExpectedFunctions )
    {
        EXPECT_TRUE ( std::regex_match ( e.pName, rFunction ) ) << e.pName;
        for ( const char *pList : { e.pInputs, e.pOutputs } )
        {
            const std::vector<std::string> aItems = SplitList ( pList );
            for ( size_t i = 0; i < aItems.size ( ); ++i )
            {
                if ( aItems[i] == "..." && i + 1 == aItems.size ( ) && pList == e.pInputs ) continue;
                EXPECT_TRUE ( std::regex_match ( aItems[i], rItem ) ) << e.pName << ": '" << aItems[i] << "'";
            }
        }
        for ( const std::string &n : aNames ) EXPECT_NE ( n, e.pName ) << "duplicate function";
        aNames.push_back ( e.pName );
    }
    for ( const ConstantRow &c : aExpectedConstants ) EXPECT_TRUE ( std::regex_match ( c.pName, rConstant ) ) << c.pName;
}

// Each callback returns its fixed result whatever it is given, and writes
// nothing beyond it.
TEST ( LerpworkPackage, CallbacksGiveTheirFixedResults )
{
    LerpworkPackage p;
    const AIVariable aArgs [ 3 ] = { AIVariable ( 1.0f ), AIVariable ( "two" ), AIVariable ( true ) };
    for ( unsigned int i = 0; i < 45; ++i )
    {
        const S3DX::AIFunctionRecord *r = p.GetFunctionAt ( i );
        for ( int iArgs : { 0, 3 } )
        {
            AIVariable aOut [ 4 ] = { Marker ( ), Marker ( ), Marker ( ), Marker ( ) };
            const int n = r->pCallback ( iArgs, iArgs ? aArgs : nullptr, aOut );
            const bool bNil = aExpectedFunctions[i].bNilResult;
            EXPECT_EQ ( n, bNil ? 1 : 0 ) << r->pName;
            if ( bNil )
            {
                EXPECT_TRUE ( aOut[0].IsNil ( ) ) << r->pName;
                EXPECT_EQ ( aOut[0].pHandleValue, nullptr ) << r->pName << ": payload cleared";
            }
            else
            {
                EXPECT_TRUE ( aOut[0] == Marker ( ) ) << r->pName << " wrote a result it does not return";
            }
            for ( int k = 1; k < 4; ++k ) EXPECT_TRUE ( aOut[k] == Marker ( ) ) << r->pName;
        }
    }
    // Rows that declare a result their callback does not give.
    AIVariable aOut [ 1 ] = { Marker ( ) };
    EXPECT_EQ ( Callback_Lerpwork_isAlive ( 0, nullptr, aOut ), 0 );
    EXPECT_EQ ( Callback_Lerpwork_leaveAnimationMode ( 0, nullptr, aOut ), 0 );
    EXPECT_EQ ( Callback_Lerpwork_getAnimationTime ( 0, nullptr, aOut ), 1 );
}

TEST ( LerpworkPackage, DirectCallObjectMatchesTheRows )
{
    // The plug-in object built the package at load, which filled Lerpwork.
    const S3DX::AIScriptCallback *pCallbacks = reinterpret_cast<const S3DX::AIScriptCallback *>( &Lerpwork );
    const AIVariable *pConstants = reinterpret_cast<const AIVariable *>( pCallbacks + 45 );
    static_assert ( sizeof ( LerpworkDirectCalls ) == 45 * sizeof ( void * ) + 8 * sizeof ( AIVariable ) );
    LerpworkPackage p;
    for ( unsigned int i = 0; i < 45; ++i ) EXPECT_EQ ( pCallbacks[i], p.GetFunctionAt ( i )->pCallback ) << p.GetFunctionAt ( i )->pName;
    for ( unsigned int i = 0; i < 8; ++i ) EXPECT_TRUE ( pConstants[i] == p.GetConstantAt ( i )->vValue ) << p.GetConstantAt ( i )->pName;
    EXPECT_EQ ( Lerpwork.isInAnimationMode, Callback_Lerpwork_isInAnimationMode );
    EXPECT_EQ ( Lerpwork.sendValueToUser, Callback_Lerpwork_sendValueToUser );
    EXPECT_EQ ( Lerpwork.kLookAtModeUpdatedPositionFullFactor.GetNumberValue ( ), 2.0f );
}

TEST ( EmptyPackages, HoldOnlyTheirFillerRows )
{
    instantPackage a;
    instPackage b;
    const S3DX::AIPackage *aPackages [ ] = { &a, &b };
    const char *aNames [ ] = { "instant", "inst" };
    for ( int i = 0; i < 2; ++i )
    {
        const S3DX::AIPackage *p = aPackages[i];
        EXPECT_STREQ ( p->GetName ( ), aNames[i] );
        EXPECT_EQ ( p->GetFunctionCount ( ), 0u );
        EXPECT_EQ ( p->GetConstantCount ( ), 0u );
        const S3DX::AIFunctionRecord *f = p->GetFunctionAt ( 0 );
        EXPECT_EQ ( f->pName, nullptr );
        EXPECT_EQ ( f->pCallback, nullptr );
        EXPECT_EQ ( f->pInputs, nullptr );
        EXPECT_EQ ( f->pOutputs, nullptr );
        EXPECT_EQ ( f->pHelp, nullptr );
        EXPECT_EQ ( f->iFlags, 0u );
        const S3DX::AIConstantRecord *c = p->GetConstantAt ( 0 );
        EXPECT_EQ ( c->pName, nullptr );
        EXPECT_EQ ( c->pHelp, nullptr );
        EXPECT_TRUE ( c->vValue.IsNumber ( ) );
        EXPECT_EQ ( FloatBits ( c->vValue.fNumberValue ), 0u );
    }
    EXPECT_NE ( a.GetFunctionAt ( 0 ), b.GetFunctionAt ( 0 ) ) << "each unit has its own tables";
    static_assert ( sizeof ( instantDirectCalls ) == 1 && sizeof ( instDirectCalls ) == 1 );
}
