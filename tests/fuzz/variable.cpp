// Properties of the value type, its operators and the temporary string pool
// under arbitrary tags, payloads, texts and pool requests. The input drives a
// small machine of four variable registers; every operation is checked
// against a plain model: the numeric value against an independent strict
// parse, number texts against snprintf "%g", joined texts against the two
// texts joined, comparisons against the numeric values and the tag rules,
// and every pool piece against where the pool's rule says it must land.

#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <deque>
#include <limits>
#include <string>
#include <vector>

#include "S3DX.h"
#include "FuzzSupport.h"

using S3DX::AIVariable;

namespace
{
    constexpr unsigned int kPoolSize = 524288;
    constexpr size_t       kPayload  = sizeof ( void * );

    // The pool's first byte; a request of the whole pool always lands there.
    char *pPool = nullptr;

    unsigned int Cursor ( ) { return static_cast<unsigned int>( AIVariable::GetStringPoolBuffer ( 0 ) - pPool ); }

    bool InPool ( const char *p, size_t n )
    {
        const uintptr_t a = reinterpret_cast<uintptr_t>( p ), b = reinterpret_cast<uintptr_t>( pPool );
        return a >= b && n <= kPoolSize && a - b <= kPoolSize - n;
    }

    bool Overlap ( const char *a, size_t na, const char *b, size_t nb )
    {
        const uintptr_t ia = reinterpret_cast<uintptr_t>( a ), ib = reinterpret_cast<uintptr_t>( b );
        return na && nb && ia < ib + nb && ib < ia + na;
    }

    // Where each request must land: behind the cursor when it fits, at the
    // front when it does not, nowhere (and the cursor stays) when it is
    // larger than the whole pool.
    struct PoolModel
    {
        unsigned int iCursor = 0;

        long Request ( unsigned int n )
        {
            if ( n > kPoolSize ) return -1;
            const unsigned int iStart = uint64_t ( iCursor ) + n <= kPoolSize ? iCursor : 0;
            iCursor = iStart + n;
            return iStart;
        }
    };

    bool SameFloat ( float a, float b )
    {
        return FloatBits ( a ) == FloatBits ( b ) || ( std::isnan ( a ) && std::isnan ( b ) );
    }

    // The strict parse, written apart from the library's: strtod must consume
    // something, and what it leaves may only be blanks.
    bool ModelParse ( const char *pText, float *pOut )
    {
        char *pEnd = nullptr;
        const double d = std::strtod ( pText, &pEnd );
        if ( pEnd == pText ) return false;
        if ( pEnd[std::strspn ( pEnd, " \t\n\v\f\r" )] != 0 ) return false;
        *pOut = static_cast<float>( d );
        return true;
    }

    float ModelNumber ( const AIVariable &v )
    {
        if ( v.iType == AIVariable::TypeNumber ) return v.fNumberValue;
        float f = 0.0f;
        if ( v.iType == AIVariable::TypeString && v.pStringValue && !ModelParse ( v.pStringValue, &f ) ) f = 0.0f;
        return f;
    }

    std::string Format ( float f )
    {
        char a [ 64 ];
        std::snprintf ( a, sizeof a, "%g", static_cast<double>( f ) );
        return a;
    }

    bool PayloadEqual ( const AIVariable &a, const AIVariable &b )
    {
        return std::memcmp ( reinterpret_cast<const char *>( &a ) + kPayload, reinterpret_cast<const char *>( &b ) + kPayload, kPayload ) == 0;
    }

    // A number made by the library: tag 1, the float, every other payload byte zero.
    void CheckIsNumber ( const AIVariable &v, float fExpected, const char *pWhat )
    {
        FUZZ_CHECK ( v.iType == AIVariable::TypeNumber, "%s: tag %d", pWhat, v.iType );
        FUZZ_CHECK ( SameFloat ( v.fNumberValue, fExpected ), "%s: %a instead of %a", pWhat, v.fNumberValue, fExpected );
        const unsigned char *p = reinterpret_cast<const unsigned char *>( &v ) + kPayload;
        for ( size_t i = 4; i < kPayload; ++i ) FUZZ_CHECK ( p[i] == 0, "%s: payload byte %zu is %d", pWhat, i, p[i] );
    }

