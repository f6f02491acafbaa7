// The value type's operators: concatenation, equality, ordering, arithmetic,
// unary operators and compound assignment, over every right-operand type.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "TestSupport.h"

using S3DX::AIVariable;

namespace
{
    constexpr float kInf = std::numeric_limits<float>::infinity ( );
    constexpr float kNaN = std::numeric_limits<float>::quiet_NaN ( );
    constexpr unsigned int kPoolSize = 524288;

    char *PoolCursor ( ) { return AIVariable::GetStringPoolBuffer ( 0 ); }

    // Places the pool's cursor at iOffset (1 to the pool size).
    char *CursorTo ( unsigned int iOffset )
    {
        char *p0 = AIVariable::GetStringPoolBuffer ( kPoolSize );
        if ( iOffset < kPoolSize ) AIVariable::GetStringPoolBuffer ( iOffset );
        return p0;
    }

    std::string TextOf ( const AIVariable &v )
    {
        EXPECT_TRUE ( v.IsString ( ) );
        const char *p = v.pStringValue;
        return p ? p : "(null)";
    }
}

TEST ( Concatenation, JoinsTextsAndSkipsValuesWithoutText )
{
    int iObject = 0;
    const AIVariable h ( static_cast<const void *>( &iObject ) );
    struct Case { const char *pWhat; AIVariable a, b; const char *pText; };
    const Case aCases [ ] =
    {
        { "text and text",      AIVariable ( "ab" ),   AIVariable ( "cd" ),  "abcd" },
        { "number and number",  AIVariable ( 5 ),      AIVariable ( 6 ),     "56" },
        { "text and number",    AIVariable ( "abc" ),  AIVariable ( 5 ),     "abc5" },
        { "number and nil",     AIVariable ( 0.5f ),   AIVariable ( ),       "0.5" },
        { "nil and nil",        AIVariable ( ),        AIVariable ( ),       "" },
        { "two booleans",       AIVariable ( true ),   AIVariable ( false ), "" },
        { "handle and text",    h,                     AIVariable ( "x" ),   "x" },
        { "null text and text", AIVariable ( static_cast<const char *>( nullptr ) ), AIVariable ( "y" ), "y" },
        { "empty and empty",    AIVariable ( "" ),     AIVariable ( "" ),    "" },
        { "big number",         AIVariable ( "n=" ),   AIVariable ( 1000000 ), "n=1e+06" },
    };
    for ( const Case &c : aCases )
    {
        EXPECT_EQ ( TextOf ( AIVariable::Concat ( c.a, c.b ) ), c.pText ) << c.pWhat;
        EXPECT_EQ ( TextOf ( c.a << c.b ), c.pText ) << c.pWhat;
    }
}

TEST ( Concatenation, OneTextAloneIsThatVeryPointer )
{
    const char *pX = "x";
    const AIVariable x ( pX );
    EXPECT_EQ ( ( x << AIVariable ( true ) ).pStringValue, pX );
    EXPECT_EQ ( ( AIVariable ( ) << x ).pStringValue, pX );
    EXPECT_EQ ( ( x << S3DX::nil ).pStringValue, pX );
}

TEST ( Concatenation, ScalarOperandsBecomeNumbers )
{
    const AIVariable s ( "v" );
    EXPECT_EQ ( TextOf ( s << static_cast<signed char>( -3 ) ), "v-3" );
    EXPECT_EQ ( TextOf ( s << static_cast<unsigned char>( 200 ) ), "v200" );
    EXPECT_EQ ( TextOf ( s << static_cast<short>( -300 ) ), "v-300" );
    EXPECT_EQ ( TextOf ( s << static_cast<unsigned short>( 60000 ) ), "v60000" );
    EXPECT_EQ ( TextOf ( s << 16777217 ), "v1.67772e+07" );
    EXPECT_EQ ( TextOf ( s << 4294967295u ), "v4.29497e+09" );
    EXPECT_EQ ( TextOf ( s << 0.25f ), "v0.25" );
    EXPECT_EQ ( TextOf ( AIVariable ( ) << 7 ), "7" ) << "nil adds nothing";
}

