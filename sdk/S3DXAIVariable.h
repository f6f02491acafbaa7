#pragma once
// S3DX::AIVariable: the one value type shared with the host's script engine,
// its coercions, its operators and the temporary string pool behind them.

#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "S3DXMacros.h"

namespace S3DX
{
    // Helpers of the value type. They are free functions rather than members
    // so that the class's member set, which is part of the Windows export
    // surface, stays exactly that of the host SDK.
    namespace Detail
    {
        typedef __UINTPTR_TYPE__ PayloadBits;

        // The payload's bits, read through its widest member.
        inline PayloadBits PayloadOf ( const void *pPayload )
        {
            PayloadBits i;
            memcpy ( &i, &pPayload, sizeof ( i ) );
            return i;
        }

        // True when the byte ranges [a, a + na) and [b, b + nb) share a byte.
        inline bool Overlaps ( const char *a, size_t na, const char *b, size_t nb )
        {
            const PayloadBits ia = reinterpret_cast<PayloadBits>( a ), ib = reinterpret_cast<PayloadBits>( b );
            return ia < ib + nb && ib < ia + na;
        }

        // True when the byte range [a, a + na) lies wholly inside [b, b + nb).
        inline bool Within ( const char *a, size_t na, const char *b, size_t nb )
        {
            const PayloadBits ia = reinterpret_cast<PayloadBits>( a ), ib = reinterpret_cast<PayloadBits>( b );
            return ia >= ib && na <= nb && ia - ib <= nb - na;
        }

        // Reverses the bytes [p, p + n) in place.
        inline void ReverseBytes ( char *p, size_t n )
        {
            for ( size_t i = 0; i + 1 < n - i; ++i )
            {
                const char c = p[i];
                p[i]         = p[n - 1 - i];
                p[n - 1 - i] = c;
            }
        }

        // Own loops instead of strlen/strcmp: the run time the Windows build
        // links against offers the memory functions but not the string ones.
        inline size_t TextLength ( const char *pText )
        {
            size_t n = 0;
            while ( pText[n] ) ++n;
            return n;
        }

        inline bool TextEquals ( const char *a, const char *b )
        {
            for ( ;; ++a, ++b )
            {
                if ( *a != *b ) return false;
                if ( *a == 0  ) return true;
            }
        }

        // Truncation toward zero to 32 bits; outside the range, and NaN, give
        // -2147483648, as the x86 conversion instruction does on every target.
        inline int TruncateToInt32 ( float f )
        {
            if ( f >= -2147483648.0f && f < 2147483648.0f ) return static_cast<int>( f );
            return -2147483647 - 1;
        }

        // Low 32 bits of the truncation toward zero to 64 bits; a magnitude of
        // 2^63 or more, an infinity and NaN give 0. Worked on the float's bits
        // so that no build needs a 64-bit conversion helper from a run time.
        inline unsigned int TruncateToLow32 ( float f )
        {
            if ( f > -2147483648.0f && f < 2147483648.0f )
                return static_cast<unsigned int>( static_cast<int>( f ) );
            if ( !( f > -9223372036854775808.0f && f < 9223372036854775808.0f ) )
                return 0;
            // Here 2^31 <= |f| < 2^63, so f is a whole number m * 2^e with e >= 8.
            unsigned int iBits;
            memcpy ( &iBits, &f, sizeof ( iBits ) );
            const int          e   = static_cast<int>( ( iBits >> 23 ) & 0xffu ) - 150;
            const unsigned int m   = ( iBits & 0x7fffffu ) | 0x800000u;
            const unsigned int low = e >= 32 ? 0u : m << e;
            return ( iBits >> 31 ) ? 0u - low : low;
        }

        // How every scalar operand becomes a float, the same as the constructors.
        constexpr float ToFloat ( signed char    v ) { return static_cast<float>( static_cast<int>( v ) ); }
        constexpr float ToFloat ( unsigned char  v ) { return static_cast<float>( static_cast<int>( v ) ); }
        constexpr float ToFloat ( short          v ) { return static_cast<float>( static_cast<int>( v ) ); }
        constexpr float ToFloat ( unsigned short v ) { return static_cast<float>( static_cast<int>( v ) ); }
        constexpr float ToFloat ( int            v ) { return static_cast<float>( v ); }
        constexpr float ToFloat ( unsigned int   v ) { return static_cast<float>( static_cast<double>( v ) ); }
        constexpr float ToFloat ( float          v ) { return v; }
    }