    bool ModelEquals ( const AIVariable &a, const AIVariable &b )
    {
        if ( a.iType != b.iType ) return false;
        if ( a.iType == AIVariable::TypeString )
            return std::strcmp ( a.pStringValue ? a.pStringValue : "", b.pStringValue ? b.pStringValue : "" ) == 0;
        if ( a.iType == AIVariable::TypeNil ) return true;
        return PayloadEqual ( a, b );
    }

    // How a scalar operand becomes a float: exactly through double, rounded once.
    template < class T > float ScalarToFloat ( T v ) { return static_cast<float>( static_cast<double>( v ) ); }

    int ModelInt ( float f )
    {
        const double d = f;
        return d >= -2147483648.0 && d < 2147483648.0 ? static_cast<int>( d ) : std::numeric_limits<int>::min ( );
    }

    unsigned int ModelUnsigned ( float f )
    {
        const double d = f;
        if ( !( std::fabs ( d ) < 9223372036854775808.0 ) ) return 0;
        return static_cast<unsigned int>( static_cast<uint64_t>( static_cast<int64_t>( d ) ) );
    }

    struct Machine
    {
        FuzzedDataProvider       &in;
        PoolModel                 oPool;
        std::deque<std::string>   aTexts;      // texts the variables borrow; stable addresses, kept to the end of the input
        size_t                    nTextBytes = 0;
        std::vector<const char *> aPoolTexts;  // texts the library made in the pool
        AIVariable                aRegs [ 4 ];

        explicit Machine ( FuzzedDataProvider &i ) : in ( i ) { oPool.iCursor = Cursor ( ); }

        AIVariable &Reg ( ) { return aRegs[in.ConsumeIntegralInRange<int>( 0, 3 )]; }

        void SyncCheck ( const char *pWhat )
        {
            const unsigned int c = Cursor ( );
            FUZZ_CHECK ( c == oPool.iCursor, "%s: cursor %u, expected %u", pWhat, c, oPool.iCursor );
        }

        void KeepPoolText ( const char *p )
        {
            if ( !InPool ( p, 1 ) ) return;
            if ( aPoolTexts.size ( ) >= 16 ) aPoolTexts.erase ( aPoolTexts.begin ( ) );
            aPoolTexts.push_back ( p );
        }

        const char *NewText ( )
        {
            static const char *const aStems [ ] =
            {
                "", " ", "12.5", "  12.5\t\n", "12.5abc", "0x10", "0x1p3", "0x", "1e39", "-1e39", "1e-50", "nan", "-nan",
                "nan(123)", "inf", "-Infinity", "+.5e+3", "-0", "1e", ".", "16777217", "4294967295", "5000000000", "\v\f\r1",
                "0.1", "1e+06", "1.23457e+06", "abc", "3.4028236e38",
            };
            std::string s;
            // What may follow a number: the six blanks and their neighbours.
            static const char aTails [ ] = { ' ', '\t', '\n', '\v', '\f', '\r', '\x08', '\x0e', '\x1f', '!', 'x', '\x85', '\xa0' };
            switch ( in.ConsumeIntegralInRange<int>( 0, 3 ) )
            {
            case 0: s = in.ConsumeRandomLengthString ( 48 ); break;
            case 1: s = in.PickValueInArray ( aStems ) + in.ConsumeRandomLengthString ( 8 ); break;
            case 2:
                s = in.PickValueInArray ( aStems );
                for ( int n = in.ConsumeIntegralInRange<int>( 0, 4 ); n > 0; --n ) s += in.PickValueInArray ( aTails );
                break;
            default:
                // Long texts, up to beyond what the pool can join; a cap on
                // their total keeps one input's memory bounded.
                s.assign ( in.ConsumeIntegralInRange<size_t>( 0, nTextBytes < ( 32u << 20 ) ? kPoolSize + 4096 : 64 ),
                           static_cast<char>( in.ConsumeIntegralInRange<int>( 1, 255 ) ) );
                break;
            }
            nTextBytes += s.size ( );
            aTexts.push_back ( std::move ( s ) );
            return aTexts.back ( ).c_str ( );
        }

