#pragma once
// The few definitions of <stddef.h> the library uses, for the 32-bit Windows
// cross build, which has no platform headers of its own.

typedef __SIZE_TYPE__    size_t;
typedef __PTRDIFF_TYPE__ ptrdiff_t;

#define offsetof( type, member ) __builtin_offsetof ( type, member )

#ifndef NULL
#  ifdef __cplusplus
#    define NULL nullptr
#  else
#    define NULL ( ( void * ) 0 )
#  endif
#endif
