// Number and time label formatting. formatBounded is a self-contained wide
// printf: C runtimes disagree on rounding (msvcrt rounds halves away from
// zero), on digits of large doubles and on what a cut result returns.
#include "core/labels.h"

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <cwchar>

namespace kestrine {

namespace {

// Characters go to the buffer while there is room; all are counted.
class Output {
public:
    Output(wchar_t* buffer, size_t capacity) : buffer_(buffer), capacity_(capacity) {}

    void put(wchar_t c) {
        if (stored_ + 1 < capacity_) buffer_[stored_++] = c;
        ++total_;
    }

    void repeat(wchar_t c, uint64_t count) {
        uint64_t room = capacity_ == 0 ? 0 : capacity_ - 1 - stored_;
        uint64_t written = count < room ? count : room;
        for (uint64_t i = 0; i < written; ++i) buffer_[stored_++] = c;
        total_ += count;
    }

    void finish() {
        if (capacity_ > 0) buffer_[stored_] = L'\0';
    }

    uint64_t total() const { return total_; }

private:
    wchar_t* buffer_;
    size_t capacity_;
    size_t stored_ = 0;
    uint64_t total_ = 0;
};

// One piece of a converted value: narrow text, wide text, or a repeated fill.
struct Run {
    const char* narrow = nullptr;
    const wchar_t* wide = nullptr;
    wchar_t fill = 0;
    uint64_t count = 0;
};

struct Body {
    static constexpr int MAX_RUNS = 8;
    Run runs[MAX_RUNS];
    int size = 0;

    void narrow(const char* text, uint64_t count) {
        if (count == 0) return;
        runs[size].narrow = text;
        runs[size++].count = count;
    }
    void wide(const wchar_t* text, uint64_t count) {
        if (count == 0) return;
        runs[size].wide = text;
        runs[size++].count = count;
    }
    void fill(wchar_t c, uint64_t count) {
        if (count == 0) return;
        runs[size].fill = c;
        runs[size++].count = count;
    }
    uint64_t length() const {
        uint64_t total = 0;
        for (int i = 0; i < size; ++i) total += runs[i].count;
        return total;
    }
};

enum class Length { NONE, CHAR, SHORT, LONG, LONG_LONG, INTMAX, SIZE, PTRDIFF, LONG_DOUBLE };

struct Directive {
    bool left = false;
    bool plus = false;
    bool space = false;
    bool zero = false;
    bool alternate = false;
    uint64_t width = 0;
    int64_t precision = -1;  // -1: not given
    Length length = Length::NONE;
};

// A va_list that helpers can consume through a reference on every ABI.
struct Arguments {
    va_list list;
};

// Writes prefix (sign, "0x") and body, padded to the width.
void emit(Output& out, const Directive& directive, const char* prefix, const Body& body, bool zeroPadding) {
    uint64_t prefixLength = std::strlen(prefix);
    uint64_t length = prefixLength + body.length();
    uint64_t padding = directive.width > length ? directive.width - length : 0;
    if (!directive.left && !zeroPadding) out.repeat(L' ', padding);
    for (const char* p = prefix; *p != '\0'; ++p) out.put(static_cast<wchar_t>(*p));
    if (!directive.left && zeroPadding) out.repeat(L'0', padding);
    for (int i = 0; i < body.size; ++i) {
        const Run& run = body.runs[i];
        if (run.narrow != nullptr) {
            for (uint64_t j = 0; j < run.count; ++j) {
                out.put(static_cast<wchar_t>(static_cast<unsigned char>(run.narrow[j])));
            }
        } else if (run.wide != nullptr) {
            for (uint64_t j = 0; j < run.count; ++j) out.put(run.wide[j]);
        } else {
            out.repeat(run.fill, run.count);
        }
    }
    if (directive.left) out.repeat(L' ', padding);
}

const char* signPrefix(bool negative, const Directive& directive) {
    if (negative) return "-";
    if (directive.plus) return "+";
    if (directive.space) return " ";
    return "";
}

void formatInteger(Output& out, const Directive& directive, uint64_t magnitude, bool negative, bool isSigned,
                   unsigned base, bool upper) {
    const char* digitSet = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    char digits[64];
    int count = 0;
    if (!(magnitude == 0 && directive.precision == 0)) {
        char reversed[64];
        uint64_t rest = magnitude;
        do {
            reversed[count++] = digitSet[rest % base];
            rest /= base;
        } while (rest != 0);
        for (int i = 0; i < count; ++i) digits[i] = reversed[count - 1 - i];
    }
    uint64_t zeros = directive.precision > count ? static_cast<uint64_t>(directive.precision - count) : 0;
    if (directive.alternate && base == 8 && zeros == 0 && (count == 0 || digits[0] != '0')) zeros = 1;

    char prefix[4] = {0, 0, 0, 0};
    int prefixLength = 0;
    if (isSigned) {
        const char* sign = signPrefix(negative, directive);
        if (*sign != '\0') prefix[prefixLength++] = *sign;
    }
    if (directive.alternate && base == 16 && magnitude != 0) {
        prefix[prefixLength++] = '0';
        prefix[prefixLength++] = upper ? 'X' : 'x';
    }
    Body body;
    body.fill(L'0', zeros);
    body.narrow(digits, static_cast<uint64_t>(count));
    emit(out, directive, prefix, body, directive.zero && !directive.left && directive.precision < 0);
}

// ---- exact decimal expansion of a double ----

// Unsigned integer in base 1e9 limbs, least significant first. Holds up to
// 10^1152: the fraction digits of the smallest denormal need 10^1074.
class DecimalInteger {
public:
    static constexpr int CAPACITY = 128;
    static constexpr uint32_t BASE = 1000000000u;