        float NewFloat ( )
        {
            static const float aEdges [ ] =
            {
                0.0f, -0.0f, 1.0f, -1.0f, 0.5f, 2.9f, -2.9f, 200.0f, 3e9f, 5e9f, 16777217.0f, 1e6f, 1234567.0f, 0.1f,
                2147483648.0f, -2147483648.0f, 9223372036854775808.0f, -9223372036854775808.0f, 1.8446744e19f,
                std::numeric_limits<float>::infinity ( ), -std::numeric_limits<float>::infinity ( ),
                std::numeric_limits<float>::quiet_NaN ( ), std::numeric_limits<float>::min ( ),
                std::numeric_limits<float>::denorm_min ( ), std::numeric_limits<float>::max ( ),
                std::numeric_limits<float>::lowest ( ),
            };
            switch ( in.ConsumeIntegralInRange<int>( 0, 2 ) )
            {
            case 0: return in.PickValueInArray ( aEdges );
            case 1:
            {
                // Magnitudes from 2^-30 to 2^70, where the integer conversions
                // change rule, with an arbitrary sign and mantissa.
                const uint32_t iExponent = static_cast<uint32_t>( 127 + in.ConsumeIntegralInRange<int>( -30, 70 ) );
                const uint32_t iMantissa = ( in.ConsumeIntegral<uint32_t>( ) & 0x7fffffu ) | ( in.ConsumeBool ( ) ? 1u : 0u );
                return FloatFromBits ( ( in.ConsumeBool ( ) ? 0x80000000u : 0u ) | iExponent << 23 | iMantissa );
            }
            default: return FloatFromBits ( in.ConsumeIntegral<uint32_t>( ) );
            }
        }

        AIVariable NewVariable ( )
        {
            AIVariable v;
            switch ( in.ConsumeIntegralInRange<int>( 0, 8 ) )
            {
            case 0: break;
            case 1: { const float f = NewFloat ( ); v = AIVariable ( f ); break; }
            case 2: v = AIVariable ( NewText ( ) ); break;
            case 3: v = AIVariable ( static_cast<const char *>( nullptr ) ); break;
            case 4:
                // A boolean as a host may hand it over: the stored byte, the rest zero.
                v.iType = AIVariable::TypeBoolean;
                reinterpret_cast<unsigned char *>( &v )[kPayload] = in.ConsumeBool ( ) ? in.ConsumeIntegral<uint8_t>( ) : in.ConsumeBool ( );
                break;
            case 5: v = AIVariable ( reinterpret_cast<const void *>( in.ConsumeIntegral<uintptr_t>( ) ) ); break;
            case 6:
            {
                // Any other tag byte, any payload.
                unsigned char t = in.ConsumeIntegral<uint8_t>( );
                if ( t >= 1 && t <= 3 ) t = static_cast<unsigned char>( t + 0x40 );
                v.iType        = t;
                v.pHandleValue = reinterpret_cast<const void *>( in.ConsumeIntegral<uintptr_t>( ) );
                break;
            }
            case 7:
                // A text the library made earlier, wherever the pool has moved since.
                if ( !aPoolTexts.empty ( ) ) v = AIVariable ( aPoolTexts[in.ConsumeIntegralInRange<size_t>( 0, aPoolTexts.size ( ) - 1 )] );
                break;
            default: v = AIVariable ( NewText ( ) ); break;
            }
            return v;
        }

