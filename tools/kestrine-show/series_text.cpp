// Series text for the command-line host: byte decoding with mark detection and
// the line-by-line reading of pairs into the ShowKestrine series form. Plain
// C++ with no Windows header, so that it is tested natively and under Wine.
#include "series_text.h"

#include <algorithm>
#include <cstdint>

namespace kestrine {

namespace {

constexpr char32_t REPLACEMENT = 0xFFFD;

// Appends one code point in the width of this platform's wchar_t: UTF-16 on
// Windows (surrogate pairs above U+FFFF), UTF-32 elsewhere.
void appendCodePoint(std::wstring& text, char32_t code) {
    if (sizeof(wchar_t) == 2 && code > 0xFFFF) {
        code -= 0x10000;
        text.push_back(static_cast<wchar_t>(0xD800 + (code >> 10)));
        text.push_back(static_cast<wchar_t>(0xDC00 + (code & 0x3FF)));
    } else {
        text.push_back(static_cast<wchar_t>(code));
    }
}

void decodeUtf8(const char* bytes, size_t size, std::wstring& text) {
    size_t i = 0;
    while (i < size) {
        const unsigned char lead = static_cast<unsigned char>(bytes[i]);
        if (lead < 0x80) {
            text.push_back(static_cast<wchar_t>(lead));
            ++i;
            continue;
        }
        int length = 0;
        char32_t code = 0;
        char32_t minimum = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2, code = lead & 0x1F, minimum = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3, code = lead & 0x0F, minimum = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4, code = lead & 0x07, minimum = 0x10000;
        }
        size_t taken = 1;
        bool valid = length != 0;
        for (int k = 1; valid && k < length; ++k) {
            if (i + k >= size) {
                valid = false;
                break;
            }
            const unsigned char next = static_cast<unsigned char>(bytes[i + k]);
            if ((next & 0xC0) != 0x80) {
                valid = false;
                break;
            }
            code = (code << 6) | (next & 0x3F);
            ++taken;
        }
        // Overlong forms, surrogates and code points past U+10FFFF are not
        // UTF-8; the bytes read so far become one replacement character.
        if (valid && (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))) {
            valid = false;
        }
        appendCodePoint(text, valid ? code : REPLACEMENT);
        i += taken;
    }
}

void decodeUtf16(const char* bytes, size_t size, bool bigEndian, std::wstring& text) {
    auto unitAt = [&](size_t i) {
        const unsigned char a = static_cast<unsigned char>(bytes[i]);
        const unsigned char b = static_cast<unsigned char>(bytes[i + 1]);
        return static_cast<char32_t>(bigEndian ? (a << 8) | b : (b << 8) | a);
    };
    for (size_t i = 0; i + 1 < size; i += 2) {
        char32_t unit = unitAt(i);
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < size) {
            const char32_t low = unitAt(i + 2);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                appendCodePoint(text, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                i += 2;
                continue;
            }
        }
        if (unit >= 0xD800 && unit <= 0xDFFF) unit = REPLACEMENT;
        appendCodePoint(text, unit);
    }
}

bool isBlank(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\v' || c == L'\f' || c == 0xFEFF || c == 0x3000;
}

