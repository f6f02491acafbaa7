// The script value type: construction, coercions, the strict parse, number
// texts and the layout the host shares.

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

    bool AllZero ( const std::vector<unsigned char> &b )
    {
        for ( unsigned char c : b ) if ( c ) return false;
        return true;
    }
}

TEST ( Variable, LayoutMatchesTheHost )
{
    EXPECT_EQ ( sizeof ( AIVariable ), sizeof ( void * ) == 4 ? 8u : 16u );
    AIVariable v ( 1.5f );
    const unsigned char *p = reinterpret_cast<const unsigned char *>( &v );
    EXPECT_EQ ( p[0], 0x01 );
    uint32_t bits;
    std::memcpy ( &bits, p + sizeof ( void * ), 4 );
    EXPECT_EQ ( bits, FloatBits ( 1.5f ) );
    if ( sizeof ( void * ) == 8 )
        for ( int i = 12; i < 16; ++i ) EXPECT_EQ ( p[i], 0 ) << "payload byte " << i;

    AIVariable b ( true );
    EXPECT_EQ ( reinterpret_cast<const unsigned char *>( &b )[sizeof ( void * )], 1 );
}

TEST ( Variable, DefaultIsNil )
{
    AIVariable v;
    EXPECT_TRUE ( v.IsNil ( ) );
    EXPECT_FALSE ( v.GetBooleanValue ( ) );
    EXPECT_EQ ( v.GetNumberValue ( ), 0.0f );
    EXPECT_EQ ( v.GetStringValue ( ), nullptr );
    EXPECT_FALSE ( v.CanConvertToString ( ) );
    EXPECT_FALSE ( v.CanConvertToNumber ( ) );
    EXPECT_TRUE ( AllZero ( PayloadBytes ( v ) ) );
    EXPECT_TRUE ( S3DX::nil.IsNil ( ) );
    EXPECT_TRUE ( AllZero ( PayloadBytes ( S3DX::nil ) ) );
}

// Every integer becomes a float; the unsigned one never reads as negative.
TEST ( Variable, IntegerConstructorsAndAssignmentsRoundToFloat )
{
    struct Case { const char *pWhat; AIVariable v; uint32_t iBits; };
    const Case aCases [ ] =
    {
        { "signed char -128",     AIVariable ( static_cast<signed char>( -128 ) ),     FloatBits ( -128.0f ) },
        { "unsigned char 255",    AIVariable ( static_cast<unsigned char>( 255 ) ),    FloatBits ( 255.0f ) },
        { "short -32768",         AIVariable ( static_cast<short>( -32768 ) ),         FloatBits ( -32768.0f ) },
        { "unsigned short 65535", AIVariable ( static_cast<unsigned short>( 65535 ) ), FloatBits ( 65535.0f ) },
        { "int 16777217",         AIVariable ( 16777217 ),                             FloatBits ( 16777216.0f ) },
        { "int -16777219",        AIVariable ( -16777219 ),                            FloatBits ( -16777220.0f ) },
        { "unsigned 4294967295",  AIVariable ( 4294967295u ),                          FloatBits ( 4294967296.0f ) },
        { "unsigned 2147483648",  AIVariable ( 2147483648u ),                          FloatBits ( 2147483648.0f ) },
        { "float -0",             AIVariable ( -0.0f ),                                0x80000000u },
    };
    for ( const Case &c : aCases )
    {
        EXPECT_TRUE ( c.v.IsNumber ( ) ) << c.pWhat;
        EXPECT_EQ ( FloatBits ( c.v.fNumberValue ), c.iBits ) << c.pWhat;
    }

    // Assignment does what the constructor does, overwriting a previous string.
    AIVariable v ( "text" );
    v = 4294967295u;
    EXPECT_TRUE ( v.IsNumber ( ) );
    EXPECT_EQ ( v.GetNumberValue ( ), 4294967296.0f );
    if ( sizeof ( void * ) == 8 )
    {
        const std::vector<unsigned char> b = PayloadBytes ( v );
        for ( int i = 4; i < 8; ++i ) EXPECT_EQ ( b[i], 0 ) << "a number store clears the pointer's upper half";
    }
    v = static_cast<const void *>( &v );
    EXPECT_TRUE ( v.IsHandle ( ) );
    EXPECT_EQ ( v.GetHandleValue ( ), &v );
    v = false;
    EXPECT_TRUE ( v.IsBoolean ( ) );
    EXPECT_TRUE ( AllZero ( PayloadBytes ( v ) ) );
}