        // Everything that reads a variable without touching the pool.
        void CheckReads ( const AIVariable &v )
        {
            const unsigned int t = v.iType;
            FUZZ_CHECK ( v.IsNil ( ) == ( t == 0x00 ) && v.IsNumber ( ) == ( t == 0x01 ) && v.IsString ( ) == ( t == 0x02 )
                         && v.IsBoolean ( ) == ( t == 0x03 ) && v.IsHandle ( ) == ( t == 0x80 ), "tests of tag %u", t );
            FUZZ_CHECK ( v.CheckType ( static_cast<AIVariable::Type>( t ) ) && unsigned ( v.GetType ( ) ) == t, "tag %u", t );

            const float x = ModelNumber ( v );
            FUZZ_CHECK ( SameFloat ( v.GetNumberValue ( ), x ) && SameFloat ( float ( v ), x ),
                         "numeric value of tag %u (text \"%.40s\"): %a instead of %a", t,
                         t == 2 && v.pStringValue ? v.pStringValue : "", v.GetNumberValue ( ), x );
            float f;
            const bool bNumber = t == 0x01 || ( t == 0x02 && v.pStringValue && ModelParse ( v.pStringValue, &f ) );
            FUZZ_CHECK ( v.CanConvertToNumber ( ) == bNumber, "CanConvertToNumber of tag %u (text \"%.40s\")", t,
                         t == 2 && v.pStringValue ? v.pStringValue : "" );
            FUZZ_CHECK ( v.CanConvertToString ( ) == ( t == 0x01 || t == 0x02 ), "CanConvertToString of tag %u", t );

            const bool b = t == 0x03 ? reinterpret_cast<const unsigned char *>( &v )[kPayload] != 0 : t != 0x00;
            FUZZ_CHECK ( v.GetBooleanValue ( ) == b && bool ( v ) == b && !v == !b, "boolean value of tag %u", t );
            FUZZ_CHECK ( v.GetHandleValue ( ) == ( t == 0x80 ? v.pHandleValue : nullptr ), "handle of tag %u", t );
            if ( t != 0x01 )
            {
                const char *s = v.GetStringValue ( );
                if ( t == 0x02 ) FUZZ_CHECK ( s && std::strcmp ( s, v.pStringValue ? v.pStringValue : "" ) == 0, "string text" );
                else             FUZZ_CHECK ( s == nullptr, "text of tag %u", t );
            }

            const int i = ModelInt ( x );
            FUZZ_CHECK ( int ( v ) == i, "int of %a: %d instead of %d", x, int ( v ), i );
            FUZZ_CHECK ( static_cast<signed char>( v ) == static_cast<signed char>( i ) && static_cast<unsigned char>( v ) == static_cast<unsigned char>( i )
                         && static_cast<short>( v ) == static_cast<short>( i ) && static_cast<unsigned short>( v ) == static_cast<unsigned short>( i ),
                         "narrow integers of %a", x );
            FUZZ_CHECK ( unsigned ( v ) == ModelUnsigned ( x ), "unsigned of %a: %u instead of %u", x, unsigned ( v ), ModelUnsigned ( x ) );

            CheckIsNumber ( -v, -x, "unary minus" );
            const AIVariable p = +v;
            FUZZ_CHECK ( p.iType == v.iType && PayloadEqual ( p, v ), "unary plus is a copy" );
        }

        // The text a variable shows to a join, as the model sees it; a number
        // takes its 32 bytes from the model pool.
        struct Side { bool bHas = false; const char *p = nullptr; std::string s; long iPiece = -1; };

        Side SideOf ( const AIVariable &v )
        {
            Side o;
            if ( v.iType == AIVariable::TypeNumber )
            {
                o.bHas   = true;
                o.iPiece = oPool.Request ( 32 );
                o.p      = pPool + o.iPiece;
                o.s      = Format ( v.fNumberValue );
            }
            else if ( v.iType == AIVariable::TypeString )
            {
                o.bHas = true;
                o.p    = v.pStringValue;
                o.s    = v.pStringValue ? v.pStringValue : "";
            }
            return o;
        }