std::wstring trim(const std::wstring& text, size_t begin, size_t end) {
    while (begin < end && isBlank(text[begin])) ++begin;
    while (end > begin && isBlank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

bool isDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

bool equalsIgnoringCase(const std::wstring& text, size_t from, const wchar_t* word) {
    size_t i = from;
    for (; *word != 0; ++word, ++i) {
        if (i >= text.size()) return false;
        wchar_t c = text[i];
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
        if (c != *word) return false;
    }
    return i == text.size();
}

// One item ("x:y" or "x,y"); returns the canonical "x:y" or an empty string.
std::wstring readItem(const std::wstring& item) {
    size_t separator = std::wstring::npos;
    for (size_t i = 0; i < item.size(); ++i) {
        if (item[i] == L':' || item[i] == L',') {
            if (separator != std::wstring::npos) return std::wstring();
            separator = i;
        }
    }
    if (separator == std::wstring::npos) return std::wstring();
    const std::wstring x = trim(item, 0, separator);
    const std::wstring y = trim(item, separator + 1, item.size());
    if (!isSeriesNumber(x) || !isSeriesNumber(y)) return std::wstring();
    return x + L":" + y;
}

}  // namespace

TextEncoding detectEncoding(const char* bytes, size_t size, size_t& markLength) {
    const auto byteAt = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
    markLength = 0;
    if (size >= 3 && byteAt(0) == 0xEF && byteAt(1) == 0xBB && byteAt(2) == 0xBF) {
        markLength = 3;
        return TextEncoding::UTF8;
    }
    if (size >= 2 && byteAt(0) == 0xFF && byteAt(1) == 0xFE) {
        markLength = 2;
        return TextEncoding::UTF16LE;
    }
    if (size >= 2 && byteAt(0) == 0xFE && byteAt(1) == 0xFF) {
        markLength = 2;
        return TextEncoding::UTF16BE;
    }
    // Text without a mark that holds zero bytes can only be UTF-16: in
    // ASCII-heavy text the zero halves sit at odd offsets when the text is
    // little-endian, at even offsets when it is big-endian.
    size_t zerosAtEven = 0;
    size_t zerosAtOdd = 0;
    for (size_t i = 0; i < size; ++i) {
        if (bytes[i] == 0) ++(i % 2 == 0 ? zerosAtEven : zerosAtOdd);
    }
    if (zerosAtEven + zerosAtOdd == 0) return TextEncoding::UTF8;
    return zerosAtEven > zerosAtOdd ? TextEncoding::UTF16BE : TextEncoding::UTF16LE;
}

void decodeAs(TextEncoding encoding, const char* bytes, size_t size, std::wstring& text) {
    if (encoding == TextEncoding::UTF8) {
        decodeUtf8(bytes, size, text);
    } else {
        decodeUtf16(bytes, size, encoding == TextEncoding::UTF16BE, text);
    }
}

bool decodeText(const std::string& bytes, std::wstring& text, std::wstring& error) {
    text.clear();
    error.clear();
    size_t mark = 0;
    const TextEncoding encoding = detectEncoding(bytes.data(), bytes.size(), mark);
    if (encoding != TextEncoding::UTF8 && bytes.size() % 2 != 0) {
        error = L"UTF-16 text with an odd number of bytes";
        return false;
    }
    decodeAs(encoding, bytes.data() + mark, bytes.size() - mark, text);
    if (text.find(L'\0') != std::wstring::npos) {
        text.clear();
        error = L"a NUL character in the text";
        return false;
    }
    return true;
}

bool isSeriesNumber(const std::wstring& text) {
    size_t i = 0;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) ++i;
    // "nan" marks a point the curve skips; an infinity has no place on an axis.
    if (equalsIgnoringCase(text, i, L"nan")) return true;
    size_t digits = 0;
    while (i < text.size() && isDigit(text[i])) ++i, ++digits;
    if (i < text.size() && text[i] == L'.') {
        ++i;
        while (i < text.size() && isDigit(text[i])) ++i, ++digits;
    }
    if (digits == 0) return false;
    if (i < text.size() && (text[i] == L'e' || text[i] == L'E')) {
        ++i;
        if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) ++i;
        size_t exponentDigits = 0;
        while (i < text.size() && isDigit(text[i])) ++i, ++exponentDigits;
        if (exponentDigits == 0) return false;
    }
    return i == text.size();
}

bool appendSeriesLine(const std::wstring& line, std::wstring& series, size_t& points,
                      std::wstring& error) {
    const size_t contentEnd = std::min(line.find(L'#'), line.size());
    const size_t seriesSize = series.size();
    size_t added = 0;
    size_t itemStart = 0;
    while (itemStart <= contentEnd) {
        size_t itemEnd = line.find(L';', itemStart);
        if (itemEnd == std::wstring::npos || itemEnd > contentEnd) itemEnd = contentEnd;
        const std::wstring item = trim(line, itemStart, itemEnd);
        if (!item.empty()) {
            const std::wstring pair = readItem(item);
            if (pair.empty()) {
                series.resize(seriesSize);
                error = L"\"" + item + L"\" is not a pair of numbers (x:y or x,y)";
                return false;
            }
            if (points + added != 0) series.push_back(L';');
            series += pair;
            ++added;
        }
        itemStart = itemEnd + 1;
    }
    points += added;
    return true;
}

NormalisedSeries normaliseSeries(const std::wstring& text) {
    NormalisedSeries result;
    size_t line = 1;
    size_t lineStart = 0;
    for (;;) {
        size_t lineEnd = lineStart;
        while (lineEnd < text.size() && text[lineEnd] != L'\n' && text[lineEnd] != L'\r') ++lineEnd;
        std::wstring error;
        if (!appendSeriesLine(text.substr(lineStart, lineEnd - lineStart), result.series,
                              result.points, error)) {
            result.series.clear();
            result.points = 0;
            result.error = L"line " + std::to_wstring(line) + L": " + error;
            return result;
        }
        if (lineEnd >= text.size()) break;
        // CRLF is one line break; a lone CR or LF is one as well.
        lineStart = lineEnd + 1;
        if (text[lineEnd] == L'\r' && lineStart < text.size() && text[lineStart] == L'\n') ++lineStart;
        ++line;
    }
    return result;
}

}  // namespace kestrine
