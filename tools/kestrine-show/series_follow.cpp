// Following a growing series source: encoding decided from its first bytes,
// lines cut from raw bytes (so that a partial character or a partial line
// simply waits), each complete line read as the whole-file reader reads one.
#include "series_follow.h"

#include <cmath>
#include <cwchar>

#include "core/labels.h"

namespace kestrine {

namespace {

constexpr wchar_t LF = L'\n';
constexpr wchar_t CR = L'\r';

}  // namespace

void SeriesFollower::feed(const char* bytes, size_t size) {
    pending_.append(bytes, size);
    readLines(false);
}

void SeriesFollower::finish() { readLines(true); }

void SeriesFollower::restart() {
    pending_.clear();
    encodingKnown_ = false;
    encoding_ = TextEncoding::UTF8;
    afterCr_ = false;
    skippingLong_ = false;
    line_ = 0;
    series_.clear();
    points_ = 0;
    ++revision_;
    hasLastY_ = false;
    lastY_ = 0.0;
}

std::vector<std::wstring> SeriesFollower::takeReports() {
    std::vector<std::wstring> reports;
    reports.swap(reports_);
    return reports;
}

void SeriesFollower::readLines(bool sourceEnded) {
    if (!encodingKnown_) {
        // Four bytes tell a mark or UTF-16's zero halves apart; a line break
        // or the end of the source tells it for shorter text.
        const bool lineBreakSeen = pending_.find_first_of("\r\n") != std::string::npos;
        if (!sourceEnded && pending_.size() < 4 && !lineBreakSeen) return;
        size_t mark = 0;
        encoding_ = detectEncoding(pending_.data(), pending_.size(), mark);
        pending_.erase(0, mark);
        encodingKnown_ = true;
    }
    const size_t unit = encoding_ == TextEncoding::UTF8 ? 1 : 2;
    const auto unitAt = [&](size_t i) -> wchar_t {
        const unsigned char a = static_cast<unsigned char>(pending_[i]);
        if (unit == 1) return static_cast<wchar_t>(a);
        const unsigned char b = static_cast<unsigned char>(pending_[i + 1]);
        return static_cast<wchar_t>(encoding_ == TextEncoding::UTF16BE ? (a << 8) | b : (b << 8) | a);
    };

    size_t start = 0;
    if (afterCr_ && pending_.size() >= unit) {
        if (unitAt(0) == LF) start = unit;
        afterCr_ = false;
    }
    size_t i = start;
    while (i + unit <= pending_.size()) {
        const wchar_t c = unitAt(i);
        if (c != LF && c != CR) {
            i += unit;
            continue;
        }
        readLine(start, i);
        start = i + unit;
        if (c == CR) {
            if (start + unit <= pending_.size()) {
                if (unitAt(start) == LF) start += unit;
            } else {
                afterCr_ = true;  // the LF of a CRLF may still be on its way
            }
        }
        i = start;
    }
    if (sourceEnded) {
        if (pending_.size() - start >= unit) readLine(start, pending_.size());
        pending_.clear();
        afterCr_ = false;
        return;
    }
    pending_.erase(0, start);
    if (pending_.size() > MAX_FOLLOWED_LINE_BYTES) {
        if (!skippingLong_) {
            // Reported while it is still being read: it is the next line.
            skipLine(line_ + 1, L"longer than " + std::to_wstring(MAX_FOLLOWED_LINE_BYTES / 1024) +
                     L" KB without a line break");
            skippingLong_ = true;
        }
        // Whole units go; half of a UTF-16 unit stays with the rest of it.
        pending_.erase(0, pending_.size() - pending_.size() % unit);
    }
}

void SeriesFollower::readLine(size_t begin, size_t end) {
    ++line_;
    if (skippingLong_) {
        skippingLong_ = false;  // the end of a line reported already
        return;
    }
    std::wstring text;
    decodeAs(encoding_, pending_.data() + begin, end - begin, text);
    if (text.find(L'\0') != std::wstring::npos) {
        skipLine(line_, L"a NUL character in the line");
        return;
    }
    const size_t seriesFrom = series_.size();
    const size_t pointsBefore = points_;
    std::wstring error;
    if (!appendSeriesLine(text, series_, points_, error)) {
        skipLine(line_, error);
        return;
    }
    if (points_ != pointsBefore) {
        ++revision_;
        if (lastFiniteY(series_, seriesFrom, lastY_)) hasLastY_ = true;
    }
}

void SeriesFollower::skipLine(size_t number, const std::wstring& reason) {
    reports_.push_back(L"line " + std::to_wstring(number) + L": " + reason);
    ++skipped_;
}

bool lastFiniteY(const std::wstring& series, size_t from, double& y) {
    // The items are canonical "x:y" with plain decimals or nan, which wcstod
    // reads alike in every C runtime.
    bool found = false;
    size_t item = from;
    while (item < series.size()) {
        if (series[item] == L';') ++item;
        size_t end = series.find(L';', item);
        if (end == std::wstring::npos) end = series.size();
        const size_t colon = series.find(L':', item);
        if (colon < end) {
            const double value = std::wcstod(series.substr(colon + 1, end - colon - 1).c_str(), nullptr);
            if (std::isfinite(value)) {
                found = true;
                y = value;
            }
        }
        item = end;
    }
    return found;
}

std::wstring formatSignedValue(double y) {
    std::wstring text = formatAxisValue(y);
    if (text == L"-0") return L"0";
    if (y > 0.0 && text != L"0") text.insert(text.begin(), L'+');
    return text;
}

std::wstring applyValueFormat(const std::wstring& format, double y) {
    static const std::wstring PLACEHOLDER = L"{y}";
    std::wstring result;
    size_t from = 0;
    for (size_t at = format.find(PLACEHOLDER); at != std::wstring::npos;
         at = format.find(PLACEHOLDER, from)) {
        result.append(format, from, at - from);
        result += formatSignedValue(y);
        from = at + PLACEHOLDER.size();
    }
    result.append(format, from, std::wstring::npos);
    return result;
}

}  // namespace kestrine
