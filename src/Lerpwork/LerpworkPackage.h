#pragma once
// The script package "Lerpwork": its package class, its 45 callbacks and the
// direct-call object that gives native code the same callbacks and constants.

#include "S3DX.h"
#include "LerpworkExport.h"

class LERPWORK_API LerpworkPackage : public S3DX::AIPackage
{
public:
    // Fills the direct-call object Lerpwork with the callbacks and constants.
             LerpworkPackage ( );
    virtual ~LerpworkPackage ( );
    S3DX_AIPACKAGE_DECLARE_OPERATIONS
};

// The callbacks. Each ignores its arguments and returns its fixed result:
// one nil result or none. No state. [any thread]
#define LERPWORK_FUNCTION( name, inputs, outputs, result, help ) \
    LERPWORK_API int S3DX_CDECL Callback_Lerpwork_##name ( int iInCount, const S3DX::AIVariable *pIn, S3DX::AIVariable *pOut );
#include "LerpworkFunctions.inc"
#undef LERPWORK_FUNCTION

// The package's callbacks and constants as plain members, in table order.
// Zero storage (null callbacks, nil constants) until the package is built at
// load; never reset afterwards.
struct LerpworkDirectCalls
{
#define LERPWORK_FUNCTION( name, inputs, outputs, result, help ) S3DX::AIScriptCallback name;
#include "LerpworkFunctions.inc"
#undef LERPWORK_FUNCTION
#define LERPWORK_CONSTANT( name, value, help ) S3DX::AIVariable name;
#include "LerpworkConstants.inc"
#undef LERPWORK_CONSTANT
};

extern LERPWORK_API LerpworkDirectCalls Lerpwork;
