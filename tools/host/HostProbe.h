#pragma once
// The host probe's platform layer: everything the portable probe
// (HostProbe.cpp) needs of the operating system. One implementation per
// platform (ProbeLinux.cpp, ProbeWindows.cpp). The probe is single-threaded;
// none of these functions needs to be reentrant.

#include <stddef.h>

// A loaded library, owned by the platform layer until ProbeUnload.
struct ProbeLibrary;

// A label for the probe record, for example "linux".
const char   *ProbePlatformName ( );

// Loads the library at pPath and runs its initialisers. Returns null on
// failure, with a one-line reason (no newline) in pError.
ProbeLibrary *ProbeLoad ( const char *pPath, char *pError, size_t nError );

// Returns the address of the exported symbol pName (a decorated name as the
// platform's toolchain writes it, without any platform prefix such as a
// leading underscore), or null when it is not exported.
void         *ProbeSymbol ( ProbeLibrary *pLibrary, const char *pName );

// The decorated name of the engine package object S3DX::<pObject>, whose
// type is S3DX::AIEngineAPI::<pType>, written into pOut.
void          ProbeEngineObjectName ( char *pOut, size_t nOut, const char *pType, const char *pObject );

// The decorated name of the global GUID_Lerpwork::__pS3DXEAPIMI.
const char   *ProbeGlobalTableName ( );

// Unloads the library, which runs its exit handling, and frees pLibrary.
// Returns false with a one-line reason in pError when the loader fails.
bool          ProbeUnload ( ProbeLibrary *pLibrary, char *pError, size_t nError );

// Runs pCall ( pContext ) and returns true; returns false when the call
// faulted (an access violation, an illegal instruction, an abort) and the
// layer got control back. A layer that cannot catch faults just calls.
bool          ProbeGuard ( void ( *pCall ) ( void * ), void *pContext );

// One heap block released by the library.
struct ProbeFree
{
    const void *pBlock;
    size_t      iSize;      // valid when bSizeKnown
    bool        bSizeKnown;
};

// Starts (bOn true) or stops recording the blocks that code of pLibrary
// releases (operator delete in all its forms, free). Starting clears the log.
void          ProbeRecordFrees ( ProbeLibrary *pLibrary, bool bOn );
// Copies up to nMax recorded frees into aOut and returns how many were
// recorded. *pOrdered is set to true when they are in the order they happened.
unsigned int  ProbeRecordedFrees ( ProbeFree *aOut, unsigned int nMax, bool *pOrdered );
