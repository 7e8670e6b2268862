// Following a series source that grows while the card is open: bytes arrive
// in pieces of any size, complete lines become points, a line that is not a
// point is reported once and skipped, and the headline value can be made from
// the last point. No Windows header, so that it is tested natively and under
// Wine; the program only moves bytes and shows what this holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "series_text.h"

namespace kestrine {

// A line longer than this without its newline is not a point; it is reported
// and skipped up to its end rather than held in memory.
constexpr size_t MAX_FOLLOWED_LINE_BYTES = 64 * 1024;

class SeriesFollower {
public:
    // Takes the next bytes of the source. Every line that is complete (ended
    // by LF, CR or CRLF) is read; the rest waits for more.
    void feed(const char* bytes, size_t size);
    // The source has ended: a last line without its line break counts.
    void finish();
    // The source starts again from nothing (truncated or replaced): points,
    // line numbers and the encoding are forgotten. The skipped count stays.
    void restart();

    // "x:y" items joined by ";", as ShowKestrine takes them.
    const std::wstring& series() const { return series_; }
    size_t points() const { return points_; }
    // Changes whenever the points change; compare to see whether to update.
    uint64_t revision() const { return revision_; }
    size_t skippedLines() const { return skipped_; }
    // y of the last point that has a number for y (nan points do not count).
    bool hasLastY() const { return hasLastY_; }
    double lastY() const { return lastY_; }

    // The skipped lines reported since the last call, each "line N: ...".
    std::vector<std::wstring> takeReports();

private:
    void readLines(bool sourceEnded);
    void readLine(size_t begin, size_t end);
    void skipLine(size_t number, const std::wstring& reason);

    std::string pending_;  // bytes after the last complete line
    bool encodingKnown_ = false;
    TextEncoding encoding_ = TextEncoding::UTF8;
    bool afterCr_ = false;       // the last line ended in CR: an LF next belongs to it
    bool skippingLong_ = false;  // inside a too-long line, already reported
    size_t line_ = 0;            // lines completed so far
    std::wstring series_;
    size_t points_ = 0;
    uint64_t revision_ = 0;
    size_t skipped_ = 0;
    bool hasLastY_ = false;
    double lastY_ = 0.0;
    std::vector<std::wstring> reports_;
};

// y of the last item of series ("x:y" items joined by ";") from index from
// on whose y is a finite number. False when there is none.
bool lastFiniteY(const std::wstring& series, size_t from, double& y);

// y in the card's number style with its sign: "+48,250", "-1,200", "0".
std::wstring formatSignedValue(double y);

// format with every "{y}" replaced by formatSignedValue(y).
std::wstring applyValueFormat(const std::wstring& format, double y);

}  // namespace kestrine
