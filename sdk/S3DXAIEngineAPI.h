#pragma once
// S3DX::AIEngineAPI: the table of engine-function slots that the host fills by
// identifier through RegisterCallback, and the declarations of the engine
// package types whose objects hold the engine's constants.

#include "S3DXAIPackage.h"

namespace S3DX
{
    // The engine callback table. It owns nothing: a slot borrows a host
    // function address and the table never calls or releases it. A null slot
    // is an engine function the host has not registered. No locks; filled on
    // the host's thread.
    class S3DX_API AIEngineAPI
    {
    public:
        enum { kCallbackCount = 1622 };

        // Sets up the table; the slots are not written (a table of static
        // storage duration therefore starts with every slot null).
        AIEngineAPI ( ) { }
        // Copies every slot; the copy is a plain AIEngineAPI.
        AIEngineAPI ( const AIEngineAPI &o )
        {
            for ( unsigned int i = 0; i < kCallbackCount; ++i ) aCallbacks[i] = o.aCallbacks[i];
        }
        // Ends the table; no slot is cleared and no host function is called.
        virtual ~AIEngineAPI ( ) { }
        // Copies every slot; the destination keeps its dynamic type.
        AIEngineAPI &operator = ( const AIEngineAPI &o )
        {
            for ( unsigned int i = 0; i < kCallbackCount; ++i ) aCallbacks[i] = o.aCallbacks[i];
            return *this;
        }

        // Stores pCallback (null included) in the slot of the engine function
        // iIdentifier; an identifier that is not in the list changes nothing.
        virtual void RegisterCallback ( unsigned int iIdentifier, AIScriptCallback pCallback ) = 0;

        // The engine package types; S3DXAIEnginePackages.h defines them.
#define S3DX_ENGINE_PACKAGE_BEGIN( Type, object, count ) struct Type##Package;
#define S3DX_ENGINE_NUMBER( Type, position, value )
#define S3DX_ENGINE_NIL( Type, position )
#define S3DX_ENGINE_PACKAGE_END( Type, object, count )
#define S3DX_ENGINE_EMPTY_PACKAGE( Type, object ) struct Type##Package;
#include "S3DXAIEngineConstants.inc"
#undef S3DX_ENGINE_PACKAGE_BEGIN
#undef S3DX_ENGINE_NUMBER
#undef S3DX_ENGINE_NIL
#undef S3DX_ENGINE_PACKAGE_END
#undef S3DX_ENGINE_EMPTY_PACKAGE

        // The slots, in slot order; which identifier owns which slot is the
        // list in S3DXAIEngineIdentifiers.inc.
        AIScriptCallback aCallbacks[kCallbackCount];
    };

    static_assert ( sizeof ( AIEngineAPI ) == ( 1 + AIEngineAPI::kCallbackCount ) * sizeof ( void * ), "a virtual table pointer and 1622 slots" );
}
