// Series text for the command-line host: decoding a series file's bytes
// (UTF-8 or UTF-16, with or without a byte-order mark) and turning lines of
// "x:y" or "x,y" pairs into the ";"-separated form that ShowKestrine takes.
#pragma once

#include <cstddef>
#include <string>

namespace kestrine {

enum class TextEncoding { UTF8, UTF16LE, UTF16BE };

// The encoding of text that starts with these bytes, and the length of its
// byte-order mark (0 without one): the rules of decodeText, applied to a
// beginning that may be all there is so far.
TextEncoding detectEncoding(const char* bytes, size_t size, size_t& markLength);

// Appends size bytes in the given encoding to text, without any mark
// handling; invalid sequences become U+FFFD, an odd last byte is dropped.
void decodeAs(TextEncoding encoding, const char* bytes, size_t size, std::wstring& text);

// Decodes the bytes of a text file into wide text. A UTF-8 mark (EF BB BF) or
// UTF-16 mark (FF FE little-endian, FE FF big-endian) decides the encoding and
// is dropped. Without a mark, bytes that hold a zero byte are UTF-16 (the
// endianness is taken from where the zero bytes sit), anything else UTF-8.
// Bytes that are not valid UTF-8 become U+FFFD, so that a comment in another
// encoding does not spoil a file whose numbers are plain ASCII (a U+FFFD in a
// number is still rejected by normaliseSeries). On failure returns false with
// a short reason in error: UTF-16 text of an odd length, or a NUL character.
bool decodeText(const std::string& bytes, std::wstring& text, std::wstring& error);

struct NormalisedSeries {
    std::wstring series;  // "x:y" items joined by ";" (empty when no point)
    size_t points = 0;
    std::wstring error;   // empty on success; else "line N: ..." naming the item
};

// Reads series text: lines (LF, CRLF or CR), each holding one or more items
// separated by ";". Everything from "#" to the end of a line is a comment;
// blank items are skipped. An item is two numbers separated by one ":" or one
// ",": decimal ("-12.5", "1e3", ".5") or "nan" (a point the curve skips), with
// blanks around them allowed. Any other item, an infinity included, is an
// error naming its line, rather than a point silently read as zero.
NormalisedSeries normaliseSeries(const std::wstring& text);

// Reads one line of series text (no line break in it) as normaliseSeries
// does, appending its points to series (";" between items) and counting them
// in points. False, with nothing appended, when an item is not a point;
// error then says so in normaliseSeries's words without the line number.
bool appendSeriesLine(const std::wstring& line, std::wstring& series, size_t& points,
                      std::wstring& error);

// True when the whole of text (no blanks) is a number as normaliseSeries
// accepts it.
bool isSeriesNumber(const std::wstring& text);

}  // namespace kestrine
