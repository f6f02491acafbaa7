// A small stand-alone plug-in with the host-visible surface of Lerpwork,
// built once per defect: compiled with FIXTURE_DEFECT set to one of the
// FIXTURE_* values below it carries exactly that fault, with FIXTURE_NONE it
// is sound. The host stand-in must pass the sound build and flag each broken
// one with the check and message the test names. Tables come from the
// project's own lists, so only the defect sets a build apart.

#include "S3DX.h"

#define FIXTURE_NONE                  0
#define FIXTURE_DUPLICATE_NAME        1
#define FIXTURE_FIRST_ROW_RULE        2
#define FIXTURE_WRITES_BEYOND_COUNT   3
#define FIXTURE_WRONG_RESULT_COUNT    4
#define FIXTURE_NULL_HELP             5
#define FIXTURE_NO_GET_PLUGIN         6
#define FIXTURE_WRONG_SDK_VERSION     7
#define FIXTURE_BAD_PARAMETER_PREFIX  8
#define FIXTURE_WRONG_SLOT            9
#define FIXTURE_CALLBACK_CRASH        10
#define FIXTURE_UNKNOWN_IDENTIFIER    11
#define FIXTURE_ENGINE_CONSTANT       12
#define FIXTURE_UNLOAD_LEAK           13
#define FIXTURE_DIRTY_NIL             14
#define FIXTURE_OUT_OF_RANGE_PACKAGE  15
#define FIXTURE_EVENT_WRITES          16
#define FIXTURE_ENDS_PROCESS          17
#define FIXTURE_TEXT_BYTES            18
#define FIXTURE_CONTENTS_OVERFLOW     19

#ifndef FIXTURE_DEFECT
#  error "FIXTURE_DEFECT names the defect of this build"
#endif
#define DEFECT( name ) ( FIXTURE_DEFECT == FIXTURE_##name )

// ---------------------------------------------------------------------------
// Engine package objects and the engine callback table

#define S3DX_ENGINE_PACKAGE_BEGIN( Type, object, count ) S3DX::AIEngineAPI::Type##Package S3DX::object;
#define S3DX_ENGINE_NUMBER( Type, position, value )
#define S3DX_ENGINE_NIL( Type, position )
#define S3DX_ENGINE_PACKAGE_END( Type, object, count )
#define S3DX_ENGINE_EMPTY_PACKAGE( Type, object )        S3DX::AIEngineAPI::Type##Package S3DX::object;
#include "S3DXAIEngineConstants.inc"
#undef S3DX_ENGINE_PACKAGE_BEGIN
#undef S3DX_ENGINE_NUMBER
#undef S3DX_ENGINE_NIL
#undef S3DX_ENGINE_PACKAGE_END
#undef S3DX_ENGINE_EMPTY_PACKAGE

#if DEFECT( ENGINE_CONSTANT )
// The nil member of S3DX::hud becomes the number 0.
[[maybe_unused]] static const bool bHudPatched = ( S3DX::hud.k155 = S3DX::AIVariable ( 0.0f ), true );
#endif

namespace GUID_Lerpwork
{
    S3DX_API S3DX::AIEngineAPI *__pS3DXEAPIMI = nullptr;
}

namespace
{
    struct IdentifierRow { unsigned int iIdentifier; unsigned int iSlot; };
    const IdentifierRow aIdentifierRows [ ] =
    {
#define S3DX_ENGINE_FUNCTION( identifier, slot ) { identifier, slot },
#include "S3DXAIEngineIdentifiers.inc"
#undef S3DX_ENGINE_FUNCTION
    };

    class FixtureEngineAPI : public S3DX::AIEngineAPI
    {
    public:
        FixtureEngineAPI ( ) { GUID_Lerpwork::__pS3DXEAPIMI = this; }

        void RegisterCallback ( unsigned int iIdentifier, S3DX::AIScriptCallback pCallback ) override
        {
            for ( const IdentifierRow &r : aIdentifierRows )
            {
                if ( r.iIdentifier != iIdentifier ) continue;
                unsigned int iSlot = r.iSlot;
#if DEFECT( WRONG_SLOT )
                if ( iIdentifier == 0x12f66939u ) iSlot = 28;
#endif
                aCallbacks[iSlot] = pCallback;
                return;
            }
#if DEFECT( UNKNOWN_IDENTIFIER )
            aCallbacks[kCallbackCount - 1] = pCallback;
#endif
        }
    };

