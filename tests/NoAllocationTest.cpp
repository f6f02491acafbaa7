// The value type, its operators and the pool never touch the heap: every
// allocation of this process is counted, and a battery of operations runs
// between two readings of the count.

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <string>

#include "TestSupport.h"

extern "C" void *__libc_malloc ( size_t );
extern "C" void *__libc_calloc ( size_t, size_t );
extern "C" void *__libc_realloc ( void *, size_t );
extern "C" void *__libc_memalign ( size_t, size_t );
extern "C" void  __libc_free ( void * );

namespace
{
    long iAllocations = 0;
}

// Every path into the heap, for this executable and the libraries it loads.
extern "C" void *malloc ( size_t n )             { ++iAllocations; return __libc_malloc ( n ); }
extern "C" void *calloc ( size_t n, size_t m )   { ++iAllocations; return __libc_calloc ( n, m ); }
extern "C" void *realloc ( void *p, size_t n )   { ++iAllocations; return __libc_realloc ( p, n ); }
extern "C" void *memalign ( size_t a, size_t n ) { ++iAllocations; return __libc_memalign ( a, n ); }
extern "C" void *aligned_alloc ( size_t a, size_t n ) { ++iAllocations; return __libc_memalign ( a, n ); }
extern "C" int   posix_memalign ( void **p, size_t a, size_t n ) { ++iAllocations; *p = __libc_memalign ( a, n ); return *p ? 0 : 12; }
extern "C" void  free ( void *p )                { __libc_free ( p ); }
void *operator new ( size_t n )   { ++iAllocations; void *p = __libc_malloc ( n ? n : 1 ); if ( !p ) throw std::bad_alloc ( ); return p; }
void *operator new[] ( size_t n ) { ++iAllocations; void *p = __libc_malloc ( n ? n : 1 ); if ( !p ) throw std::bad_alloc ( ); return p; }
void  operator delete ( void *p ) noexcept           { __libc_free ( p ); }
void  operator delete[] ( void *p ) noexcept         { __libc_free ( p ); }
void  operator delete ( void *p, size_t ) noexcept   { __libc_free ( p ); }
void  operator delete[] ( void *p, size_t ) noexcept { __libc_free ( p ); }

using S3DX::AIVariable;

namespace
{
    // Keeps results alive so that nothing is optimised away.
    volatile float fSink;
    volatile const void *pSink;

    template < class T > void EveryScalarFamily ( AIVariable v, T t )
    {
        AIVariable w = v;
        pSink = ( v << t ).pStringValue;
        fSink = ( v == t ) + ( v != t ) + ( v < t ) + ( v <= t ) + ( v > t ) + ( v >= t );
        fSink = ( v + t ).fNumberValue + ( v - t ).fNumberValue + ( v * t ).fNumberValue + ( v / t ).fNumberValue;
        w += t; w -= t; w *= t; w /= t;
        fSink = w.fNumberValue;
        w = t;
        fSink = AIVariable ( t ).fNumberValue;
    }

    void Battery ( )
    {
        static const std::string big ( 400000, 'q' );
        const AIVariable aValues [ ] =
        {
            AIVariable ( ), AIVariable ( 1.5f ), AIVariable ( "  12.5\t" ), AIVariable ( "abc" ), AIVariable ( "nan" ),
            AIVariable ( "0x1p3" ), AIVariable ( true ), AIVariable ( static_cast<const void *>( &pSink ) ),
            AIVariable ( big.c_str ( ) ), AIVariable ( 1e30f ), AIVariable ( static_cast<const char *>( nullptr ) ),
        };
        for ( const AIVariable &a : aValues )
        {
            fSink = a.GetNumberValue ( ) + float ( a ) + int ( a ) + unsigned ( a ) + short ( a ) + (unsigned short)( a ) + (signed char)( a ) + (unsigned char)( a );
            pSink = a.GetStringValue ( );
            fSink = a.GetBooleanValue ( ) + bool ( a ) + a.CanConvertToNumber ( ) + a.CanConvertToString ( ) + !a + a.IsNil ( ) + a.CheckType ( AIVariable::TypeNumber );
            fSink = ( -a ).fNumberValue;
            pSink = ( +a ).pHandleValue;
            pSink = a.GetHandleValue ( );
            for ( const AIVariable &b : aValues )
            {
                pSink = AIVariable::Concat ( a, b ).pStringValue;
                fSink = ( a == b ) + ( a != b ) + ( a == "12.5" ) + ( a != static_cast<const char *>( nullptr ) ) + ( a == true );
                EveryScalarFamily ( a, b );
            }
            EveryScalarFamily ( a, static_cast<signed char>( -3 ) );
            EveryScalarFamily ( a, static_cast<unsigned char>( 3 ) );
            EveryScalarFamily ( a, static_cast<short>( -300 ) );
            EveryScalarFamily ( a, static_cast<unsigned short>( 300 ) );
            EveryScalarFamily ( a, 7 );
            EveryScalarFamily ( a, 7u );
            EveryScalarFamily ( a, 0.5f );
        }
        AIVariable v;
        v.SetNumberValue ( 2 ); v.SetStringValue ( "s" ); v.SetBooleanValue ( true ); v.SetHandleValue ( &v ); v.SetNil ( );
        pSink = AIVariable::GetStringPoolBuffer ( 524288 );
        pSink = AIVariable::GetStringPoolBuffer ( 524289 );
        pSink = AIVariable::GetStringPoolBuffer ( 0 );
    }
}

TEST ( NoAllocation, ValuesOperatorsAndPoolStayOffTheHeap )
{
    Battery ( );  // once to warm up anything the C library sets up lazily
    const long iBefore = iAllocations;
    for ( int i = 0; i < 20; ++i ) Battery ( );  // many pool wraps
    EXPECT_EQ ( iAllocations - iBefore, 0 );
}

TEST ( NoAllocation, TheCounterSeesAllocations )
{
    const long iBefore = iAllocations;
    delete new int ( 1 );
    free ( malloc ( 3 ) );
    EXPECT_EQ ( iAllocations - iBefore, 2 );
}
