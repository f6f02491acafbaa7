#pragma once
// Export and calling-convention macros of the SDK layer, shared by every SDK header.

// S3DX_API marks a class or object that the host reaches by symbol. The Windows
// build exports whole classes (every member with a body, inline ones included);
// the other builds give the class default visibility, so only its out-of-line
// members and its type information leave the library.
// A host built against these headers defines S3DX_HOST_SIDE, which makes the
// marks empty: the host imports nothing by symbol except GetPlugin.
#if defined(S3DX_HOST_SIDE)
#  define S3DX_API
#elif defined(_WIN32)
#  define S3DX_API __declspec(dllexport)
#else
#  define S3DX_API __attribute__((visibility("default")))
#endif

// S3DX_INTERFACE marks an interface the host implements or reads through
// virtual calls only: nothing of it is exported on Windows, while the other
// builds publish its type information so that the host and the library agree
// on one type.
#if defined(S3DX_HOST_SIDE) || defined(_WIN32)
#  define S3DX_INTERFACE
#else
#  define S3DX_INTERFACE __attribute__((visibility("default")))
#endif

// S3DX_HIDDEN keeps an inline member out of the other builds' symbol surface
// even where its class is published. A build may define it ahead (adding
// attributes of its own) as long as the member stays hidden.
#if defined(_WIN32)
#  define S3DX_HIDDEN
#elif !defined(S3DX_HIDDEN)
#  define S3DX_HIDDEN __attribute__((visibility("hidden")))
#endif

// Entry point of a plug-in: plain C name, C calling convention.
#if defined(_WIN32)
#  define S3DX_ENTRY extern "C" __declspec(dllexport)
#  define S3DX_CDECL __cdecl
#else
#  define S3DX_ENTRY extern "C" __attribute__((visibility("default")))
#  define S3DX_CDECL
#endif

// Constructors of values that may be laid down as initialised data. A build
// that wants them run by the unit's load-time initialiser instead defines
// S3DX_NUMBER_CONSTEXPR as empty.
#ifndef S3DX_NUMBER_CONSTEXPR
#  define S3DX_NUMBER_CONSTEXPR constexpr
#endif
