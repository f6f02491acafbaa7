// The script package "instant": both tables hold only their filler row, so the
// host finds the name and no functions or constants under it.

#include "instantPackage.h"

static const S3DX::AIFunctionRecord aMyFunctions [ ] =
{
    { nullptr, nullptr, nullptr, nullptr, nullptr, 0 }
};

static const S3DX::AIConstantRecord aMyConstants [ ] =
{
    { nullptr, S3DX::AIVariable ( 0.0f ), nullptr, 0 }
};

instantDirectCalls instant;

instantPackage::instantPackage ( )
{
}

instantPackage::~instantPackage ( )
{
}

S3DX_AIPACKAGE_DEFINE_OPERATIONS ( instantPackage, "instant" )