TEST ( Concatenation, PoolCostIsEachTextThenTheJoin )
{
    char *p0 = CursorTo ( 1000 );
    const AIVariable r = AIVariable ( 5 ) << AIVariable ( 6 );
    EXPECT_EQ ( PoolCursor ( ) - p0, 1000 + 67 ) << "32 + 32 for the two number texts, 3 for \"56\"";
    EXPECT_EQ ( r.pStringValue, p0 + 1064 );

    CursorTo ( 2000 );
    const AIVariable t = AIVariable ( "abc" ) << AIVariable ( "de" );
    EXPECT_EQ ( PoolCursor ( ) - p0, 2006 );
    EXPECT_EQ ( TextOf ( t ), "abcde" );

    CursorTo ( 3000 );
    AIVariable ( "abc" ) << AIVariable ( true );
    EXPECT_EQ ( PoolCursor ( ) - p0, 3000 ) << "one side alone takes nothing";
}

TEST ( Concatenation, TooLongForThePoolGivesTheEmptyText )
{
    std::string a ( 300000, 'a' ), b ( 224287, 'b' );  // 524287 + NUL: fits exactly
    char *p0 = CursorTo ( 10 );
    const AIVariable fits = AIVariable ( a.c_str ( ) ) << AIVariable ( b.c_str ( ) );
    EXPECT_EQ ( fits.pStringValue, p0 );
    EXPECT_EQ ( std::string ( fits.pStringValue ), a + b );

    b.push_back ( 'b' );  // one more than the pool holds
    CursorTo ( 10 );
    const AIVariable tooLong = AIVariable ( a.c_str ( ) ) << AIVariable ( b.c_str ( ) );
    EXPECT_EQ ( TextOf ( tooLong ), "" );
    EXPECT_EQ ( PoolCursor ( ) - p0, 10 ) << "a refused request leaves the cursor";
}

// After a wrap, the joined text may land on top of its own sources.
TEST ( Concatenation, JoinOverItsOwnSourcesAtTheFrontStaysWhole )
{
    const std::string big ( kPoolSize - 20, 'z' );
    // The number's text lands at the front of the pool; the join then wraps
    // back onto it.
    CursorTo ( kPoolSize );
    AIVariable::GetStringPoolBuffer ( 1 );  // wrap: cursor 1
    const AIVariable r = AIVariable ( 12 ) << AIVariable ( big.c_str ( ) );
    ASSERT_TRUE ( r.IsString ( ) );
    const std::string s = r.pStringValue;
    EXPECT_EQ ( s, "12" + big );

    CursorTo ( kPoolSize );
    AIVariable::GetStringPoolBuffer ( 1 );
    const AIVariable q = AIVariable ( big.c_str ( ) ) << AIVariable ( 34 );
    EXPECT_EQ ( std::string ( q.pStringValue ), big + "34" );
}

// After a wrap the joined text may cover both of its sources in crossed
// order, each under the other's destination. Each case lays its sources out
// in the pool, puts the cursor near the end so that the join wraps to the
// front, and expects the whole join there (or, for the one layout that cannot
// be joined in place, the empty text rather than a corrupted one).
TEST ( Concatenation, JoinOverBothSourcesInCrossedOrder )
{
    // A text of n copies of c in a fresh pool piece.
    static const auto PoolText = [] ( size_t n, char c )
    {
        char *p = AIVariable::GetStringPoolBuffer ( static_cast<unsigned int>( n + 1 ) );
        memset ( p, c, n );
        p[n] = 0;
        return static_cast<const char *>( p );
    };
    struct Case { const char *pWhat; AIVariable ( *fSetUp ) ( std::string &, std::string & ); bool bJoined; };
    const Case aCases [ ] =
    {
        { "a number before a long text at the front", [] ( std::string &l, std::string &r ) {
              CursorTo ( kPoolSize );
              const AIVariable t ( PoolText ( 300000, 't' ) );  // lands at the front; the number's text follows it
              l = "5"; r = t.pStringValue;
              return AIVariable ( 5 ) << t; }, true },
        { "two texts, the right one first", [] ( std::string &l, std::string &r ) {
              CursorTo ( kPoolSize );
              const char *a = PoolText ( 100, 'a' ), *b = PoolText ( 50, 'b' );
              AIVariable::GetStringPoolBuffer ( kPoolSize - 152 - 10 );
              l = b; r = a;
              return AIVariable ( b ) << AIVariable ( a ); }, true },
        { "a text joined to itself", [] ( std::string &l, std::string &r ) {
              CursorTo ( kPoolSize );
              AIVariable::GetStringPoolBuffer ( 5 );
              const char *s = PoolText ( 100, 's' );
              AIVariable::GetStringPoolBuffer ( kPoolSize - 106 - 10 );
              l = r = s;
              return AIVariable ( s ) << AIVariable ( s ); }, true },
        { "a text and its own tail", [] ( std::string &l, std::string &r ) {
              CursorTo ( kPoolSize );
              AIVariable::GetStringPoolBuffer ( 5 );
              const char *s = PoolText ( 100, 's' );
              AIVariable::GetStringPoolBuffer ( kPoolSize - 106 - 10 );
              l = s; r = s + 50;
              return AIVariable ( s ) << AIVariable ( s + 50 ); }, false },
    };
    for ( const Case &c : aCases )
    {
        std::string l, r;
        const AIVariable v = c.fSetUp ( l, r );
        char *p0 = CursorTo ( kPoolSize );
        if ( c.bJoined )
        {
            EXPECT_EQ ( v.pStringValue, p0 ) << c.pWhat;
            const std::string t = TextOf ( v );
            EXPECT_TRUE ( t == l + r ) << c.pWhat << ": " << t.size ( ) << " bytes instead of " << l.size ( ) + r.size ( );
        }
        else EXPECT_EQ ( TextOf ( v ), "" ) << c.pWhat;
    }
}