        // Joins through fJoin (Concat or operator<<), whose operands are a
        // and b, and checks the result against the two texts joined.
        template < class F > AIVariable CheckJoin ( const AIVariable &a, const AIVariable &b, F fJoin )
        {
            Side l = SideOf ( a );
            Side r = SideOf ( b );
            // A number's piece may cover a pool text the other side points
            // at: that text is gone by the library's own rule, and only the
            // shape of the result is checked.
            const bool bCovered = ( l.iPiece >= 0 && r.p && r.iPiece < 0 && Overlap ( pPool + l.iPiece, 32, r.p, r.s.size ( ) + 1 ) )
                               || ( r.iPiece >= 0 && l.p && l.iPiece < 0 && Overlap ( pPool + r.iPiece, 32, l.p, l.s.size ( ) + 1 ) );

            const AIVariable v = fJoin ( );
            FUZZ_CHECK ( v.iType == AIVariable::TypeString && v.pStringValue, "a join is a string with a text" );
            const char *t = v.pStringValue;

            if ( !l.bHas || !r.bHas )
            {
                const Side &o = l.bHas ? l : r;
                if ( !o.bHas ) FUZZ_CHECK ( t[0] == 0, "no text on either side gives the empty text" );
                else if ( o.p ) FUZZ_CHECK ( t == o.p, "one text alone is that very text" );
                else FUZZ_CHECK ( t[0] == 0, "a null string alone gives the empty text" );
                if ( o.iPiece >= 0 && !bCovered ) FUZZ_CHECK ( t == pPool + o.iPiece && o.s == t, "a number alone is its text \"%s\"", o.s.c_str ( ) );
                KeepPoolText ( t );
                return v;
            }

            if ( bCovered )
            {
                // The covered text's length as the library read it is not
                // known, and so neither is the size of the join's request:
                // the model takes the cursor over.
                FUZZ_CHECK ( t[0] == 0 || InPool ( t, std::strlen ( t ) + 1 ), "a join is the empty text or a piece of the pool" );
                oPool.iCursor = Cursor ( );
                KeepPoolText ( t );
                return v;
            }
            const size_t n = l.s.size ( ) + r.s.size ( ) + 1;
            if ( n > kPoolSize )
            {
                FUZZ_CHECK ( t[0] == 0, "a join of %zu bytes, larger than the pool, is the empty text", n );
                return v;
            }
            const char *pOut = pPool + oPool.Request ( static_cast<unsigned int>( n ) );
            // The one case a join cannot be had: each source lies under the
            // other's destination (so no copy order reads all of its bytes
            // before they are overwritten), the sources are not one text, and
            // they are not two separate texts both inside the new piece (which
            // can be swapped in place).
            const size_t nl = l.s.size ( ), nr = r.s.size ( );
            const auto Inside = [&] ( const char *p, size_t m ) { return p >= pOut && p + m <= pOut + n; };
            const bool bStuck = l.p && r.p && Overlap ( r.p, nr + 1, pOut, nl ) && Overlap ( l.p, nl, pOut + nl, nr + 1 )
                             && l.p != r.p && !( Inside ( l.p, nl ) && Inside ( r.p, nr + 1 ) && !Overlap ( l.p, nl, r.p, nr + 1 ) );
            if ( bStuck )
                FUZZ_CHECK ( t[0] == 0, "a join that cannot be done in place is the empty text" );
            else
                FUZZ_CHECK ( t == pOut && InPool ( t, n ) && std::strlen ( t ) == n - 1 && l.s + r.s == t,
                             "join of %zu and %zu bytes (at pool offsets %ld, %ld, out %ld): got %zu bytes at %ld",
                             nl, nr, InPool ( l.p, 1 ) ? long ( l.p - pPool ) : -1L, InPool ( r.p, 1 ) ? long ( r.p - pPool ) : -1L,
                             long ( pOut - pPool ), std::strlen ( t ), InPool ( t, 1 ) ? long ( t - pPool ) : -1L );
            KeepPoolText ( t );
            return v;
        }