    // A script value: a type tag and a pointer-wide payload. Trivially
    // copyable; a variable never owns the text or object its payload points at.
    // Texts the type makes itself (number texts, joined texts) come from the
    // temporary string pool; see GetStringPoolBuffer for how long they last.
    // Operations that make text share the pool and are for one thread at a
    // time; everything else is plain data. [any thread, unless noted]
    class S3DX_API AIVariable
    {
    public:
        enum Type
        {
            TypeNil     = 0x00,
            TypeNumber  = 0x01,
            TypeString  = 0x02,
            TypeBoolean = 0x03,
            TypeHandle  = 0x80
        };

        // Construction: every integer becomes a 32-bit float; texts and
        // handles are borrowed, never copied.
        constexpr                    AIVariable ( )                  : iType ( TypeNil ),    pHandleValue ( nullptr ) { }
        S3DX_NUMBER_CONSTEXPR        AIVariable ( signed char    v ) : AIVariable ( Detail::ToFloat ( v ) ) { }
        S3DX_NUMBER_CONSTEXPR        AIVariable ( unsigned char  v ) : AIVariable ( Detail::ToFloat ( v ) ) { }
        S3DX_NUMBER_CONSTEXPR        AIVariable ( short          v ) : AIVariable ( Detail::ToFloat ( v ) ) { }
        S3DX_NUMBER_CONSTEXPR        AIVariable ( unsigned short v ) : AIVariable ( Detail::ToFloat ( v ) ) { }
        S3DX_NUMBER_CONSTEXPR        AIVariable ( int            v ) : AIVariable ( Detail::ToFloat ( v ) ) { }
        S3DX_NUMBER_CONSTEXPR        AIVariable ( unsigned int   v ) : AIVariable ( Detail::ToFloat ( v ) ) { }
        S3DX_NUMBER_CONSTEXPR        AIVariable ( float          v ) : iType ( TypeNumber ), pHandleValue ( nullptr ) { fNumberValue = v; }
        S3DX_NUMBER_CONSTEXPR        AIVariable ( const char    *v ) : iType ( TypeString ), pStringValue ( v )       { }
        S3DX_NUMBER_CONSTEXPR        AIVariable ( const void    *v ) : iType ( TypeHandle ), pHandleValue ( v )       { }
        S3DX_NUMBER_CONSTEXPR        AIVariable ( bool           v ) : iType ( TypeBoolean ), pHandleValue ( nullptr ) { bBooleanValue = v; }

        // Assignment does what the constructor from the same type does and
        // overwrites tag and payload entirely.
        AIVariable &operator = ( const AIVariable &v ) = default;
        AIVariable &operator = ( signed char    v ) { return *this = AIVariable ( v ); }
        AIVariable &operator = ( unsigned char  v ) { return *this = AIVariable ( v ); }
        AIVariable &operator = ( short          v ) { return *this = AIVariable ( v ); }
        AIVariable &operator = ( unsigned short v ) { return *this = AIVariable ( v ); }
        AIVariable &operator = ( int            v ) { return *this = AIVariable ( v ); }
        AIVariable &operator = ( unsigned int   v ) { return *this = AIVariable ( v ); }
        AIVariable &operator = ( float          v ) { return *this = AIVariable ( v ); }
        AIVariable &operator = ( const char    *v ) { return *this = AIVariable ( v ); }
        AIVariable &operator = ( const void    *v ) { return *this = AIVariable ( v ); }
        AIVariable &operator = ( bool           v ) { return *this = AIVariable ( v ); }

        // Returns the tag, zero-extended.
        Type        GetType           ( ) const { return static_cast<Type>( iType ); }

        // Returns the numeric value: a number as stored, a string's text parsed
        // strictly (0 when the whole text does not parse; parsed anew on every
        // read), 0 for every other tag.
        float       GetNumberValue    ( ) const
        {
            if ( iType == TypeNumber ) return fNumberValue;
            if ( iType == TypeString && pStringValue ) return StringToFloat ( pStringValue );
            return 0.0f;
        }