TEST ( Equality, BetweenVariables )
{
    int i1 = 0, i2 = 0;
    struct Case { const char *pWhat; AIVariable a, b; bool bEqual; };
    const Case aCases [ ] =
    {
        { "0 and -0",                 AIVariable ( 0.0f ), AIVariable ( -0.0f ),  false },
        { "NaN and its copy",         AIVariable ( kNaN ), AIVariable ( kNaN ),   true },
        { "string 5 and number 5",    AIVariable ( "5" ),  AIVariable ( 5 ),      false },
        { "equal texts",              AIVariable ( "ab" ), AIVariable ( "ab" ),   true },
        { "case matters",             AIVariable ( "ab" ), AIVariable ( "aB" ),   false },
        { "prefix",                   AIVariable ( "ab" ), AIVariable ( "abc" ),  false },
        { "null text and empty text", AIVariable ( static_cast<const char *>( nullptr ) ), AIVariable ( "" ), true },
        { "nil and nil",              AIVariable ( ),      S3DX::nil,             true },
        { "true and true",            AIVariable ( true ), AIVariable ( true ),   true },
        { "true and false",           AIVariable ( true ), AIVariable ( false ),  false },
        { "same handle",              AIVariable ( static_cast<const void *>( &i1 ) ), AIVariable ( static_cast<const void *>( &i1 ) ), true },
        { "other handle",             AIVariable ( static_cast<const void *>( &i1 ) ), AIVariable ( static_cast<const void *>( &i2 ) ), false },
        { "nil and number 0",         AIVariable ( ),      AIVariable ( 0 ),      false },
        { "16777217 rounded twice",   AIVariable ( 16777217 ), AIVariable ( 16777216 ), true },
    };
    for ( const Case &c : aCases )
    {
        EXPECT_EQ ( c.a == c.b, c.bEqual ) << c.pWhat;
        EXPECT_EQ ( c.a != c.b, !c.bEqual ) << c.pWhat;
    }
}

TEST ( Equality, AgainstScalarsOnlyNumbersByIeee )
{
    const AIVariable zero ( 0.0f ), negZero ( -0.0f ), nan ( kNaN ), five ( 5 ), big ( 16777216 );
    EXPECT_TRUE ( zero == -0.0f );
    EXPECT_TRUE ( negZero == 0 );
    EXPECT_FALSE ( nan == kNaN );
    EXPECT_TRUE ( nan != kNaN );
    EXPECT_TRUE ( big == 16777217 ) << "the argument is rounded to float first";
    EXPECT_TRUE ( big == 16777217u );
    EXPECT_FALSE ( AIVariable ( "5" ) == 5 ) << "a string never equals a scalar";
    EXPECT_FALSE ( AIVariable ( true ) == 1 );
    EXPECT_FALSE ( AIVariable ( ) == 0 );
    EXPECT_TRUE ( five == static_cast<signed char>( 5 ) );
    EXPECT_TRUE ( five == static_cast<unsigned char>( 5 ) );
    EXPECT_TRUE ( five == static_cast<short>( 5 ) );
    EXPECT_TRUE ( five == static_cast<unsigned short>( 5 ) );
    EXPECT_TRUE ( five == 5u );
    EXPECT_TRUE ( AIVariable ( -1 ) == static_cast<signed char>( -1 ) );
    EXPECT_TRUE ( AIVariable ( 255 ) == static_cast<unsigned char>( 255 ) );
    EXPECT_TRUE ( AIVariable ( 4294967296.0f ) == 4294967295u ) << "never read as -1";
}

