// The script package "Lerpwork": an animation pack's scripting interface,
// declared to the host with inert callbacks.

#include "LerpworkPackage.h"

namespace
{
    // The two fixed results a callback of this package can have.
    inline int ResultNil  ( S3DX::AIVariable *pOut ) { pOut[0].SetNil ( ); return 1; }
    inline int ResultNone ( S3DX::AIVariable * )     { return 0; }
}

#define LERPWORK_FUNCTION( name, inputs, outputs, result, help )                                                \
    int S3DX_CDECL Callback_Lerpwork_##name ( int, const S3DX::AIVariable *, S3DX::AIVariable *pOut )          \
    {                                                                                                           \
        return Result##result ( pOut );                                                                         \
    }
#include "LerpworkFunctions.inc"
#undef LERPWORK_FUNCTION

static const S3DX::AIFunctionRecord aMyFunctions [ ] =
{
#define LERPWORK_FUNCTION( name, inputs, outputs, result, help ) { #name, Callback_Lerpwork_##name, outputs, inputs, help, 0 },
#include "LerpworkFunctions.inc"
#undef LERPWORK_FUNCTION
};

static const S3DX::AIConstantRecord aMyConstants [ ] =
{
#define LERPWORK_CONSTANT( name, value, help ) { #name, S3DX::AIVariable ( static_cast<float>( value ) ), help, 0 },
#include "LerpworkConstants.inc"
#undef LERPWORK_CONSTANT
};

// Constant-initialised: it must hold no initialiser of its own, which would run
// after the plug-in object has filled it and reset its constants.
constinit LerpworkDirectCalls Lerpwork { };

LerpworkPackage::LerpworkPackage ( )
{
#define LERPWORK_FUNCTION( name, inputs, outputs, result, help ) Lerpwork.name = Callback_Lerpwork_##name;
#include "LerpworkFunctions.inc"
#undef LERPWORK_FUNCTION
#define LERPWORK_CONSTANT( name, value, help ) Lerpwork.name = S3DX::AIVariable ( static_cast<float>( value ) );
#include "LerpworkConstants.inc"
#undef LERPWORK_CONSTANT
}

LerpworkPackage::~LerpworkPackage ( )
{
}

S3DX_AIPACKAGE_DEFINE_OPERATIONS ( LerpworkPackage, "Lerpwork" )
