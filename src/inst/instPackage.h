#pragma once
// The script package "inst": a name and nothing else.

#include "S3DX.h"
#include "LerpworkExport.h"

class LERPWORK_API instPackage : public S3DX::AIPackage
{
public:
             instPackage ( );
    virtual ~instPackage ( );
    S3DX_AIPACKAGE_DECLARE_OPERATIONS
};

// The package's direct-call object: with no functions and no constants it has no members.
struct instDirectCalls
{
};

extern LERPWORK_API instDirectCalls inst;