        // Returns a string's text ("" for a null pointer), a number's "%g" text
        // in the pool (32 fresh bytes on every call; one thread at a time), or
        // null for nil, booleans, handles and unknown tags.
        const char *GetStringValue    ( ) const
        {
            if ( iType == TypeString ) return pStringValue ? pStringValue : "";
            if ( iType == TypeNumber ) return FloatToString ( fNumberValue );
            return nullptr;
        }

        // Returns a boolean's stored byte; every other tag is true unless nil.
        bool        GetBooleanValue   ( ) const
        {
            if ( iType == TypeBoolean ) return *reinterpret_cast<const unsigned char *>( &bBooleanValue ) != 0;
            return iType != TypeNil;
        }

        // Returns a handle's pointer, null for every other tag.
        const void *GetHandleValue    ( ) const { return iType == TypeHandle ? pHandleValue : nullptr; }

        operator float          ( ) const { return GetNumberValue ( ); }
        operator bool           ( ) const { return GetBooleanValue ( ); }
        // The integer conversions truncate the numeric value toward zero; see
        // Detail::TruncateToInt32 and Detail::TruncateToLow32 for the limits.
        operator signed char    ( ) const { return static_cast<signed char>   ( Detail::TruncateToInt32 ( GetNumberValue ( ) ) ); }
        operator unsigned char  ( ) const { return static_cast<unsigned char> ( Detail::TruncateToInt32 ( GetNumberValue ( ) ) ); }
        operator short          ( ) const { return static_cast<short>         ( Detail::TruncateToInt32 ( GetNumberValue ( ) ) ); }
        operator unsigned short ( ) const { return static_cast<unsigned short>( Detail::TruncateToInt32 ( GetNumberValue ( ) ) ); }
        operator int            ( ) const { return Detail::TruncateToInt32 ( GetNumberValue ( ) ); }
        operator unsigned int   ( ) const { return Detail::TruncateToLow32 ( GetNumberValue ( ) ); }

        void        SetNil            ( )                 { SetType ( TypeNil ); }
        void        SetNumberValue    ( float v )         { SetType ( TypeNumber );  fNumberValue  = v; }
        void        SetStringValue    ( const char *v )   { iType = TypeString;      pStringValue  = v; }
        void        SetBooleanValue   ( bool v )          { SetType ( TypeBoolean ); bBooleanValue = v; }
        void        SetHandleValue    ( const void *v )   { iType = TypeHandle;      pHandleValue  = v; }

        bool        IsNil             ( ) const { return iType == TypeNil;     }
        bool        IsNumber          ( ) const { return iType == TypeNumber;  }
        bool        IsString          ( ) const { return iType == TypeString;  }
        bool        IsBoolean         ( ) const { return iType == TypeBoolean; }
        bool        IsHandle          ( ) const { return iType == TypeHandle;  }
        bool        CheckType         ( Type e ) const { return static_cast<unsigned int>( iType ) == static_cast<unsigned int>( e ); }

        // True for a number, and for a string whose whole text parses.
        bool        CanConvertToNumber ( ) const
        {
            if ( iType == TypeNumber ) return true;
            float f;
            return iType == TypeString && pStringValue && StringToFloat ( pStringValue, &f );
        }
        // True for a number and for every string, a null one included.
        bool        CanConvertToString ( ) const { return iType == TypeString || iType == TypeNumber; }

        // Hands out n bytes of the temporary string pool, or null when n is
        // larger than the whole pool (the cursor then stays put). A request
        // that does not fit behind the cursor starts again at the front. The
        // bytes are not cleared; the caller writes its text, NUL included, and
        // frees nothing. A piece stays intact until a later piece, after a
        // wrap, covers its bytes. No lock: one thread at a time.
        static char *GetStringPoolBuffer ( unsigned int iSize );