    explicit DecimalInteger(uint64_t value) {
        while (value != 0) {
            limbs_[size_++] = static_cast<uint32_t>(value % BASE);
            value /= BASE;
        }
    }

    // factor below 2^32 keeps every product within 64 bits.
    void multiply(uint32_t factor) {
        uint64_t carry = 0;
        for (int i = 0; i < size_; ++i) {
            uint64_t product = static_cast<uint64_t>(limbs_[i]) * factor + carry;
            limbs_[i] = static_cast<uint32_t>(product % BASE);
            carry = product / BASE;
        }
        while (carry != 0 && size_ < CAPACITY) {
            limbs_[size_++] = static_cast<uint32_t>(carry % BASE);
            carry /= BASE;
        }
    }

    // Writes the decimal digits, left-padded with zeros to at least minDigits;
    // returns how many were written (buffer must hold them all).
    int write(char* out, int minDigits) const {
        char* p = out;
        char top[10];
        int topCount = 0;
        if (size_ > 0) {
            for (uint32_t v = limbs_[size_ - 1]; v != 0; v /= 10) top[topCount++] = static_cast<char>('0' + v % 10);
        }
        int digitCount = size_ > 0 ? topCount + 9 * (size_ - 1) : 0;
        for (int i = digitCount; i < minDigits; ++i) *p++ = '0';
        while (topCount > 0) *p++ = top[--topCount];
        for (int i = size_ - 2; i >= 0; --i) {
            uint32_t limb = limbs_[i];
            for (int j = 8; j >= 0; --j) {
                p[j] = static_cast<char>('0' + limb % 10);
                limb /= 10;
            }
            p += 9;
        }
        return static_cast<int>(p - out);
    }

private:
    uint32_t limbs_[CAPACITY];
    int size_ = 0;
};

// The significant digits of a non-negative double, without leading or
// trailing zeros: value = 0.digits * 10^exponent. Zero has no digits.
struct ExactDecimal {
    static constexpr int CAPACITY = 1200;
    char digits[CAPACITY];
    int count = 0;
    int exponent = 0;
};

void expandExact(double value, ExactDecimal& result) {
    result.count = 0;
    result.exponent = 0;
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    int biased = static_cast<int>((bits >> 52) & 0x7FF);
    uint64_t mantissa = bits & ((uint64_t{1} << 52) - 1);
    if (biased != 0) mantissa |= uint64_t{1} << 52;
    if (mantissa == 0) return;
    int exponent = (biased == 0 ? 1 : biased) - 1075;  // value = mantissa * 2^exponent
    while ((mantissa & 1) == 0) {
        mantissa >>= 1;
        ++exponent;
    }

    char raw[ExactDecimal::CAPACITY];
    int rawCount = 0;
    int integerDigits = 0;
    if (exponent >= 0) {
        DecimalInteger integer(mantissa);
        for (int left = exponent; left > 0; left -= 31) integer.multiply(uint32_t{1} << (left < 31 ? left : 31));
        rawCount = integer.write(raw, 0);
        integerDigits = rawCount;
    } else {
        int fractionBits = -exponent;
        uint64_t integerPart = fractionBits >= 64 ? 0 : mantissa >> fractionBits;
        uint64_t fractionPart = fractionBits >= 64 ? mantissa : mantissa & ((uint64_t{1} << fractionBits) - 1);
        if (integerPart != 0) {
            rawCount = DecimalInteger(integerPart).write(raw, 0);
            integerDigits = rawCount;
        }
        // fractionPart / 2^k = fractionPart * 5^k / 10^k: exactly k digits.
        DecimalInteger scaled(fractionPart);
        int left = fractionBits;
        for (; left >= 13; left -= 13) scaled.multiply(1220703125u);
        uint32_t rest = 1;
        for (; left > 0; --left) rest *= 5;
        scaled.multiply(rest);
        rawCount += scaled.write(raw + rawCount, fractionBits);
    }
    int first = 0;
    while (first < rawCount && raw[first] == '0') ++first;
    int last = rawCount;
    while (last > first && raw[last - 1] == '0') --last;
    result.count = last - first;
    result.exponent = integerDigits - first;
    std::memcpy(result.digits, raw + first, static_cast<size_t>(result.count));
}

// Keeps the first `keep` digits, rounding the rest away with ties to even.
void roundDigits(ExactDecimal& decimal, int64_t keep) {
    if (keep >= decimal.count) return;
    bool up = false;
    if (keep >= 0) {
        char first = decimal.digits[keep];
        if (first > '5') {
            up = true;
        } else if (first == '5') {
            // No trailing zeros are kept, so any later digit is non-zero.
            bool above = keep + 1 < decimal.count;
            bool oddBefore = keep > 0 && (decimal.digits[keep - 1] - '0') % 2 == 1;
            up = above || oddBefore;
        }
    }
    int count = keep < 0 ? 0 : static_cast<int>(keep);
    if (up) {
        int i = count - 1;
        while (i >= 0 && decimal.digits[i] == '9') --i;
        if (i < 0) {
            decimal.digits[0] = '1';
            decimal.count = 1;
            decimal.exponent += 1;
        } else {
            ++decimal.digits[i];
            decimal.count = i + 1;
        }
        return;
    }
    while (count > 0 && decimal.digits[count - 1] == '0') --count;
    decimal.count = count;
    if (count == 0) decimal.exponent = 0;
}

// Digits of the fixed form: integer part, point, fractionDigits digits.
void layoutFixed(Body& body, const ExactDecimal& decimal, uint64_t fractionDigits, bool point) {
    int64_t count = decimal.count;
    int64_t exponent = decimal.count == 0 ? 0 : decimal.exponent;
    if (exponent > 0) {
        int64_t shown = exponent < count ? exponent : count;
        body.narrow(decimal.digits, static_cast<uint64_t>(shown));
        body.fill(L'0', static_cast<uint64_t>(exponent - shown));
    } else {
        body.narrow("0", 1);
    }
    if (fractionDigits > 0 || point) body.narrow(".", 1);
    uint64_t leadingZeros = exponent < 0 ? static_cast<uint64_t>(-exponent) : 0;
    if (leadingZeros > fractionDigits) leadingZeros = fractionDigits;
    body.fill(L'0', leadingZeros);
    int64_t start = exponent > 0 ? exponent : 0;
    uint64_t available = count > start ? static_cast<uint64_t>(count - start) : 0;
    uint64_t shown = fractionDigits - leadingZeros < available ? fractionDigits - leadingZeros : available;
    body.narrow(decimal.digits + start, shown);
    body.fill(L'0', fractionDigits - leadingZeros - shown);
}

void layoutExponential(Body& body, const ExactDecimal& decimal, uint64_t fractionDigits, bool point, bool upper,
                       char* exponentText) {
    body.narrow(decimal.count > 0 ? decimal.digits : "0", 1);
    if (fractionDigits > 0 || point) body.narrow(".", 1);
    uint64_t available = decimal.count > 1 ? static_cast<uint64_t>(decimal.count - 1) : 0;
    uint64_t shown = fractionDigits < available ? fractionDigits : available;
    body.narrow(decimal.digits + 1, shown);
    body.fill(L'0', fractionDigits - shown);
    int power = decimal.count > 0 ? decimal.exponent - 1 : 0;
    char* p = exponentText;
    *p++ = upper ? 'E' : 'e';
    *p++ = power < 0 ? '-' : '+';
    unsigned magnitude = static_cast<unsigned>(power < 0 ? -power : power);
    char reversed[8];
    int n = 0;
    do {
        reversed[n++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (n < 2) reversed[n++] = '0';
    while (n > 0) *p++ = reversed[--n];
    body.narrow(exponentText, static_cast<uint64_t>(p - exponentText));
}

void formatFloat(Output& out, const Directive& directive, double value, wchar_t conversion) {
    bool upper = conversion == L'F' || conversion == L'E' || conversion == L'G';
    const char* prefix = signPrefix(std::signbit(value), directive);
    Body body;
    if (!std::isfinite(value)) {
        const char* word = std::isnan(value) ? (upper ? "NAN" : "nan") : (upper ? "INF" : "inf");
        body.narrow(word, 3);
        emit(out, directive, prefix, body, false);
        return;
    }
    ExactDecimal decimal;
    expandExact(std::fabs(value), decimal);
    uint64_t precision = directive.precision < 0 ? 6 : static_cast<uint64_t>(directive.precision);
    char exponentText[16];
    if (conversion == L'f' || conversion == L'F') {
        roundDigits(decimal, static_cast<int64_t>(decimal.exponent) + static_cast<int64_t>(precision));
        layoutFixed(body, decimal, precision, directive.alternate);
    } else if (conversion == L'e' || conversion == L'E') {
        roundDigits(decimal, static_cast<int64_t>(precision) + 1);
        layoutExponential(body, decimal, precision, directive.alternate, upper, exponentText);
    } else {
        int64_t significant = precision == 0 ? 1 : static_cast<int64_t>(precision);
        roundDigits(decimal, significant);
        int64_t power = decimal.count > 0 ? decimal.exponent - 1 : 0;
        bool fixed = significant > power && power >= -4;
        uint64_t fractionDigits = static_cast<uint64_t>(fixed ? significant - 1 - power : significant - 1);
        if (!directive.alternate) {
            // Without "#" trailing zeros go, and the point with them.
            int64_t kept = fixed ? decimal.count - decimal.exponent : decimal.count - 1;
            uint64_t needed = kept > 0 ? static_cast<uint64_t>(kept) : 0;
            if (needed < fractionDigits) fractionDigits = needed;
        }
        if (fixed) {
            layoutFixed(body, decimal, fractionDigits, directive.alternate);
        } else {
            layoutExponential(body, decimal, fractionDigits, directive.alternate, upper, exponentText);
        }
    }
    emit(out, directive, prefix, body, directive.zero && !directive.left);
}

void formatCharacter(Output& out, const Directive& directive, wchar_t c) {
    Body body;
    body.wide(&c, 1);
    emit(out, directive, "", body, false);
}

void formatWideString(Output& out, const Directive& directive, const wchar_t* text) {
    if (text == nullptr) text = L"(null)";
    uint64_t length = 0;
    // With a precision, never read beyond it: the text need not be terminated.
    uint64_t limit = directive.precision < 0 ? UINT64_MAX : static_cast<uint64_t>(directive.precision);
    while (length < limit && text[length] != L'\0') ++length;
    Body body;
    body.wide(text, length);
    emit(out, directive, "", body, false);
}

void formatNarrowString(Output& out, const Directive& directive, const char* text) {
    if (text == nullptr) text = "(null)";
    uint64_t length = 0;
    uint64_t limit = directive.precision < 0 ? UINT64_MAX : static_cast<uint64_t>(directive.precision);
    while (length < limit && text[length] != '\0') ++length;
    Body body;
    body.narrow(text, length);
    emit(out, directive, "", body, false);
}

int64_t readSignedArgument(Arguments& args, Length length) {
    switch (length) {
        case Length::CHAR:
            return static_cast<signed char>(va_arg(args.list, int));
        case Length::SHORT:
            return static_cast<short>(va_arg(args.list, int));
        case Length::LONG:
            return va_arg(args.list, long);
        case Length::LONG_LONG:
        case Length::LONG_DOUBLE:
            return va_arg(args.list, long long);
        case Length::INTMAX:
            return va_arg(args.list, intmax_t);
        case Length::SIZE:
        case Length::PTRDIFF:
            return va_arg(args.list, ptrdiff_t);
        case Length::NONE:
            break;
    }
    return va_arg(args.list, int);
}

uint64_t readUnsignedArgument(Arguments& args, Length length) {
    switch (length) {
        case Length::CHAR:
            return static_cast<unsigned char>(va_arg(args.list, unsigned));
        case Length::SHORT:
            return static_cast<unsigned short>(va_arg(args.list, unsigned));
        case Length::LONG:
            return va_arg(args.list, unsigned long);
        case Length::LONG_LONG:
        case Length::LONG_DOUBLE:
            return va_arg(args.list, unsigned long long);
        case Length::INTMAX:
            return va_arg(args.list, uintmax_t);
        case Length::SIZE:
            return va_arg(args.list, size_t);
        case Length::PTRDIFF:
            return static_cast<uint64_t>(va_arg(args.list, ptrdiff_t));
        case Length::NONE:
            break;
    }
    return va_arg(args.list, unsigned);
}

uint64_t readCount(const wchar_t*& p) {
    uint64_t value = 0;
    for (; *p >= L'0' && *p <= L'9'; ++p) {
        if (value <= INT_MAX) value = value * 10 + static_cast<uint64_t>(*p - L'0');
    }
    return value > INT_MAX ? INT_MAX : value;
}

// Formats one conversion starting after its "%"; returns false when the
// conversion is unknown (the caller then copies it literally).
bool formatConversion(Output& out, const wchar_t*& p, Arguments& args) {
    Directive directive;
    for (;; ++p) {
        if (*p == L'-') {
            directive.left = true;
        } else if (*p == L'+') {
            directive.plus = true;
        } else if (*p == L' ') {
            directive.space = true;
        } else if (*p == L'0') {
            directive.zero = true;
        } else if (*p == L'#') {
            directive.alternate = true;
        } else {
            break;
        }
    }
    if (*p == L'*') {
        ++p;
        int width = va_arg(args.list, int);
        if (width < 0) {
            directive.left = true;
            directive.width = width == INT_MIN ? static_cast<uint64_t>(INT_MAX) : static_cast<uint64_t>(-width);
        } else {
            directive.width = static_cast<uint64_t>(width);
        }
    } else {
        directive.width = readCount(p);
    }
    if (*p == L'.') {
        ++p;
        if (*p == L'*') {
            ++p;
            int precision = va_arg(args.list, int);
            directive.precision = precision < 0 ? -1 : precision;
        } else {
            directive.precision = static_cast<int64_t>(readCount(p));
        }
    }
    switch (*p) {
        case L'h':
            ++p;
            directive.length = Length::SHORT;
            if (*p == L'h') {
                ++p;
                directive.length = Length::CHAR;
            }
            break;
        case L'l':
            ++p;
            directive.length = Length::LONG;
            if (*p == L'l') {
                ++p;
                directive.length = Length::LONG_LONG;
            }
            break;
        case L'j':
            ++p;
            directive.length = Length::INTMAX;
            break;
        case L'z':
            ++p;
            directive.length = Length::SIZE;
            break;
        case L't':
            ++p;
            directive.length = Length::PTRDIFF;
            break;
        case L'L':
            ++p;
            directive.length = Length::LONG_DOUBLE;
            break;
        default:
            break;
    }
    wchar_t conversion = *p;
    switch (conversion) {
        case L'd':
        case L'i': {
            int64_t value = readSignedArgument(args, directive.length);
            uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
            formatInteger(out, directive, magnitude, value < 0, true, 10, false);
            break;
        }
        case L'u':
            formatInteger(out, directive, readUnsignedArgument(args, directive.length), false, false, 10, false);
            break;
        case L'o':
            formatInteger(out, directive, readUnsignedArgument(args, directive.length), false, false, 8, false);
            break;
        case L'x':
        case L'X':
            formatInteger(out, directive, readUnsignedArgument(args, directive.length), false, false, 16,
                          conversion == L'X');
            break;
        case L'f':
        case L'F':
        case L'e':
        case L'E':
        case L'g':
        case L'G': {
            double value = directive.length == Length::LONG_DOUBLE ? static_cast<double>(va_arg(args.list, long double))
                                                              : va_arg(args.list, double);
            formatFloat(out, directive, value, conversion);
            break;
        }
        case L'c':
            formatCharacter(out, directive, static_cast<wchar_t>(va_arg(args.list, int)));
            break;
        case L's':
            if (directive.length == Length::SHORT) {
                formatNarrowString(out, directive, va_arg(args.list, const char*));
            } else {
                formatWideString(out, directive, va_arg(args.list, const wchar_t*));
            }
            break;
        case L'%':
            out.put(L'%');
            break;
        default:
            return false;
    }
    ++p;
    return true;
}

}  // namespace

int formatBoundedV(wchar_t* buffer, size_t capacity, const wchar_t* format, va_list args) {
    Output out(buffer, capacity);
    if (format != nullptr) {
        Arguments arguments;
        va_copy(arguments.list, args);
        const wchar_t* p = format;
        while (*p != L'\0') {
            if (*p != L'%') {
                out.put(*p++);
                continue;
            }
            const wchar_t* start = p++;
            if (!formatConversion(out, p, arguments)) {
                // Unknown or cut conversion: copy it as it stands.
                const wchar_t* stop = *p == L'\0' ? p : p + 1;
                for (const wchar_t* q = start; q != stop; ++q) out.put(*q);
                p = stop;
            }
        }
        va_end(arguments.list);
    }
    out.finish();
    return out.total() > static_cast<uint64_t>(INT_MAX) ? -1 : static_cast<int>(out.total());
}

int formatBounded(wchar_t* buffer, size_t capacity, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    int length = formatBoundedV(buffer, capacity, format, args);
    va_end(args);
    return length;
}

std::wstring formatAxisValue(double value) {
    wchar_t buffer[AXIS_LABEL_BUFFER];
    formatBounded(buffer, AXIS_LABEL_BUFFER, L"%.*f", 0, value);
    const wchar_t* text = buffer;
    bool negative = *text == L'-';
    if (negative) ++text;
    const std::wstring digits = groupThousands(text, std::wcslen(text));
    return negative ? L"-" + digits : digits;
}

std::wstring groupThousands(const wchar_t* digits, size_t length) {
    std::wstring grouped;
    grouped.reserve(length + length / 3 + 1);
    // Built back to front: a separator after every third character placed
    // while more are to come.
    for (size_t placed = 0; placed < length;) {
        grouped.push_back(digits[length - 1 - placed]);
        ++placed;
        if (placed % 3 == 0 && placed < length) grouped.push_back(L',');
    }
    return std::wstring(grouped.rbegin(), grouped.rend());
}

}  // namespace kestrine
