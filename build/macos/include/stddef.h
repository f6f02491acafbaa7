#pragma once
// The few definitions of <stddef.h> the library uses, for the macOS cross
// build, which has no platform headers: sizes, pointer differences, null and
// member offsets, all from the compiler's own built-in types.

typedef __SIZE_TYPE__    size_t;
typedef __PTRDIFF_TYPE__ ptrdiff_t;

#ifndef NULL
#  define NULL nullptr
#endif

#define offsetof( type, member ) __builtin_offsetof ( type, member )