TEST ( Equality, AgainstTextsAndBools )
{
    struct Case { const char *pWhat; AIVariable v; const char *pText; bool bEqual; };
    const Case aCases [ ] =
    {
        { "number 5 and \"5\"",       AIVariable ( 5 ),        "5",       true },
        { "number 0.5",               AIVariable ( 0.5f ),     "0.5",     true },
        { "1000000 is 1e+06",         AIVariable ( 1000000 ),  "1e+06",   true },
        { "not 1000000",              AIVariable ( 1000000 ),  "1000000", false },
        { "string text",              AIVariable ( "abc" ),    "abc",     true },
        { "string case",              AIVariable ( "abc" ),    "ABC",     false },
        { "nil and any text",         AIVariable ( ),          "",        false },
        { "boolean and \"true\"",     AIVariable ( true ),     "true",    false },
        { "null string and null",     AIVariable ( static_cast<const char *>( nullptr ) ), nullptr, true },
        { "empty string and null",    AIVariable ( "" ),       nullptr,   true },
        { "text and null",            AIVariable ( "a" ),      nullptr,   false },
        { "number and null",          AIVariable ( 0.0f ),     nullptr,   false },
        { "nil and null",             AIVariable ( ),          nullptr,   false },
    };
    for ( const Case &c : aCases )
    {
        EXPECT_EQ ( c.v == c.pText, c.bEqual ) << c.pWhat;
        EXPECT_EQ ( c.v != c.pText, !c.bEqual ) << c.pWhat;
    }
    EXPECT_TRUE ( AIVariable ( true ) == true );
    EXPECT_FALSE ( AIVariable ( true ) == false );
    EXPECT_TRUE ( AIVariable ( false ) == false );
    EXPECT_FALSE ( AIVariable ( 1 ) == true );
    EXPECT_TRUE ( AIVariable ( ) != false );
}

TEST ( Ordering, WorksOnNumericValues )
{
    const AIVariable s5 ( "5" ), nan ( kNaN ), nil;
    EXPECT_TRUE ( s5 < 6 );
    EXPECT_TRUE ( s5 <= 5 );
    EXPECT_TRUE ( s5 > AIVariable ( "4.5" ) );
    EXPECT_TRUE ( AIVariable ( "abc" ) >= 0 ) << "unparsable text counts as 0";
    EXPECT_FALSE ( nil < AIVariable ( true ) );
    EXPECT_TRUE ( nil >= AIVariable ( true ) ) << "nil and booleans are both 0";
    EXPECT_TRUE ( AIVariable ( -1 ) < 4294967295u );
    EXPECT_TRUE ( AIVariable ( 200 ) > static_cast<signed char>( -56 ) );
    EXPECT_TRUE ( AIVariable ( 16777216 ) >= 16777217 );
    EXPECT_FALSE ( AIVariable ( 16777216 ) < 16777217 );
    for ( const AIVariable &other : { AIVariable ( 1 ), nan, AIVariable ( "nan" ) } )
    {
        EXPECT_FALSE ( nan < other );
        EXPECT_FALSE ( nan <= other );
        EXPECT_FALSE ( nan > other );
        EXPECT_FALSE ( nan >= other );
        EXPECT_FALSE ( other < nan );
    }
    EXPECT_FALSE ( nan <= kNaN );
    EXPECT_FALSE ( AIVariable ( 1 ) >= kNaN );
}