        // Joins the texts of two variables into a string variable. A side
        // without text (nil, boolean, handle) adds nothing; when only one side
        // has a text the result points at that very text; when both do, the
        // joined text lives in the pool, and the result is "" when it cannot
        // be had from the pool. One thread at a time.
        static AIVariable Concat ( const AIVariable &vLeft, const AIVariable &vRight )
        {
            const char *pLeft  = vLeft .GetStringValue ( );
            const char *pRight = vRight.GetStringValue ( );
            if ( !pLeft  ) return AIVariable ( pRight ? pRight : "" );
            if ( !pRight ) return AIVariable ( pLeft );

            const size_t nLeft  = Detail::TextLength ( pLeft  );
            const size_t nRight = Detail::TextLength ( pRight );
            // Sizes are checked before they are added or narrowed, so that no
            // sum can wrap around into a small request.
            if ( nLeft >= 0xffffffffu || nRight >= 0xffffffffu - nLeft ) return AIVariable ( "" );
            char *pOut = GetStringPoolBuffer ( static_cast<unsigned int>( nLeft + nRight + 1 ) );
            if ( !pOut ) return AIVariable ( "" );

            // After a wrap the new piece may cover texts that were themselves
            // taken from the front of the pool: copy in an order that reads
            // every source byte before it is overwritten.
            char *const pRightOut    = pOut + nLeft;
            const bool  bRightUnderL = Detail::Overlaps ( pRight, nRight + 1, pOut, nLeft );
            const bool  bLeftUnderR  = Detail::Overlaps ( pLeft, nLeft, pRightOut, nRight + 1 );
            if ( bRightUnderL && bLeftUnderR )
            {
                // Each source lies under the other's destination, so no copy
                // order works (a number's text joined before a long text at
                // the front of the pool does this). Two layouts are joined in
                // place anyway, writing only inside the new piece: one text
                // joined to itself (moved to the front, then copied behind
                // itself), and two separate texts both inside the piece, the
                // right one first (the two blocks swapped by three reversals,
                // then moved to the front). Any other layout gives the empty
                // text.
                const size_t n = nLeft + nRight + 1;
                if ( pLeft == pRight )
                {
                    memmove ( pOut, pLeft, nLeft );
                    memcpy ( pRightOut, pOut, nLeft );
                    pRightOut[nLeft] = 0;
                }
                else if ( Detail::Within ( pLeft, nLeft, pOut, n ) && Detail::Within ( pRight, nRight + 1, pOut, n )
                          && pRight < pLeft && !Detail::Overlaps ( pLeft, nLeft, pRight, nRight + 1 ) )
                {
                    char *const  pBlock = pOut + ( pRight - pOut );                 // writable: it lies in the piece
                    const size_t nFirst = static_cast<size_t>( pLeft - pRight );    // the right text, its NUL, the gap
                    Detail::ReverseBytes ( pBlock, nFirst );
                    Detail::ReverseBytes ( pBlock + nFirst, nLeft );
                    Detail::ReverseBytes ( pBlock, nFirst + nLeft );
                    memmove ( pOut, pBlock, n );
                }
                else return AIVariable ( "" );
                return AIVariable ( static_cast<const char *>( pOut ) );
            }
            if ( bRightUnderL )
            {
                memmove ( pRightOut, pRight, nRight + 1 );
                memmove ( pOut, pLeft, nLeft );
            }
            else if ( Detail::Overlaps ( pLeft, nLeft, pOut, nLeft ) || Detail::Overlaps ( pRight, nRight + 1, pRightOut, nRight + 1 ) )
            {
                memmove ( pOut, pLeft, nLeft );
                memmove ( pRightOut, pRight, nRight + 1 );
            }
            else
            {
                memcpy ( pOut, pLeft, nLeft );
                memcpy ( pRightOut, pRight, nRight + 1 );
            }
            return AIVariable ( static_cast<const char *>( pOut ) );
        }

        // Concatenation: Concat ( *this, right operand ).
        AIVariable operator << ( const AIVariable &v ) const { return Concat ( *this, v ); }

        // Equality with a variable: different tags are never equal; strings
        // compare their texts (null reads as ""); nils are always equal; other
        // tags compare the payload bit for bit (so 0 and -0 differ).
        bool operator == ( const AIVariable &v ) const
        {
            if ( iType != v.iType ) return false;
            if ( iType == TypeString )
                return Detail::TextEquals ( pStringValue ? pStringValue : "", v.pStringValue ? v.pStringValue : "" );
            if ( iType == TypeNil ) return true;
            return Detail::PayloadOf ( pHandleValue ) == Detail::PayloadOf ( v.pHandleValue );
        }
        bool operator != ( const AIVariable &v ) const { return !( *this == v ); }

