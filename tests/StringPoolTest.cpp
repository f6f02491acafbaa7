// The temporary string pool's hand-out and wrap rules. The first case needs
// the pool as the library loads it, so this file is a process of its own and
// its cases run in order.

#include <gtest/gtest.h>

#include "TestSupport.h"

using S3DX::AIVariable;

namespace
{
    constexpr unsigned int kPoolSize = 524288;

    // The start of the pool: a request of the whole pool always lands there.
    // Leaves the cursor at the end.
    char *PoolStart ( ) { return AIVariable::GetStringPoolBuffer ( kPoolSize ); }

    // Moves the cursor to iOffset (1 to the pool's size): from the end, any
    // request of 1 byte or more wraps to the front. After load the cursor
    // never stands at 0 again.
    void CursorTo ( unsigned int iOffset )
    {
        PoolStart ( );
        if ( iOffset < kPoolSize ) AIVariable::GetStringPoolBuffer ( iOffset );
    }

    unsigned int Cursor ( char *pStart ) { return static_cast<unsigned int>( AIVariable::GetStringPoolBuffer ( 0 ) - pStart ); }
}

TEST ( StringPool, FirstRequestAfterLoadIsTheStart )
{
    char *pFirst = AIVariable::GetStringPoolBuffer ( 0 );
    // At load the cursor is 0, so even the whole pool fits without a wrap.
    char *pWhole = AIVariable::GetStringPoolBuffer ( kPoolSize );
    ASSERT_NE ( pFirst, nullptr );
    EXPECT_EQ ( pFirst, pWhole );
    EXPECT_EQ ( AIVariable::GetStringPoolBuffer ( 0 ), pFirst + kPoolSize );
}

TEST ( StringPool, RequestsFollowEachOther )
{
    char *p0 = PoolStart ( );
    CursorTo ( 100 );
    EXPECT_EQ ( Cursor ( p0 ), 100u );
    char *a = AIVariable::GetStringPoolBuffer ( 32 );
    char *b = AIVariable::GetStringPoolBuffer ( 7 );
    EXPECT_EQ ( a, p0 + 100 );
    EXPECT_EQ ( b, p0 + 132 );
    EXPECT_EQ ( Cursor ( p0 ), 139u );
}

// Each case puts the cursor somewhere, makes one request and checks where the
// piece lands and where the cursor ends.
TEST ( StringPool, WrapRules )
{
    struct Case { const char *pWhat; unsigned int iCursor; unsigned int iRequest; long iExpectAt; unsigned int iCursorAfter; };
    const Case aCases [ ] =
    {
        { "ends exactly at the end",    1000,            kPoolSize - 1000, 1000, kPoolSize },
        { "one past the end wraps",     1000,            kPoolSize - 999,  0,    kPoolSize - 999 },
        { "whole pool from elsewhere",  5,               kPoolSize,        0,    kPoolSize },
        { "larger than the pool",       77,              kPoolSize + 1,    -1,   77 },
        { "far larger than the pool",   77,              0xffffffffu,      -1,   77 },
        { "zero bytes",                 4242,            0,                4242, 4242 },
        { "zero bytes at the end",      kPoolSize,       0,                kPoolSize, kPoolSize },
        { "one byte at the end wraps",  kPoolSize,       1,                0,    1 },
        { "last byte",                  kPoolSize - 1,   1,                kPoolSize - 1, kPoolSize },
    };
    for ( const Case &c : aCases )
    {
        char *p0 = PoolStart ( );
        CursorTo ( c.iCursor );
        ASSERT_EQ ( Cursor ( p0 ), c.iCursor ) << c.pWhat;
        char *p = AIVariable::GetStringPoolBuffer ( c.iRequest );
        if ( c.iExpectAt < 0 ) EXPECT_EQ ( p, nullptr ) << c.pWhat;
        else EXPECT_EQ ( p, p0 + c.iExpectAt ) << c.pWhat;
        EXPECT_EQ ( Cursor ( p0 ), c.iCursorAfter ) << c.pWhat;
    }
}

TEST ( StringPool, WrapLeavesTheSkippedTailAlone )
{
    char *p0 = PoolStart ( );
    CursorTo ( kPoolSize - 16 );
    char *pTail = AIVariable::GetStringPoolBuffer ( 10 );
    ASSERT_EQ ( pTail, p0 + kPoolSize - 16 );
    memcpy ( pTail, "tail text", 10 );
    char *pWrapped = AIVariable::GetStringPoolBuffer ( 7 );
    EXPECT_EQ ( pWrapped, p0 );
    EXPECT_STREQ ( pTail, "tail text" );
}

TEST ( StringPool, NumberTextsCost32Bytes )
{
    char *p0 = PoolStart ( );
    CursorTo ( 64 );
    AIVariable v ( 1.0f );
    const char *a = v.GetStringValue ( );
    const char *b = v.GetStringValue ( );
    EXPECT_EQ ( a, p0 + 64 );
    EXPECT_EQ ( b, p0 + 96 );
    EXPECT_EQ ( Cursor ( p0 ), 128u );
    EXPECT_STREQ ( a, "1" );
}

TEST ( StringPool, TextsLastUntilAWrapCoversThem )
{
    char *p0 = PoolStart ( );
    CursorTo ( 1 );
    const char *pText = AIVariable ( 0.25f ).GetStringValue ( );
    ASSERT_EQ ( pText, p0 + 1 );
    // Small requests go on behind the cursor and leave the text alone ...
    for ( int i = 0; i < 1000; ++i ) AIVariable ( 7.0f ).GetStringValue ( );
    EXPECT_STREQ ( pText, "0.25" );
    // ... a request larger than what is left wraps at once and covers it.
    char *pBig = AIVariable::GetStringPoolBuffer ( kPoolSize - 1000 );
    ASSERT_EQ ( pBig, p0 );
    memset ( pBig, 'x', 64 );
    EXPECT_NE ( std::string ( pText, 4 ), "0.25" );
}