TEST ( Arithmetic, OnNumericValuesInSinglePrecision )
{
    struct Case { const char *pWhat; AIVariable r; uint32_t iBits; };
    const Case aCases [ ] =
    {
        { "\"2\" + \"3\"",   AIVariable ( "2" ) + AIVariable ( "3" ),  FloatBits ( 5.0f ) },
        { "\"abc\" + 1",     AIVariable ( "abc" ) + 1,                 FloatBits ( 1.0f ) },
        { "nil * 5",         AIVariable ( ) * 5,                       FloatBits ( 0.0f ) },
        { "1 / 0",           AIVariable ( 1 ) / 0,                     FloatBits ( kInf ) },
        { "-1 / 0",          AIVariable ( -1 ) / AIVariable ( 0 ),     FloatBits ( -kInf ) },
        { "16777216 + 1",    AIVariable ( 16777216 ) + 1,              FloatBits ( 16777216.0f ) },
        { "0.1 + 0.2",       AIVariable ( 0.1f ) + 0.2f,               FloatBits ( 0.1f + 0.2f ) },
        { "1e38 * 10",       AIVariable ( 1e38f ) * 10,                FloatBits ( kInf ) },
        { "true - 1",        AIVariable ( true ) - 1,                  FloatBits ( -1.0f ) },
        { "7 - uchar 200",   AIVariable ( 7 ) - static_cast<unsigned char>( 200 ), FloatBits ( -193.0f ) },
        { "short * -2",      AIVariable ( "3" ) * static_cast<short>( -2 ), FloatBits ( -6.0f ) },
        { "ushort / 4",      AIVariable ( 10 ) / static_cast<unsigned short>( 4 ), FloatBits ( 2.5f ) },
        { "-nil",            -AIVariable ( ),                          0x80000000u },
        { "-\"abc\"",        -AIVariable ( "abc" ),                    0x80000000u },
        { "-\"2\"",          -AIVariable ( "2" ),                      FloatBits ( -2.0f ) },
    };
    for ( const Case &c : aCases )
    {
        EXPECT_TRUE ( c.r.IsNumber ( ) ) << c.pWhat;
        EXPECT_EQ ( FloatBits ( c.r.fNumberValue ), c.iBits ) << c.pWhat;
    }
    EXPECT_TRUE ( std::isnan ( ( AIVariable ( 0 ) / 0 ).GetNumberValue ( ) ) );
    EXPECT_TRUE ( std::isnan ( ( AIVariable ( 0 ) / AIVariable ( 0.0f ) ).GetNumberValue ( ) ) );
    EXPECT_TRUE ( ( AIVariable ( "1" ) + AIVariable ( "1" ) ) == 2 ) << "+ never joins texts";
}

TEST ( UnaryOperators, PlusCopiesNotEqualsNegatesTruth )
{
    const AIVariable abc ( "abc" );
    const AIVariable plus = +abc;
    EXPECT_TRUE ( plus.IsString ( ) );
    EXPECT_EQ ( plus.pStringValue, abc.pStringValue );
    EXPECT_TRUE ( ( +S3DX::nil ).IsNil ( ) );

    int iObject = 0;
    struct Case { const char *pWhat; AIVariable v; bool bNot; };
    const Case aCases [ ] =
    {
        { "nil", AIVariable ( ), true }, { "false", AIVariable ( false ), true },
        { "true", AIVariable ( true ), false }, { "number 0", AIVariable ( 0 ), false },
        { "empty text", AIVariable ( "" ), false },
        { "handle", AIVariable ( static_cast<const void *>( &iObject ) ), false },
        { "unknown tag", WithTag ( 9 ), false },
    };
    for ( const Case &c : aCases )
    {
        EXPECT_EQ ( !c.v, c.bNot ) << c.pWhat;
        EXPECT_EQ ( !c.v, !c.v.GetBooleanValue ( ) ) << c.pWhat;
    }
}

TEST ( CompoundAssignment, AlwaysEndsAsANumber )
{
    AIVariable s ( "10" );
    s += 5;
    EXPECT_TRUE ( s.IsNumber ( ) );
    EXPECT_EQ ( s.GetNumberValue ( ), 15.0f );

    AIVariable b ( true );
    b *= 2;
    EXPECT_TRUE ( b.IsNumber ( ) );
    EXPECT_EQ ( b.GetNumberValue ( ), 0.0f );

    AIVariable n;
    n -= AIVariable ( "2.5" );
    EXPECT_TRUE ( n.IsNumber ( ) );
    EXPECT_EQ ( n.GetNumberValue ( ), -2.5f );

    AIVariable h ( static_cast<const void *>( &n ) );
    h /= AIVariable ( 0 );
    EXPECT_TRUE ( h.IsNumber ( ) );
    EXPECT_TRUE ( std::isnan ( h.GetNumberValue ( ) ) );
    if ( sizeof ( void * ) == 8 ) EXPECT_EQ ( PayloadBytes ( h )[4] | PayloadBytes ( h )[7], 0 ) << "pointer bytes cleared";

    AIVariable x ( 7 );
    AIVariable &r = ( x += x );
    EXPECT_EQ ( &r, &x );
    EXPECT_EQ ( x.GetNumberValue ( ), 14.0f );
    x -= static_cast<unsigned char>( 4 );
    x *= static_cast<short>( -1 );
    x /= static_cast<unsigned short>( 2 );
    x += 4294967295u;
    x -= static_cast<signed char>( -1 );
    x *= 0.5f;
    EXPECT_EQ ( x.GetNumberValue ( ), ( -5.0f + 4294967296.0f + 1.0f ) * 0.5f );
}
