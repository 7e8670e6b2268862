// Which part of a card text can reach the card. A text is stored as the
// caller passed it, however long; what is measured and drawn is only the part
// that can show, so that a long text costs what a short one does. Portable:
// the measuring is passed in.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace kestrine {

// Most UTF-16 units of one text that are ever laid out. Up to this length a
// text shows exactly as if it were drawn whole; beyond it the rest is never
// looked at.
constexpr std::size_t TEXT_UNIT_LIMIT = 65536;

// Lines up to this many units are drawn without being measured first: they
// cost no more than measuring them would.
constexpr std::size_t UNMEASURED_LINE_UNITS = 256;

// Width of a text on one line, in the units of the caller's layout.
using MeasureWidth = std::function<double(std::wstring_view)>;

bool isHighSurrogate(wchar_t c);
bool isLowSurrogate(wchar_t c);

// Moves a cut that would fall between the halves of a surrogate pair past
// the pair (an end) or before it (a start).
std::size_t pairSafeEnd(std::wstring_view text, std::size_t end);
std::size_t pairSafeStart(std::wstring_view text, std::size_t start);

// Characters after which the layout starts a new line (LF, CR, VT, FF, NEL,
// LINE and PARAGRAPH SEPARATOR). Taking one too many is harmless: the cut
// part of a line lies beyond the card's edge either way.
bool isLineBreak(wchar_t c);

// The text up to its first NUL, and of that its first (leading) or its last
// (trailing) TEXT_UNIT_LIMIT units; never half a surrogate pair at the cut.
std::wstring_view leadingText(const std::wstring& text);
std::wstring_view trailingText(const std::wstring& text);

// A left-aligned text as far as it can show: each line cut after a prefix
// wider than `room` (whatever follows starts beyond it), and the lines after
// the first `maxLines` left out. Lines of up to UNMEASURED_LINE_UNITS units
// are kept whole without measuring; longer ones are measured by prefixes of
// doubling length, so measuring costs at most about twice the cut part.
std::wstring visibleFromLeft(std::wstring_view text, double room, std::size_t maxLines,
                             const MeasureWidth& measure);

// For a right-aligned text on one line: where the shortest tail wider than
// `room` starts (tails of doubling length are measured). 0 when the whole
// text is no wider, is short, or has more than one line: it is then placed
// as a whole.
std::size_t visibleTailStart(std::wstring_view text, double room, const MeasureWidth& measure);

}  // namespace kestrine
