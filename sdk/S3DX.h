#pragma once
// Everything of the host SDK a plug-in builds on.

#include "S3DXMacros.h"
#include "S3DXAIVariable.h"
#include "S3DXAIPackage.h"
#include "S3DXAIEngineAPI.h"
#include "S3DXAIEnginePackages.h"
#include "S3DXPlugin.h"
