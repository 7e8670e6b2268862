// Number and time label formatting: a printf-style formatter into a bounded
// wide buffer and the whole-number axis labels with thousands separators.
// Locale-independent and identical on every C runtime: nothing here calls one.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>

namespace kestrine {

constexpr size_t AXIS_LABEL_BUFFER = 64;

// printf-style formatting into buffer[capacity], always terminated when
// capacity > 0 (at most capacity - 1 characters are written, the rest is cut);
// capacity 0 leaves the buffer untouched. Returns the length of the complete
// result whether or not it fitted, or -1 when that exceeds INT_MAX.
//
// Supports flags "-+ 0#", width and precision (digits or "*"), length
// modifiers hh h l ll z j t L, and the conversions d i u o x X c s f F e E g G
// and "%%". %s and %ls take a wide string, %hs a narrow one (bytes widened
// one by one); a null string prints "(null)". %c takes a wide character.
// Doubles are rounded from their exact binary value, ties to even (unlike
// msvcrt, which rounds halves away from zero); L takes a long double and
// formats it at double precision. Infinity and NaN print as "inf"/"nan"
// ("INF"/"NAN" for F, E, G) with their sign. An unknown conversion is copied
// literally; %n is not supported and is copied too. A null format gives "".
int formatBounded(wchar_t* buffer, size_t capacity, const wchar_t* format, ...);
int formatBoundedV(wchar_t* buffer, size_t capacity, const wchar_t* format, va_list args);

// A value of the y axis or a numeric x axis as a whole number with "," between
// groups of three digits: 1234567 gives "1,234,567", -0.4 gives "-0", halves
// round to even. Infinity and NaN pass through as "inf", "-inf" and "nan"
// (the axis code never produces them). Text beyond 63 characters (values from
// about 1e63) is cut before grouping.
std::wstring formatAxisValue(double value);

// A run of digits with "," between groups of three, counted from the right:
// "1234567" gives "1,234,567"; no leading separator. The axis labels and the
// readout both group this way.
std::wstring groupThousands(const wchar_t* digits, size_t length);

}  // namespace kestrine
