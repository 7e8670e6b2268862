// Cutting card texts down to what can reach the card: a cap on the units
// laid out at all, lines cut past the right edge, and the tail of a
// right-aligned text, each found by measuring pieces of doubling length.

#include "core/text_reach.h"

#include <algorithm>

namespace kestrine {

namespace {

// Where the first line break at or after `from` is; the text's size if none.
std::size_t lineEnd(std::wstring_view text, std::size_t from) {
    while (from < text.size() && !isLineBreak(text[from])) {
        ++from;
    }
    return from;
}

// How much of one line (no break in it) to keep.
std::size_t visibleLineEnd(std::wstring_view line, double room, const MeasureWidth& measure) {
    if (line.size() <= UNMEASURED_LINE_UNITS) {
        return line.size();
    }
    for (std::size_t length = UNMEASURED_LINE_UNITS; length < line.size(); length *= 2) {
        const std::size_t end = pairSafeEnd(line, length);
        if (end >= line.size()) {
            break;
        }
        if (measure(line.substr(0, end)) > room) {
            return end;
        }
    }
    return line.size();
}

}  // namespace

bool isHighSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }

bool isLowSurrogate(wchar_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

std::size_t pairSafeEnd(std::wstring_view text, std::size_t end) {
    if (end > 0 && end < text.size() && isHighSurrogate(text[end - 1]) &&
        isLowSurrogate(text[end])) {
        return end + 1;
    }
    return end;
}

std::size_t pairSafeStart(std::wstring_view text, std::size_t start) {
    if (start > 0 && start < text.size() && isLowSurrogate(text[start]) &&
        isHighSurrogate(text[start - 1])) {
        return start - 1;
    }
    return start;
}

bool isLineBreak(wchar_t c) {
    return c == L'\n' || c == L'\r' || c == L'\v' || c == L'\f' || c == 0x0085 || c == 0x2028 ||
           c == 0x2029;
}

std::wstring_view leadingText(const std::wstring& text) {
    const std::wstring_view whole(text);
    const std::wstring_view head = whole.substr(0, TEXT_UNIT_LIMIT);
    const std::size_t nul = head.find(L'\0');
    if (nul != std::wstring_view::npos) {
        return head.substr(0, nul);
    }
    return whole.substr(0, pairSafeEnd(whole, head.size()));
}

std::wstring_view trailingText(const std::wstring& text) {
    // Finding the end is one pass over the text at memory speed; nothing
    // before the last TEXT_UNIT_LIMIT units is laid out.
    const std::wstring_view whole(text);
    const std::wstring_view drawn = whole.substr(0, std::min(whole.find(L'\0'), whole.size()));
    const std::size_t start =
        drawn.size() > TEXT_UNIT_LIMIT ? pairSafeStart(drawn, drawn.size() - TEXT_UNIT_LIMIT) : 0;
    return drawn.substr(start);
}

std::wstring visibleFromLeft(std::wstring_view text, double room, std::size_t maxLines,
                             const MeasureWidth& measure) {
    const std::size_t lineLimit = std::max<std::size_t>(maxLines, 1);
    std::wstring visible;
    std::size_t lines = 0;
    std::size_t start = 0;
    while (lines < lineLimit) {
        const std::size_t end = lineEnd(text, start);
        const std::wstring_view line = text.substr(start, end - start);
        visible.append(line.substr(0, visibleLineEnd(line, room, measure)));
        ++lines;
        if (end == text.size() || lines == lineLimit) {
            break;
        }
        // CR LF is one break, as the layout takes it.
        std::size_t next = end + 1;
        if (text[end] == L'\r' && next < text.size() && text[next] == L'\n') {
            ++next;
        }
        visible.append(text.substr(end, next - end));
        start = next;
    }
    return visible;
}

std::size_t visibleTailStart(std::wstring_view text, double room, const MeasureWidth& measure) {
    if (text.size() <= UNMEASURED_LINE_UNITS || lineEnd(text, 0) != text.size()) {
        return 0;
    }
    for (std::size_t length = UNMEASURED_LINE_UNITS; length < text.size(); length *= 2) {
        const std::size_t start = pairSafeStart(text, text.size() - length);
        if (start == 0) {
            break;
        }
        if (measure(text.substr(start)) > room) {
            return start;
        }
    }
    return 0;
}

}  // namespace kestrine
