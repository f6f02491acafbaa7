#pragma once
// The script package "instant": a name and nothing else.

#include "S3DX.h"
#include "LerpworkExport.h"

class LERPWORK_API instantPackage : public S3DX::AIPackage
{
public:
             instantPackage ( );
    virtual ~instantPackage ( );
    S3DX_AIPACKAGE_DECLARE_OPERATIONS
};

// The package's direct-call object: with no functions and no constants it has no members.
struct instantDirectCalls
{
};

extern LERPWORK_API instantDirectCalls instant;
