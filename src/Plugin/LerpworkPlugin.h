#pragma once
// The plug-in class Lerpwork, its engine callback table and its one instance.

#include "S3DX.h"
#include "LerpworkExport.h"

class LERPWORK_API Lerpwork : public S3DX::Plugin
{
public:
    // The plug-in's engine callback table. Exactly one is built by the
    // library: the member oAIEngineAPI of the plug-in object. Copies are
    // plain slot copies and never touch GUID_Lerpwork::__pS3DXEAPIMI.
    class S3DX_API __AIEngineAPI : public S3DX::AIEngineAPI
    {
    public:
        // Sets GUID_Lerpwork::__pS3DXEAPIMI to this table.
                        __AIEngineAPI ( );
                        __AIEngineAPI ( const __AIEngineAPI &o ) : S3DX::AIEngineAPI ( o ) { }
                        __AIEngineAPI ( __AIEngineAPI &&o )      : S3DX::AIEngineAPI ( o ) { }
        virtual        ~__AIEngineAPI ( ) { }
        __AIEngineAPI  &operator =    ( const __AIEngineAPI &o ) { S3DX::AIEngineAPI::operator = ( o ); return *this; }
        __AIEngineAPI  &operator =    ( __AIEngineAPI &&o )      { S3DX::AIEngineAPI::operator = ( o ); return *this; }

        // Stores pCallback in the slot of iIdentifier; unknown identifiers
        // change nothing. Constant time.
        virtual void    RegisterCallback ( unsigned int iIdentifier, S3DX::AIScriptCallback pCallback );
    };

    enum { kPackageCount = 3, kContentsDirectorySize = 1024 };

    // Builds the table, empties the contents directory and creates the
    // packages "instant", "inst" and "Lerpwork" in slots 0, 1 and 2.
                          Lerpwork ( );
    // Destroys the packages in slots 0, 1 and 2, in that order, and nulls the slots.
    virtual              ~Lerpwork ( );
                          Lerpwork ( const Lerpwork & ) = delete;
    Lerpwork             &operator = ( const Lerpwork & ) = delete;

    virtual unsigned int       GetSDKVersion        ( ) const;
    // Copies the path, cut to the 1023 characters the member holds; a null
    // pointer stores the empty path.
    virtual void               SetContentsDirectory ( const char *pDirectory );
    virtual S3DX::AIEngineAPI *GetAIEngineAPI       ( );
    virtual unsigned int       GetAIPackageCount    ( ) const;
    virtual S3DX::AIPackage   *GetAIPackageAt       ( unsigned int iIndex ) const;

    // The one plug-in object, built while the library loads and destroyed
    // when it unloads.
    static Lerpwork __oInstance;

    // State of the plug-in object. The host reaches none of it directly;
    // it is public so that native code and tests of the plug-in can read it.
    __AIEngineAPI     oAIEngineAPI;
    S3DX::AIPackage  *aAIPackages [ kPackageCount ];
    char              aContentsDirectory [ kContentsDirectorySize ];
};

namespace GUID_Lerpwork
{
    // The plug-in's engine callback table, reachable without the plug-in
    // object. Null until the table is built; never cleared.
    extern S3DX_API S3DX::AIEngineAPI *__pS3DXEAPIMI;
}