        void CheckNumberText ( const AIVariable &v )
        {
            if ( v.iType != AIVariable::TypeNumber ) return;
            const long o = oPool.Request ( 32 );
            const char *p = v.GetStringValue ( );
            FUZZ_CHECK ( p == pPool + o && InPool ( p, 32 ), "a number's text is the next 32 bytes of the pool" );
            FUZZ_CHECK ( std::memchr ( p, 0, 32 ) && Format ( v.fNumberValue ) == p, "text of %a: \"%.32s\"", v.fNumberValue, p );
            KeepPoolText ( p );
        }

        void CheckEquality ( const AIVariable &a, const AIVariable &b )
        {
            const bool e = a == b;
            FUZZ_CHECK ( e == ModelEquals ( a, b ), "== between tags %d and %d", a.iType, b.iType );
            FUZZ_CHECK ( ( a != b ) == !e && ( b == a ) == e, "!= and symmetry" );
            const AIVariable c = a;
            FUZZ_CHECK ( a == c && !( a != c ), "a variable equals its copy (tag %d)", a.iType );
            // Against a bool: only a boolean holding that very byte.
            const unsigned char iByte = reinterpret_cast<const unsigned char *>( &a )[kPayload];
            for ( bool x : { false, true } )
            {
                const bool eb = a.iType == AIVariable::TypeBoolean && iByte == static_cast<unsigned char>( x );
                FUZZ_CHECK ( ( a == x ) == eb && ( a != x ) == !eb, "== bool on tag %d byte %d", a.iType, iByte );
            }
        }

        void CheckTextEquality ( const AIVariable &a )
        {
            const char *s;
            switch ( in.ConsumeIntegralInRange<int>( 0, 3 ) )
            {
            case 0:  s = nullptr; break;
            case 1:  aTexts.push_back ( a.iType == 1 ? Format ( a.fNumberValue ) : a.iType == 2 && a.pStringValue ? a.pStringValue : "" );
                     s = aTexts.back ( ).c_str ( ); break;
            default: s = NewText ( ); break;
            }
            const bool bHasText = a.iType == AIVariable::TypeNumber || a.iType == AIVariable::TypeString;
            const std::string text = a.iType == 1 ? Format ( a.fNumberValue ) : a.iType == 2 && a.pStringValue ? a.pStringValue : "";
            const bool e = bHasText && text == ( s ? s : "" );
            if ( a.iType == AIVariable::TypeNumber ) oPool.Request ( 32 );
            FUZZ_CHECK ( ( a == s ) == e, "== text on tag %d", a.iType );
            if ( a.iType == AIVariable::TypeNumber ) oPool.Request ( 32 );
            FUZZ_CHECK ( ( a != s ) == !e, "!= text on tag %d", a.iType );
        }

        void CheckOrdering ( const AIVariable &a, const AIVariable &b )
        {
            const float x = ModelNumber ( a ), y = ModelNumber ( b );
            FUZZ_CHECK ( ( a < b ) == ( x < y ) && ( a <= b ) == ( x <= y ) && ( a > b ) == ( x > y ) && ( a >= b ) == ( x >= y ),
                         "ordering of %a and %a", x, y );
            if ( std::isnan ( x ) || std::isnan ( y ) )
                FUZZ_CHECK ( !( a < b ) && !( a <= b ) && !( a > b ) && !( a >= b ), "NaN orders nothing" );
            FUZZ_CHECK ( ( a < b ) == ( b > a ) && ( a <= b ) == ( b >= a ), "ordering is mirrored" );
        }

        void CheckArithmetic ( const AIVariable &a, const AIVariable &b )
        {
            const float x = ModelNumber ( a ), y = ModelNumber ( b );
            CheckIsNumber ( a + b, x + y, "+" );
            CheckIsNumber ( a - b, x - y, "-" );
            CheckIsNumber ( a * b, x * y, "*" );
            CheckIsNumber ( a / b, x / y, "/" );
            AIVariable c = a; c += b; CheckIsNumber ( c, x + y, "+=" );
            c = a; c -= b; CheckIsNumber ( c, x - y, "-=" );
            c = a; c *= b; CheckIsNumber ( c, x * y, "*=" );
            c = a; c /= b; CheckIsNumber ( c, x / y, "/=" );
            c = a; c += c; CheckIsNumber ( c, x + x, "+= itself" );
        }