    // -----------------------------------------------------------------------
    // Callbacks

    int CallbackNil ( int, const S3DX::AIVariable *, S3DX::AIVariable *pOut ) { pOut[0].SetNil ( ); return 1; }
    int CallbackNone ( int, const S3DX::AIVariable *, S3DX::AIVariable * )    { return 0; }

    [[maybe_unused]] int CallbackWritesBeyond ( int, const S3DX::AIVariable *, S3DX::AIVariable *pOut )
    {
        pOut[1] = S3DX::AIVariable ( 2.0f );
        return 0;
    }

    [[maybe_unused]] int CallbackDirtyNil ( int, const S3DX::AIVariable *, S3DX::AIVariable *pOut )
    {
        pOut[0].SetNumberValue ( 1.0f );
        pOut[0].iType = S3DX::AIVariable::TypeNil;
        return 1;
    }

    int *volatile pNowhere = nullptr;

    [[maybe_unused]] int CallbackCrash ( int, const S3DX::AIVariable *, S3DX::AIVariable * )
    {
        *pNowhere = 1;
        return 0;
    }

    // Ends the host's process: no guard can bring it back, so only the
    // records written so far tell where it happened.
    [[maybe_unused]] int CallbackEndsProcess ( int, const S3DX::AIVariable *, S3DX::AIVariable * )
    {
        _Exit ( 3 );
    }

    // -----------------------------------------------------------------------
    // Tables

    S3DX::AIFunctionRecord aLerpworkFunctions [ ] =
    {
#define LERPWORK_FUNCTION( name, inputs, outputs, result, help ) { #name, Callback##result, outputs, inputs, help, 0 },
#include "LerpworkFunctions.inc"
#undef LERPWORK_FUNCTION
    };

    S3DX::AIConstantRecord aLerpworkConstants [ ] =
    {
#define LERPWORK_CONSTANT( name, value, help ) { #name, S3DX::AIVariable ( static_cast<float>( value ) ), help, 0 },
#include "LerpworkConstants.inc"
#undef LERPWORK_CONSTANT
    };

    const S3DX::AIFunctionRecord aEmptyFunctions [ ] = { { nullptr, nullptr, nullptr, nullptr, nullptr, 0 } };
    const S3DX::AIConstantRecord aEmptyConstants [ ] = { { nullptr, S3DX::AIVariable ( 0.0f ), nullptr, 0 } };

    // Rows by name, so that a defect names the row it breaks.
    [[maybe_unused]] S3DX::AIFunctionRecord &Row ( const char *pName )
    {
        for ( S3DX::AIFunctionRecord &r : aLerpworkFunctions )
            if ( strcmp ( r.pName, pName ) == 0 ) return r;
        return aLerpworkFunctions[0];
    }

    void BreakTables ( )
    {
#if DEFECT( DUPLICATE_NAME )
        Row ( "setDuration" ).pName = "setDelay";
#elif DEFECT( WRITES_BEYOND_COUNT )
        Row ( "setDuration" ).pCallback = CallbackWritesBeyond;
#elif DEFECT( WRONG_RESULT_COUNT )
        Row ( "getAnimationTime" ).pCallback = CallbackNone;
#elif DEFECT( NULL_HELP )
        Row ( "getAnimationDuration" ).pHelp = nullptr;
#elif DEFECT( BAD_PARAMETER_PREFIX )
        Row ( "pause" ).pInputs = "animationID";
#elif DEFECT( CALLBACK_CRASH )
        Row ( "pause" ).pCallback = CallbackCrash;
#elif DEFECT( ENDS_PROCESS )
        Row ( "pause" ).pCallback = CallbackEndsProcess;
#elif DEFECT( TEXT_BYTES )
        // Every byte class a text can hold: above 0x7f, quote, backslash, control.
        Row ( "setDelay" ).pHelp = "Caf\xe9 \"q\" a\\b\t\x7f\xff.";
#elif DEFECT( DIRTY_NIL )
        Row ( "isInAnimationMode" ).pCallback = CallbackDirtyNil;
#endif
    }