        // Equality with a text: a string's text or a number's "%g" text (taken
        // from the pool), byte for byte. A null text pointer reads as "", as a
        // null string does between variables.
        bool operator == ( const char *s ) const
        {
            if ( iType != TypeString && iType != TypeNumber ) return false;
            return Detail::TextEquals ( GetStringValue ( ), s ? s : "" );
        }
        bool operator != ( const char *s ) const { return !( *this == s ); }

        // Equality with a bool: only a boolean with the same value.
        bool operator == ( bool b ) const
        {
            return iType == TypeBoolean && *reinterpret_cast<const unsigned char *>( &bBooleanValue ) == static_cast<unsigned char>( b );
        }
        bool operator != ( bool b ) const { return !( *this == b ); }

        // Ordering and arithmetic work on the numeric values, left first, in
        // single precision; NaN makes every ordering false.
        bool operator <  ( const AIVariable &v ) const { return GetNumberValue ( ) <  v.GetNumberValue ( ); }
        bool operator <= ( const AIVariable &v ) const { return GetNumberValue ( ) <= v.GetNumberValue ( ); }
        bool operator >  ( const AIVariable &v ) const { return GetNumberValue ( ) >  v.GetNumberValue ( ); }
        bool operator >= ( const AIVariable &v ) const { return GetNumberValue ( ) >= v.GetNumberValue ( ); }

        AIVariable operator + ( const AIVariable &v ) const { return AIVariable ( GetNumberValue ( ) + v.GetNumberValue ( ) ); }
        AIVariable operator - ( const AIVariable &v ) const { return AIVariable ( GetNumberValue ( ) - v.GetNumberValue ( ) ); }
        AIVariable operator * ( const AIVariable &v ) const { return AIVariable ( GetNumberValue ( ) * v.GetNumberValue ( ) ); }
        AIVariable operator / ( const AIVariable &v ) const { return AIVariable ( GetNumberValue ( ) / v.GetNumberValue ( ) ); }

        // Compound assignment always leaves a number behind.
        AIVariable &operator += ( const AIVariable &v ) { AIVariable t = *this + v; return *this = t; }
        AIVariable &operator -= ( const AIVariable &v ) { AIVariable t = *this - v; return *this = t; }
        AIVariable &operator *= ( const AIVariable &v ) { AIVariable t = *this * v; return *this = t; }
        AIVariable &operator /= ( const AIVariable &v ) { AIVariable t = *this / v; return *this = t; }

        // The same families against each numeric scalar, converted as the
        // constructors convert it. Against a scalar, equality holds only for a
        // number, by IEEE comparison (so 0 equals -0 and NaN equals nothing).
#define S3DX_AIVARIABLE_SCALAR_OPERATORS( T )                                                                               \
        AIVariable  operator << ( T v ) const { return Concat ( *this, AIVariable ( v ) ); }                                  \
        bool        operator == ( T v ) const { return iType == TypeNumber && fNumberValue == Detail::ToFloat ( v ); }        \
        bool        operator != ( T v ) const { return !( *this == v ); }                                                    \
        bool        operator <  ( T v ) const { return GetNumberValue ( ) <  Detail::ToFloat ( v ); }                        \
        bool        operator <= ( T v ) const { return GetNumberValue ( ) <= Detail::ToFloat ( v ); }                        \
        bool        operator >  ( T v ) const { return GetNumberValue ( ) >  Detail::ToFloat ( v ); }                        \
        bool        operator >= ( T v ) const { return GetNumberValue ( ) >= Detail::ToFloat ( v ); }                        \
        AIVariable  operator +  ( T v ) const { return AIVariable ( GetNumberValue ( ) + Detail::ToFloat ( v ) ); }          \
        AIVariable  operator -  ( T v ) const { return AIVariable ( GetNumberValue ( ) - Detail::ToFloat ( v ) ); }          \
        AIVariable  operator *  ( T v ) const { return AIVariable ( GetNumberValue ( ) * Detail::ToFloat ( v ) ); }          \
        AIVariable  operator /  ( T v ) const { return AIVariable ( GetNumberValue ( ) / Detail::ToFloat ( v ) ); }          \
        AIVariable &operator += ( T v )       { SetNumberValue ( GetNumberValue ( ) + Detail::ToFloat ( v ) ); return *this; } \
        AIVariable &operator -= ( T v )       { SetNumberValue ( GetNumberValue ( ) - Detail::ToFloat ( v ) ); return *this; } \
        AIVariable &operator *= ( T v )       { SetNumberValue ( GetNumberValue ( ) * Detail::ToFloat ( v ) ); return *this; } \
        AIVariable &operator /= ( T v )       { SetNumberValue ( GetNumberValue ( ) / Detail::ToFloat ( v ) ); return *this; }