        template < class T > void CheckScalar ( const AIVariable &a, T v )
        {
            const float x = ModelNumber ( a ), y = ScalarToFloat ( v );
            const bool e = a.iType == AIVariable::TypeNumber && a.fNumberValue == y;
            FUZZ_CHECK ( ( a == v ) == e && ( a != v ) == !e, "== scalar %a on tag %d", y, a.iType );
            FUZZ_CHECK ( ( a < v ) == ( x < y ) && ( a <= v ) == ( x <= y ) && ( a > v ) == ( x > y ) && ( a >= v ) == ( x >= y ),
                         "ordering of %a and scalar %a", x, y );
            CheckIsNumber ( a + v, x + y, "+ scalar" );
            CheckIsNumber ( a - v, x - y, "- scalar" );
            CheckIsNumber ( a * v, x * y, "* scalar" );
            CheckIsNumber ( a / v, x / y, "/ scalar" );
            AIVariable c = a; c += v; CheckIsNumber ( c, x + y, "+= scalar" );
            c = a; c -= v; CheckIsNumber ( c, x - y, "-= scalar" );
            c = a; c *= v; CheckIsNumber ( c, x * y, "*= scalar" );
            c = a; c /= v; CheckIsNumber ( c, x / y, "/= scalar" );
            CheckJoin ( a, AIVariable ( v ), [&] { return a << v; } );
            SyncCheck ( "join with a scalar" );
        }

        void CheckScalars ( const AIVariable &a )
        {
            switch ( in.ConsumeIntegralInRange<int>( 0, 6 ) )
            {
            case 0: CheckScalar ( a, in.ConsumeIntegral<signed char>( ) ); break;
            case 1: CheckScalar ( a, in.ConsumeIntegral<unsigned char>( ) ); break;
            case 2: CheckScalar ( a, in.ConsumeIntegral<short>( ) ); break;
            case 3: CheckScalar ( a, in.ConsumeIntegral<unsigned short>( ) ); break;
            case 4: CheckScalar ( a, in.ConsumeIntegral<int>( ) ); break;
            case 5: CheckScalar ( a, in.ConsumeIntegral<unsigned int>( ) ); break;
            default: CheckScalar ( a, NewFloat ( ) ); break;
            }
        }

        // One request; the piece must lie where the rule says, wholly inside
        // the pool, and be handed out uncleared.
        void Request ( unsigned int n, bool bFill )
        {
            const unsigned int iBefore = oPool.iCursor;
            const long o = oPool.Request ( n );
            // The bytes a wrap skips, to see that nothing clears them.
            char aTail [ 16 ];
            const size_t nTail = std::min<size_t>( sizeof aTail, kPoolSize - iBefore );
            std::memcpy ( aTail, pPool + iBefore, nTail );
            char *p = AIVariable::GetStringPoolBuffer ( n );
            if ( o < 0 )
            {
                FUZZ_CHECK ( p == nullptr, "a request of %u bytes, larger than the pool, yields null", n );
                SyncCheck ( "a refused request leaves the cursor" );
                return;
            }
            FUZZ_CHECK ( p == pPool + o && InPool ( p, n ), "request of %u at cursor %u: offset %ld, expected %ld", n, iBefore,
                         InPool ( p, 0 ) ? long ( p - pPool ) : -1L, o );
            FUZZ_CHECK ( std::memcmp ( aTail, pPool + iBefore, nTail ) == 0, "a request clears nothing" );
            // The caller's part: a text, NUL included.
            if ( n )
            {
                if ( bFill ) std::memset ( p, 'q', n - 1 );
                p[n - 1] = 0;
            }
        }

