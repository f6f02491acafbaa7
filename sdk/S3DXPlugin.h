#pragma once
// S3DX::Plugin: the plug-in interface the host calls after GetPlugin, and the
// declaration of the entry point itself.

#include "S3DXAIEngineAPI.h"

namespace S3DX
{
    // Opaque to plug-ins: the library never defines or creates one.
    class AudioBackend;

    // The plug-in object. The host reaches it only through these virtual
    // operations, any time after GetPlugin has returned, in an order of its
    // own. The object owns its packages; everything it hands out stays valid
    // until the library is unloaded. [host's thread]
    class S3DX_API Plugin
    {
    public:
                 Plugin ( ) { }
                 Plugin ( const Plugin & ) { }
        virtual ~Plugin ( ) { }
        Plugin  &operator = ( const Plugin & ) { return *this; }

        // Returns the SDK version the plug-in was built against.
        virtual unsigned int  GetSDKVersion         ( ) const = 0;
        // Takes a copy of the host's contents directory at once; keeps no
        // reference to pDirectory.
        virtual void          SetContentsDirectory  ( const char *pDirectory ) = 0;
        // Returns the plug-in's engine callback table, for RegisterCallback.
        virtual AIEngineAPI  *GetAIEngineAPI        ( ) = 0;
        // Returns the number of packages.
        virtual unsigned int  GetAIPackageCount     ( ) const = 0;
        // Returns the package in iIndex, or null for an index of the count or more.
        virtual AIPackage    *GetAIPackageAt        ( unsigned int iIndex ) const = 0;

        // Platform hand-overs; the base ignores them.
        virtual void          SetJavaVM             ( void * ) { }
        virtual void          SetDirect3DDevice     ( void * ) { }
        virtual void          SetXAudio2            ( void * ) { }
        // Engine events; the base touches neither the event nor the values behind the pointer.
        virtual void          OnEngineEvent         ( unsigned int, unsigned int, AIVariable * ) { }
        virtual void          SetNaClModuleInstance ( void * ) { }
        // Audio back-ends offered to the engine; the base offers none.
        virtual unsigned int  GetAudioBackendCount  ( ) const { return 0; }
        virtual AudioBackend *GetAudioBackendAt     ( unsigned int ) { return nullptr; }
    };

    // The SDK version this header describes.
    enum { kSDKVersion = 0x02000000 };
}

// Returns the plug-in's one object. Every call returns the same non-null
// pointer and has no side effects. [any thread, after load]
S3DX_ENTRY S3DX::Plugin *S3DX_CDECL GetPlugin ( );