    // -----------------------------------------------------------------------
    // Packages and the plug-in object

    class FixturePackage : public S3DX::AIPackage
    {
    public:
        FixturePackage ( const char *pName, const S3DX::AIFunctionRecord *pFunctions, unsigned int iFunctions,
                         const S3DX::AIConstantRecord *pConstants, unsigned int iConstants, bool bCountRule )
            : pName ( pName ), pFunctions ( pFunctions ), pConstants ( pConstants ),
              iFunctions ( iFunctions ), iConstants ( iConstants ), bCountRule ( bCountRule ) { }

        const char *GetName ( ) const override { return pName; }
        unsigned int GetFunctionCount ( ) const override { return !bCountRule || pFunctions[0].pName ? iFunctions : 0; }
        unsigned int GetConstantCount ( ) const override { return !bCountRule || pConstants[0].pName ? iConstants : 0; }
        const S3DX::AIFunctionRecord *GetFunctionAt ( unsigned int i ) const override { return &pFunctions[i]; }
        const S3DX::AIConstantRecord *GetConstantAt ( unsigned int i ) const override { return &pConstants[i]; }

    private:
        const char                   *pName;
        const S3DX::AIFunctionRecord *pFunctions;
        const S3DX::AIConstantRecord *pConstants;
        unsigned int                  iFunctions, iConstants;
        bool                          bCountRule;
    };

    class FixturePlugin : public S3DX::Plugin
    {
    public:
        FixturePlugin ( )
        {
            BreakTables ( );
            aPackages[0] = new FixturePackage ( "instant", aEmptyFunctions, 1, aEmptyConstants, 1, true );
            aPackages[1] = new FixturePackage ( "inst", aEmptyFunctions, 1, aEmptyConstants, 1, !DEFECT( FIRST_ROW_RULE ) );
            aPackages[2] = new FixturePackage ( "Lerpwork", aLerpworkFunctions, sizeof aLerpworkFunctions / sizeof aLerpworkFunctions[0],
                                                aLerpworkConstants, sizeof aLerpworkConstants / sizeof aLerpworkConstants[0], true );
        }

        ~FixturePlugin ( ) override
        {
            for ( unsigned int i = 0; i < 3; ++i )
            {
                if ( DEFECT( UNLOAD_LEAK ) && i == 1 ) continue;
                delete aPackages[i];
                aPackages[i] = nullptr;
            }
        }

        unsigned int GetSDKVersion ( ) const override { return DEFECT( WRONG_SDK_VERSION ) ? 0x01000000u : iVersion; }

        void SetContentsDirectory ( const char *pDirectory ) override
        {
            unsigned int n = 0;
#if DEFECT( CONTENTS_OVERFLOW )
            // An unbounded copy: a long path runs over the version behind the member.
            for ( ; pDirectory && pDirectory[n] && n < sizeof aDirectory + sizeof iVersion; ++n ) aDirectory[n] = pDirectory[n];
#else
            for ( ; pDirectory && n < sizeof aDirectory - 1 && pDirectory[n]; ++n ) aDirectory[n] = pDirectory[n];
#endif
            aDirectory[n] = 0;
        }

        S3DX::AIEngineAPI *GetAIEngineAPI ( ) override { return &oEngineAPI; }
        unsigned int GetAIPackageCount ( ) const override { return 3; }

        S3DX::AIPackage *GetAIPackageAt ( unsigned int i ) const override
        {
            if ( DEFECT( OUT_OF_RANGE_PACKAGE ) && i == 3 ) return aPackages[0];
            return i < 3 ? aPackages[i] : nullptr;
        }

#if DEFECT( EVENT_WRITES )
        void OnEngineEvent ( unsigned int, unsigned int, S3DX::AIVariable *pValues ) override { pValues[2].SetNil ( ); }
#endif

    private:
        FixtureEngineAPI  oEngineAPI;
        S3DX::AIPackage  *aPackages [ 3 ];
        char              aDirectory [ 1024 ];
        unsigned int      iVersion = S3DX::kSDKVersion;
    };

    FixturePlugin oInstance;
}

#if !DEFECT( NO_GET_PLUGIN )
S3DX::Plugin *S3DX_CDECL GetPlugin ( )
{
    return &oInstance;
}
#endif