TEST ( Variable, StringsAreBorrowedNotCopied )
{
    char aText [ ] = "12";
    AIVariable v ( static_cast<const char *>( aText ) );
    AIVariable w = v;
    EXPECT_EQ ( v.GetStringValue ( ), aText );
    EXPECT_EQ ( w.GetStringValue ( ), aText );
    aText[0] = '3';
    EXPECT_EQ ( w.GetNumberValue ( ), 32.0f ) << "parsed anew on every read";

    AIVariable n ( static_cast<const char *>( nullptr ) );
    EXPECT_TRUE ( n.IsString ( ) );
    EXPECT_TRUE ( n.CanConvertToString ( ) );
    EXPECT_FALSE ( n.CanConvertToNumber ( ) );
    EXPECT_STREQ ( n.GetStringValue ( ), "" );
    EXPECT_EQ ( n.GetNumberValue ( ), 0.0f );
    EXPECT_TRUE ( n.GetBooleanValue ( ) );
}

// The numeric value of a text, and whether it counts as convertible.
TEST ( Variable, StrictParseOfTexts )
{
    struct Case { const char *pText; bool bConvertible; float fValue; };
    const Case aCases [ ] =
    {
        { "  12.5\t\n",      true,  12.5f },
        { "12.5abc",         false, 0.0f },
        { "   ",             false, 0.0f },
        { "",                false, 0.0f },
        { "0x10",            true,  16.0f },
        { "1e39",            true,  kInf },
        { "-1e39",           true,  -kInf },
        { "1e-50",           true,  0.0f },
        { "-7",              true,  -7.0f },
        { "+3 \v\f\r",       true,  3.0f },
        { "3 4",             false, 0.0f },
        { "inf",             true,  kInf },
        { ".5",              true,  0.5f },
        { "5.",              true,  5.0f },
        { "e5",              false, 0.0f },
        { "0.1",             true,  0.1f },
        { "16777217",        true,  16777216.0f },
        { "3\x01",           false, 0.0f },
    };
    for ( const Case &c : aCases )
    {
        AIVariable v ( c.pText );
        EXPECT_EQ ( v.CanConvertToNumber ( ), c.bConvertible ) << '"' << c.pText << '"';
        EXPECT_EQ ( FloatBits ( v.GetNumberValue ( ) ), FloatBits ( c.fValue ) ) << '"' << c.pText << '"';
        EXPECT_EQ ( FloatBits ( static_cast<float>( v ) ), FloatBits ( c.fValue ) ) << '"' << c.pText << '"';
    }

    AIVariable nan ( "nan" );
    EXPECT_TRUE ( nan.CanConvertToNumber ( ) );
    EXPECT_TRUE ( std::isnan ( nan.GetNumberValue ( ) ) );
}

TEST ( Variable, NumberTextsUseShortestG )
{
    struct Case { float f; const char *pText; };
    const Case aCases [ ] =
    {
        { 3.0f, "3" }, { 0.1f, "0.1" }, { 1000000.0f, "1e+06" }, { 1234567.0f, "1.23457e+06" },
        { -0.0f, "-0" }, { 0.5f, "0.5" }, { 100000.0f, "100000" }, { 1e-05f, "1e-05" },
        { 16777216.0f, "1.67772e+07" }, { -2.5f, "-2.5" },
    };
    for ( const Case &c : aCases )
    {
        AIVariable v ( c.f );
        EXPECT_STREQ ( v.GetStringValue ( ), c.pText );
        EXPECT_TRUE ( v.CanConvertToString ( ) );
    }
    AIVariable v ( 3.0f );
    EXPECT_NE ( v.GetStringValue ( ), v.GetStringValue ( ) ) << "each number text is a fresh piece";
}

TEST ( Variable, TypesWithoutTextGiveNull )
{
    const AIVariable aCases [ ] = { AIVariable ( ), AIVariable ( true ), AIVariable ( false ),
                                    AIVariable ( static_cast<const void *>( "h" ) ), WithTag ( 0x04 ), WithTag ( 0xff ) };
    for ( const AIVariable &v : aCases )
    {
        EXPECT_EQ ( v.GetStringValue ( ), nullptr ) << "tag " << int ( v.iType );
        EXPECT_FALSE ( v.CanConvertToString ( ) ) << "tag " << int ( v.iType );
        EXPECT_FALSE ( v.CanConvertToNumber ( ) ) << "tag " << int ( v.iType );
        EXPECT_EQ ( v.GetNumberValue ( ), 0.0f ) << "tag " << int ( v.iType );
    }
}

TEST ( Variable, BooleanValueOfEveryTag )
{
    struct Case { const char *pWhat; AIVariable v; bool b; };
    const Case aCases [ ] =
    {
        { "nil",          AIVariable ( ),      false },
        { "false",        AIVariable ( false ), false },
        { "true",         AIVariable ( true ),  true },
        { "number 0",     AIVariable ( 0.0f ),  true },
        { "empty text",   AIVariable ( "" ),    true },
        { "null handle",  AIVariable ( static_cast<const void *>( nullptr ) ), true },
        { "unknown tag",  WithTag ( 0x7f ),    true },
    };
    for ( const Case &c : aCases )
    {
        EXPECT_EQ ( c.v.GetBooleanValue ( ), c.b ) << c.pWhat;
        EXPECT_EQ ( static_cast<bool>( c.v ), c.b ) << c.pWhat;
    }
}

