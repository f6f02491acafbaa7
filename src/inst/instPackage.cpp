// The script package "inst": both tables hold only their filler row, so the
// host finds the name and no functions or constants under it.

#include "instPackage.h"

static const S3DX::AIFunctionRecord aMyFunctions [ ] =
{
    { nullptr, nullptr, nullptr, nullptr, nullptr, 0 }
};

static const S3DX::AIConstantRecord aMyConstants [ ] =
{
    { nullptr, S3DX::AIVariable ( 0.0f ), nullptr, 0 }
};

instDirectCalls inst;

instPackage::instPackage ( )
{
}

instPackage::~instPackage ( )
{
}

S3DX_AIPACKAGE_DEFINE_OPERATIONS ( instPackage, "inst" )