        void Step ( )
        {
            switch ( in.ConsumeIntegralInRange<int>( 0, 12 ) )
            {
            case 0: { AIVariable &r = Reg ( ); r = NewVariable ( ); CheckReads ( r ); break; }
            case 1: CheckNumberText ( Reg ( ) ); break;
            case 2: { const AIVariable a = Reg ( ), b = Reg ( ); Reg ( ) = CheckJoin ( a, b, [&] { return AIVariable::Concat ( a, b ); } ); break; }
            case 3: { const AIVariable a = Reg ( ), b = Reg ( ); CheckJoin ( a, b, [&] { return a << b; } ); break; }
            case 4: { const AIVariable &a = Reg ( ), &b = Reg ( ); CheckEquality ( a, b ); CheckOrdering ( a, b ); break; }
            case 5: CheckTextEquality ( Reg ( ) ); break;
            case 6: CheckScalars ( Reg ( ) ); break;
            case 7: { const AIVariable &a = Reg ( ), &b = Reg ( ); CheckArithmetic ( a, b ); break; }
            case 8:
            {
                // Compound assignment on a register: whatever it held, a number.
                AIVariable &a = Reg ( );
                const AIVariable b = Reg ( );
                const float x = ModelNumber ( a ), y = ModelNumber ( b );
                switch ( in.ConsumeIntegralInRange<int>( 0, 3 ) )
                {
                case 0:  a += b; CheckIsNumber ( a, x + y, "+= register" ); break;
                case 1:  a -= b; CheckIsNumber ( a, x - y, "-= register" ); break;
                case 2:  a *= b; CheckIsNumber ( a, x * y, "*= register" ); break;
                default: a /= b; CheckIsNumber ( a, x / y, "/= register" ); break;
                }
                break;
            }
            case 9:
            {
                unsigned int n;
                switch ( in.ConsumeIntegralInRange<int>( 0, 4 ) )
                {
                case 0:  n = in.ConsumeIntegralInRange<unsigned int>( 0, 64 ); break;
                case 1:  n = kPoolSize - 64 + in.ConsumeIntegralInRange<unsigned int>( 0, 128 ); break;
                case 2:  n = in.ConsumeIntegral<unsigned int>( ); break;
                case 3:  n = in.ConsumeIntegralInRange<unsigned int>( 0, kPoolSize ); break;
                default: n = kPoolSize - oPool.iCursor + in.ConsumeIntegralInRange<unsigned int>( 0, 4 ) - 2; break;
                }
                Request ( n, in.ConsumeBool ( ) );
                break;
            }
            case 10:
            {
                // Many small requests: the pool wraps again and again.
                const unsigned int n = in.ConsumeIntegralInRange<unsigned int>( 1, 8192 );
                const unsigned int m = in.ConsumeIntegralInRange<unsigned int>( 1, 4096 );
                for ( unsigned int i = 0; i < m; ++i ) Request ( n, false );
                break;
            }
            case 11:
            {
                // Joins that feed on their own results, as a script builds a text.
                AIVariable &a = Reg ( );
                const unsigned int m = in.ConsumeIntegralInRange<unsigned int>( 1, 64 );
                for ( unsigned int i = 0; i < m && in.remaining_bytes ( ); ++i )
                {
                    const AIVariable b = NewVariable ( );
                    const AIVariable l = a;
                    a = in.ConsumeBool ( ) ? CheckJoin ( l, b, [&] { return l << b; } ) : CheckJoin ( b, l, [&] { return b << l; } );
                }
                break;
            }
            default: CheckReads ( Reg ( ) ); break;
            }
            SyncCheck ( "after a step" );
        }

    };
}

extern "C" int LLVMFuzzerInitialize ( int *, char *** )
{
    pPool = AIVariable::GetStringPoolBuffer ( kPoolSize );
    FUZZ_CHECK ( pPool != nullptr, "a request of the whole pool succeeds" );
    pPool[kPoolSize - 1] = 0;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput ( const uint8_t *pData, size_t nSize )
{
    FuzzedDataProvider in ( pData, nSize );
    Machine m ( in );
    while ( in.remaining_bytes ( ) ) m.Step ( );
    return 0;
}