TEST ( Variable, UnknownTagIsNothingInParticular )
{
    int iObject = 0;
    const AIVariable v = WithTag ( 0x04, &iObject );
    EXPECT_FALSE ( v.IsNil ( ) || v.IsNumber ( ) || v.IsString ( ) || v.IsBoolean ( ) || v.IsHandle ( ) );
    EXPECT_EQ ( v.GetHandleValue ( ), nullptr );
    EXPECT_EQ ( v.GetType ( ), static_cast<AIVariable::Type>( 4 ) );
    EXPECT_TRUE ( v.CheckType ( static_cast<AIVariable::Type>( 4 ) ) );
    EXPECT_TRUE ( AIVariable ( static_cast<const void *>( &iObject ) ).CheckType ( AIVariable::TypeHandle ) );
    EXPECT_EQ ( AIVariable ( static_cast<const void *>( &iObject ) ).GetType ( ), 0x80 ) << "the handle tag is 0x80, zero-extended";
}

// Integer conversions truncate toward zero with the x86 out-of-range rules.
TEST ( Variable, IntegerConversions )
{
    struct Case { float f; int i; signed char sc; unsigned char uc; short s; unsigned short us; unsigned int u; };
    const Case aCases [ ] =
    {
        { 2.9f,           2,             2,    2,    2,      2,      2u },
        { -2.9f,          -2,            -2,   254,  -2,     65534,  4294967294u },
        { 200.0f,         200,           -56,  200,  200,    200,    200u },
        { -1.0f,          -1,            -1,   255,  -1,     65535,  4294967295u },
        { 3000000000.0f,  INT32_MIN,     0,    0,    0,      0,      3000000000u },
        { 5000000000.0f,  INT32_MIN,     0,    0,    0,      0,      705032704u },
        { 4294967296.0f,  INT32_MIN,     0,    0,    0,      0,      0u },
        { -5000000000.0f, INT32_MIN,     0,    0,    0,      0,      3589934592u },
        { 70000.0f,       70000,         112,  112,  4464,   4464,   70000u },
        { 9.3e18f,        INT32_MIN,     0,    0,    0,      0,      0u },
        { kInf,           INT32_MIN,     0,    0,    0,      0,      0u },
        { -kInf,          INT32_MIN,     0,    0,    0,      0,      0u },
        { kNaN,           INT32_MIN,     0,    0,    0,      0,      0u },
        { 2147483520.0f,  2147483520,    -128, 128,  -128,   65408,  2147483520u },
    };
    for ( const Case &c : aCases )
    {
        const AIVariable v ( c.f );
        EXPECT_EQ ( static_cast<int>( v ), c.i ) << c.f;
        EXPECT_EQ ( static_cast<signed char>( v ), c.sc ) << c.f;
        EXPECT_EQ ( static_cast<unsigned char>( v ), c.uc ) << c.f;
        EXPECT_EQ ( static_cast<short>( v ), c.s ) << c.f;
        EXPECT_EQ ( static_cast<unsigned short>( v ), c.us ) << c.f;
        EXPECT_EQ ( static_cast<unsigned int>( v ), c.u ) << c.f;
    }
    EXPECT_EQ ( static_cast<int>( AIVariable ( "-7.9" ) ), -7 ) << "conversions work on the numeric value";
    EXPECT_EQ ( static_cast<unsigned int>( AIVariable ( true ) ), 0u );
}

TEST ( Variable, SettersClearThePayload )
{
    AIVariable v ( static_cast<const void *>( "abc" ) );
    v.SetNumberValue ( 1.0f );
    EXPECT_TRUE ( v.IsNumber ( ) );
    if ( sizeof ( void * ) == 8 )
        EXPECT_EQ ( PayloadBytes ( v )[4] | PayloadBytes ( v )[7], 0 );
    v.SetStringValue ( "x" );
    EXPECT_STREQ ( v.GetStringValue ( ), "x" );
    v.SetBooleanValue ( true );
    EXPECT_TRUE ( v.IsBoolean ( ) );
    const std::vector<unsigned char> b = PayloadBytes ( v );
    EXPECT_EQ ( b[0], 1 );
    for ( size_t i = 1; i < b.size ( ); ++i ) EXPECT_EQ ( b[i], 0 );
    v.SetHandleValue ( &v );
    EXPECT_EQ ( v.GetHandleValue ( ), &v );
    v.SetNil ( );
    EXPECT_TRUE ( v.IsNil ( ) );
    EXPECT_TRUE ( AllZero ( PayloadBytes ( v ) ) );
}
