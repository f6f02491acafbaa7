#pragma once
// Script packages: the callback type, the two row types and the package
// interface through which the host reads a package's name and tables.

#include "S3DXAIVariable.h"

namespace S3DX
{
    // A script-callable function: the argument count, the read-only argument
    // values and the caller's result array. Returns how many results it wrote,
    // which are the first values of the result array; the caller sizes that
    // array. Engine functions registered by the host have the same type.
    typedef int ( S3DX_CDECL *AIScriptCallback ) ( int iInCount, const AIVariable *pIn, AIVariable *pOut );

    // One row of a package's function table. Texts are static and live as long
    // as the library; a null pName in the first row marks a package without
    // functions. Name lists are separated by ", "; a last item "..." stands for
    // any number of further values.
    struct AIFunctionRecord
    {
        const char       *pName;
        AIScriptCallback  pCallback;
        const char       *pOutputs;
        const char       *pInputs;
        const char       *pHelp;
        unsigned int      iFlags;
    };

    // One row of a package's constant table; a null pName in the first row
    // marks a package without constants.
    struct AIConstantRecord
    {
        const char   *pName;
        AIVariable    vValue;
        const char   *pHelp;
        unsigned int  iFlags;
    };

    static_assert ( sizeof ( AIFunctionRecord ) == ( sizeof ( void * ) == 4 ? 24 : 48 ), "function row layout" );
    static_assert ( offsetof ( AIFunctionRecord, iFlags ) == 5 * sizeof ( void * ),      "function row layout" );
    static_assert ( sizeof ( AIConstantRecord ) == ( sizeof ( void * ) == 4 ? 20 : 40 ), "constant row layout" );
    static_assert ( offsetof ( AIConstantRecord, vValue ) == sizeof ( void * ),          "constant row layout" );
    static_assert ( offsetof ( AIConstantRecord, pHelp )  == 3 * sizeof ( void * ),      "constant row layout" );
    static_assert ( offsetof ( AIConstantRecord, iFlags ) == 4 * sizeof ( void * ),      "constant row layout" );

    // The package interface. A package is created and destroyed by its plug-in
    // object; its rows and texts stay valid until the library is unloaded, and
    // the host may keep the pointers it receives. Packages hold no mutable
    // state. [any thread]
    class S3DX_INTERFACE AIPackage
    {
    public:
        virtual ~AIPackage ( ) { }

        // Returns the package's script-visible name.
        virtual const char             *GetName          ( ) const = 0;
        // Returns the length of the function table, or 0 when its first row has a null name.
        virtual unsigned int            GetFunctionCount ( ) const = 0;
        // Returns the length of the constant table, or 0 when its first row has a null name.
        virtual unsigned int            GetConstantCount ( ) const = 0;
        // Returns the function row at iIndex, which must be below GetFunctionCount; not checked.
        virtual const AIFunctionRecord *GetFunctionAt    ( unsigned int iIndex ) const = 0;
        // Returns the constant row at iIndex, which must be below GetConstantCount; not checked.
        virtual const AIConstantRecord *GetConstantAt    ( unsigned int iIndex ) const = 0;
    };

    // The count rule: a table reports all of its rows or none, decided by the
    // first row's name alone.
    template < class Row, unsigned int N >
    inline unsigned int TableRowCount ( const Row ( &aRows ) [ N ] )
    {
        return aRows[0].pName ? N : 0;
    }
}

// The body every package shares: a package is its two file-local tables
// aMyFunctions and aMyConstants, and these five operations read them.
#define S3DX_AIPACKAGE_DECLARE_OPERATIONS                                                   \
    virtual const char                   *GetName          ( ) const;                        \
    virtual unsigned int                  GetFunctionCount ( ) const;                        \
    virtual unsigned int                  GetConstantCount ( ) const;                        \
    virtual const S3DX::AIFunctionRecord *GetFunctionAt    ( unsigned int iIndex ) const;    \
    virtual const S3DX::AIConstantRecord *GetConstantAt    ( unsigned int iIndex ) const;

#define S3DX_AIPACKAGE_DEFINE_OPERATIONS( Class, Name )                                                                  \
    const char                   *Class::GetName          ( ) const { return Name; }                                   \
    unsigned int                  Class::GetFunctionCount ( ) const { return S3DX::TableRowCount ( aMyFunctions ); }   \
    unsigned int                  Class::GetConstantCount ( ) const { return S3DX::TableRowCount ( aMyConstants ); }   \
    const S3DX::AIFunctionRecord *Class::GetFunctionAt    ( unsigned int iIndex ) const { return &aMyFunctions[iIndex]; } \
    const S3DX::AIConstantRecord *Class::GetConstantAt    ( unsigned int iIndex ) const { return &aMyConstants[iIndex]; }
