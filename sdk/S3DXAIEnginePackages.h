#pragma once
// The 35 engine package objects S3DX::animation to S3DX::xml: plain structures
// of script variables holding the engine's constants, one member per constant
// in the order of S3DXAIEngineConstants.inc. Members are named by position
// (k0, k1, ...). Written only while the library loads; read-only afterwards.
// [any thread, after load]

#include "S3DXAIEngineAPI.h"

namespace S3DX
{
#define S3DX_ENGINE_PACKAGE_BEGIN( Type, object, count ) struct AIEngineAPI::Type##Package { S3DX_HIDDEN S3DX_NUMBER_CONSTEXPR Type##Package ( );
#define S3DX_ENGINE_NUMBER( Type, position, value )      AIVariable k##position;
#define S3DX_ENGINE_NIL( Type, position )                AIVariable k##position;
#define S3DX_ENGINE_PACKAGE_END( Type, object, count )                                                               \
    };                                                                                                               \
    static_assert ( sizeof ( AIEngineAPI::Type##Package ) == count * sizeof ( AIVariable ), #object " layout" );
#define S3DX_ENGINE_EMPTY_PACKAGE( Type, object )                                                                    \
    struct AIEngineAPI::Type##Package { };                                                                           \
    static_assert ( sizeof ( AIEngineAPI::Type##Package ) == 1, #object " is empty" );
#include "S3DXAIEngineConstants.inc"
#undef S3DX_ENGINE_PACKAGE_BEGIN
#undef S3DX_ENGINE_NUMBER
#undef S3DX_ENGINE_NIL
#undef S3DX_ENGINE_PACKAGE_END
#undef S3DX_ENGINE_EMPTY_PACKAGE

    // Each constructor builds its members with their values, the nil member
    // by default construction. It is a constant expression where the number
    // constructors are, so that a build may lay an object down as data.
#define S3DX_ENGINE_PACKAGE_BEGIN( Type, object, count ) S3DX_NUMBER_CONSTEXPR inline AIEngineAPI::Type##Package::Type##Package ( ) {
#define S3DX_ENGINE_NUMBER( Type, position, value )      k##position = AIVariable ( value );
#define S3DX_ENGINE_NIL( Type, position )
#define S3DX_ENGINE_PACKAGE_END( Type, object, count )   }
#define S3DX_ENGINE_EMPTY_PACKAGE( Type, object )
#include "S3DXAIEngineConstants.inc"
#undef S3DX_ENGINE_PACKAGE_BEGIN
#undef S3DX_ENGINE_NUMBER
#undef S3DX_ENGINE_NIL
#undef S3DX_ENGINE_PACKAGE_END
#undef S3DX_ENGINE_EMPTY_PACKAGE

    // The objects, defined once by the plug-in's support unit.
#define S3DX_ENGINE_PACKAGE_BEGIN( Type, object, count ) extern S3DX_API AIEngineAPI::Type##Package object;
#define S3DX_ENGINE_NUMBER( Type, position, value )
#define S3DX_ENGINE_NIL( Type, position )
#define S3DX_ENGINE_PACKAGE_END( Type, object, count )
#define S3DX_ENGINE_EMPTY_PACKAGE( Type, object )        extern S3DX_API AIEngineAPI::Type##Package object;
#include "S3DXAIEngineConstants.inc"
#undef S3DX_ENGINE_PACKAGE_BEGIN
#undef S3DX_ENGINE_NUMBER
#undef S3DX_ENGINE_NIL
#undef S3DX_ENGINE_PACKAGE_END
#undef S3DX_ENGINE_EMPTY_PACKAGE
}