        S3DX_AIVARIABLE_SCALAR_OPERATORS ( signed char    )
        S3DX_AIVARIABLE_SCALAR_OPERATORS ( unsigned char  )
        S3DX_AIVARIABLE_SCALAR_OPERATORS ( short          )
        S3DX_AIVARIABLE_SCALAR_OPERATORS ( unsigned short )
        S3DX_AIVARIABLE_SCALAR_OPERATORS ( int            )
        S3DX_AIVARIABLE_SCALAR_OPERATORS ( unsigned int   )
        S3DX_AIVARIABLE_SCALAR_OPERATORS ( float          )
#undef S3DX_AIVARIABLE_SCALAR_OPERATORS

        // Negation of the numeric value (so -nil is the number -0); unary plus
        // is a plain copy; ! is the negation of GetBooleanValue.
        AIVariable operator - ( ) const { return AIVariable ( -GetNumberValue ( ) ); }
        AIVariable operator + ( ) const { return *this; }
        bool       operator ! ( ) const { return !GetBooleanValue ( ); }

    private:
        // Stores the low byte of e as the tag and clears the whole payload.
        void        SetType           ( Type e ) { iType = static_cast<unsigned char>( e ); pHandleValue = nullptr; }

        // Strict parse: strtod, then nothing but blanks (0x20, 0x09 to 0x0D)
        // up to the NUL; *pOut is written only on success.
        bool        StringToFloat     ( const char *pText, float *pOut ) const
        {
            char         *pEnd = nullptr;
            const double  d    = strtod ( pText, &pEnd );
            if ( pEnd == pText ) return false;
            while ( *pEnd == ' ' || ( *pEnd >= '\t' && *pEnd <= '\r' ) ) ++pEnd;
            if ( *pEnd != 0 ) return false;
            *pOut = static_cast<float>( d );
            return true;
        }
        float       StringToFloat     ( const char *pText ) const
        {
            float f = 0.0f;
            StringToFloat ( pText, &f );
            return f;
        }

        // The value's "%g" text in 32 fresh bytes of the pool, or "" when the
        // pool cannot give them.
        const char *FloatToString     ( float f ) const
        {
            char *p = GetStringPoolBuffer ( 32 );
            if ( !p ) return "";
            snprintf ( p, 32, "%g", static_cast<double>( f ) );
            return p;
        }

        static char         *pStringPool;
        static unsigned int  iStringPoolSize;
        static unsigned int  iStringPoolCursor;

    public:
        // The fields, in the order and layout the host reads and writes.
        // Payload bytes the current tag does not use are zero.
        unsigned char iType;
        union
        {
            float       fNumberValue;
            const char *pStringValue;
            bool        bBooleanValue;
            const void *pHandleValue;
        };
    };

    static_assert ( sizeof  ( AIVariable ) == 2 * sizeof ( void * ), "a variable is a tag slot and a pointer-wide payload" );
    static_assert ( alignof ( AIVariable ) == alignof ( void * ),     "a variable is aligned as a pointer" );
    static_assert ( offsetof ( AIVariable, iType ) == 0,              "the tag is byte 0" );
    static_assert ( offsetof ( AIVariable, fNumberValue ) == sizeof ( void * ), "the payload follows at pointer width" );
    static_assert ( sizeof ( void * ) == 4 ? sizeof ( AIVariable ) == 8  : true, "8 bytes in the 32-bit builds" );
    static_assert ( sizeof ( void * ) == 8 ? sizeof ( AIVariable ) == 16 : true, "16 bytes in the 64-bit build" );

    // The nil constant. Internal linkage: every source unit holds its own copy,
    // nil from load on.
    static const AIVariable nil;
}
