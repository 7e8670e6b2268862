// Request building: series parsing with our own wcstod-compatible number
// conversion, text copies, option clamps and the accent colour choice. The
// conversion is exact (ties to even) and needs nothing from the C runtime.
#include "core/request_building.h"

#include <cfloat>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

namespace kestrine {

namespace {

// Decimal digits kept exactly. Deciding the rounding of a double never needs
// more than 768 significant digits; any digits beyond only tell whether the
// value lies above the kept ones ("sticky").
constexpr int MAX_SIGNIFICANT_DIGITS = 800;
// Exponents are saturated here; anything this large is far outside the range.
constexpr int64_t EXPONENT_SATURATION = 100000000;

constexpr double POW10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                            1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                            1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr uint32_t POW5[] = {1,       5,        25,        125,        625,
                             3125,    15625,    78125,     390625,     1953125,
                             9765625, 48828125, 244140625, 1220703125};
constexpr int MAX_POW5_STEP = 13;

// Fixed-capacity unsigned integer in 32-bit limbs, least significant first.
// The largest value compared while converting has under 3,000 bits.
class BigInteger {
public:
    static constexpr int CAPACITY = 160;

    void set(uint64_t value) {
        size_ = 0;
        while (value != 0) {
            limbs_[size_++] = static_cast<uint32_t>(value);
            value >>= 32;
        }
    }

    void assign(const BigInteger& other) {
        size_ = other.size_;
        std::memcpy(limbs_, other.limbs_, sizeof(uint32_t) * static_cast<size_t>(size_));
    }

    void multiplyAdd(uint32_t factor, uint32_t addend) {
        uint64_t carry = addend;
        for (int i = 0; i < size_; ++i) {
            uint64_t product = static_cast<uint64_t>(limbs_[i]) * factor + carry;
            limbs_[i] = static_cast<uint32_t>(product);
            carry = product >> 32;
        }
        if (carry != 0 && size_ < CAPACITY) limbs_[size_++] = static_cast<uint32_t>(carry);
    }

    void multiplyPow5(int64_t exponent) {
        while (exponent >= MAX_POW5_STEP) {
            multiplyAdd(POW5[MAX_POW5_STEP], 0);
            exponent -= MAX_POW5_STEP;
        }
        if (exponent > 0) multiplyAdd(POW5[exponent], 0);
    }

    void shiftLeft(int64_t bits) {
        if (size_ == 0 || bits <= 0) return;
        int limbShift = static_cast<int>(bits / 32);
        int bitShift = static_cast<int>(bits % 32);
        if (size_ + limbShift + 1 > CAPACITY) return;
        if (bitShift != 0) {
            uint32_t carry = 0;
            for (int i = 0; i < size_; ++i) {
                uint32_t limb = limbs_[i];
                limbs_[i] = (limb << bitShift) | carry;
                carry = limb >> (32 - bitShift);
            }
            if (carry != 0) limbs_[size_++] = carry;
        }
        if (limbShift != 0) {
            for (int i = size_ - 1; i >= 0; --i) limbs_[i + limbShift] = limbs_[i];
            for (int i = 0; i < limbShift; ++i) limbs_[i] = 0;
            size_ += limbShift;
        }
    }

    friend int compare(const BigInteger& a, const BigInteger& b) {
        if (a.size_ != b.size_) return a.size_ < b.size_ ? -1 : 1;
        for (int i = a.size_ - 1; i >= 0; --i) {
            if (a.limbs_[i] != b.limbs_[i]) return a.limbs_[i] < b.limbs_[i] ? -1 : 1;
        }
        return 0;
    }

private:
    uint32_t limbs_[CAPACITY];
    int size_ = 0;
};

// A decimal number as significant digits D and exponent: value = D * 10^exponent.
struct DecimalDigits {
    char digits[MAX_SIGNIFICANT_DIGITS];
    int count = 0;
    bool sticky = false;  // non-zero digits were dropped after the kept ones
    int64_t exponent = 0;
};

uint64_t bitsOf(double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

double fromBits(uint64_t bits) {
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

constexpr uint64_t HIDDEN_BIT = uint64_t{1} << 52;

// The double m * 2^exponent for m < 2^53 that is exactly representable.
double composeDouble(uint64_t mantissa, int64_t exponent) {
    if (mantissa == 0) return 0.0;
    if (mantissa < HIDDEN_BIT) return fromBits(mantissa);  // denormal: exponent is -1074
    return fromBits((static_cast<uint64_t>(exponent + 52 + 1023) << 52) | (mantissa - HIDDEN_BIT));
}

int bitLength(uint64_t value) {
    int length = 0;
    while (value != 0) {
        ++length;
        value >>= 1;
    }
    return length;
}

// Rounds mantissa * 2^exponent (plus a sliver when sticky) to a double, ties
// to even, with denormals and overflow to infinity.
double roundBinary(uint64_t mantissa, int64_t exponent, bool sticky) {
    if (mantissa == 0) return 0.0;
    int64_t top = exponent + bitLength(mantissa) - 1;
    if (top > 1023) return std::numeric_limits<double>::infinity();
    int64_t lsb = top - 52 < -1074 ? -1074 : top - 52;
    int64_t shift = lsb - exponent;
    uint64_t result;
    if (shift <= 0) {
        result = mantissa << -shift;
    } else {
        result = shift >= 64 ? 0 : mantissa >> shift;
        bool half = shift - 1 < 64 && ((mantissa >> (shift - 1)) & 1) != 0;
        uint64_t below = shift - 1 >= 64 ? mantissa : mantissa & ((uint64_t{1} << (shift - 1)) - 1);
        if (half && (below != 0 || sticky || (result & 1) != 0)) ++result;
        if (result == (HIDDEN_BIT << 1)) {
            result >>= 1;
            ++lsb;
        }
    }
    if (lsb + 52 > 1023 && result >= HIDDEN_BIT) return std::numeric_limits<double>::infinity();
    return composeDouble(result, lsb);
}

// Compares the exact decimal value (digits as an integer, with its sticky
// sliver) with mantissa * 2^binaryExponent.
int compareWithBinary(const BigInteger& digits, bool sticky, int64_t decimalExponent,
                      uint64_t mantissa, int64_t binaryExponent) {
    BigInteger left;
    left.assign(digits);
    BigInteger right;
    right.set(mantissa);
    if (decimalExponent >= 0) {
        left.multiplyPow5(decimalExponent);
    } else {
        right.multiplyPow5(-decimalExponent);
    }
    if (decimalExponent > binaryExponent) {
        left.shiftLeft(decimalExponent - binaryExponent);
    } else {
        right.shiftLeft(binaryExponent - decimalExponent);
    }
    int order = compare(left, right);
    return order == 0 && sticky ? 1 : order;
}

// A close first guess from the leading digits; the exact search only has to
// move it by a few units in the last place.
double estimate(uint64_t leading, int64_t exponent) {
    double guess = static_cast<double>(leading);
    if (exponent >= 0) {
        while (exponent > 22) {
            guess *= 1e22;
            exponent -= 22;
        }
        guess *= POW10[exponent];
    } else {
        int64_t remaining = -exponent;
        guess /= POW10[remaining % 22];
        remaining -= remaining % 22;
        for (; remaining > 0; remaining -= 22) guess /= 1e22;
    }
    return guess > DBL_MAX ? DBL_MAX : guess;
}

// Correctly rounded value of a positive decimal, by moving a guess one unit in
// the last place at a time until the exact value lies within its rounding
// interval (both halfway points compared exactly).
double exactDecimal(const DecimalDigits& decimal) {
    int count = decimal.count;
    int64_t exponent = decimal.exponent;
    if (count == 0) return 0.0;
    if (count - 1 + exponent >= 309) return std::numeric_limits<double>::infinity();
    if (count + exponent <= -325) return 0.0;

    uint64_t leading = 0;
    int leadingCount = count < 19 ? count : 19;
    for (int i = 0; i < leadingCount; ++i) leading = leading * 10 + static_cast<uint64_t>(decimal.digits[i] - '0');

    // Integers below 2^53 times exact powers of ten: one rounding, so exact.
    if (count <= 15 && !decimal.sticky && exponent >= -22 && exponent <= 22) {
        double value = static_cast<double>(leading);
        return exponent >= 0 ? value * POW10[exponent] : value / POW10[-exponent];
    }

    BigInteger digits;
    digits.set(0);
    int position = 0;
    while (position < count) {
        uint32_t chunk = 0;
        uint32_t scale = 1;
        for (int i = 0; i < 9 && position < count; ++i, ++position) {
            chunk = chunk * 10 + static_cast<uint32_t>(decimal.digits[position] - '0');
            scale *= 10;
        }
        digits.multiplyAdd(scale, chunk);
    }

    double guess = estimate(leading, exponent + (count - leadingCount));
    for (;;) {
        uint64_t bits = bitsOf(guess);
        if (bits == 0) {
            // Zero rounds up once the value passes half the smallest denormal.
            int order = compareWithBinary(digits, decimal.sticky, exponent, 1, -1075);
            if (order <= 0) return 0.0;
            guess = fromBits(1);
            continue;
        }
        uint64_t biased = bits >> 52;
        uint64_t mantissa = biased == 0 ? bits : (bits & (HIDDEN_BIT - 1)) | HIDDEN_BIT;
        int64_t unitExponent = biased == 0 ? -1074 : static_cast<int64_t>(biased) - 1075;
        bool odd = (mantissa & 1) != 0;

        int above = compareWithBinary(digits, decimal.sticky, exponent, 2 * mantissa + 1, unitExponent - 1);
        if (above > 0 || (above == 0 && odd)) {
            if (guess == DBL_MAX) return std::numeric_limits<double>::infinity();
            guess = fromBits(bits + 1);
            continue;
        }
        int below;
        if (mantissa == HIDDEN_BIT && biased > 1) {
            // At a power of two the gap below is half the gap above.
            below = compareWithBinary(digits, decimal.sticky, exponent, 4 * mantissa - 1, unitExponent - 2);
        } else {
            below = compareWithBinary(digits, decimal.sticky, exponent, 2 * mantissa - 1, unitExponent - 1);
        }
        if (below < 0 || (below == 0 && odd)) {
            guess = fromBits(bits - 1);
            continue;
        }
        return guess;
    }
}

bool isBlank(wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r'); }

bool isDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

int hexValue(wchar_t c) {
    if (c >= L'0' && c <= L'9') return static_cast<int>(c - L'0');
    if (c >= L'a' && c <= L'f') return static_cast<int>(c - L'a') + 10;
    if (c >= L'A' && c <= L'F') return static_cast<int>(c - L'A') + 10;
    return -1;
}

// Matches an ASCII word case-insensitively and moves past it.
bool matchWord(const wchar_t*& p, const wchar_t* end, const char* word) {
    const wchar_t* q = p;
    for (; *word != '\0'; ++word, ++q) {
        if (q == end) return false;
        wchar_t c = *q;
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
        if (c != static_cast<wchar_t>(*word)) return false;
    }
    p = q;
    return true;
}

// An optional exponent: marker, optional sign, at least one decimal digit.
// Without a digit nothing is consumed.
int64_t readExponent(const wchar_t*& p, const wchar_t* end, wchar_t lower, wchar_t upper) {
    if (p == end || (*p != lower && *p != upper)) return 0;
    const wchar_t* q = p + 1;
    bool negative = false;
    if (q != end && (*q == L'+' || *q == L'-')) negative = *q++ == L'-';
    if (q == end || !isDigit(*q)) return 0;
    int64_t value = 0;
    for (; q != end && isDigit(*q); ++q) {
        if (value < EXPONENT_SATURATION) value = value * 10 + (*q - L'0');
    }
    p = q;
    return negative ? -value : value;
}

// Hexadecimal digits after "0x"; false when none follows, so that only the
// "0" counts.
bool convertHexadecimal(const wchar_t* p, const wchar_t* end, double& value) {
    uint64_t mantissa = 0;
    int64_t exponent = 0;
    bool sticky = false;
    bool sawDigit = false;
    bool afterPoint = false;
    for (; p != end; ++p) {
        if (*p == L'.' && !afterPoint) {
            afterPoint = true;
            continue;
        }
        int digit = hexValue(*p);
        if (digit < 0) break;
        sawDigit = true;
        if (mantissa >> 60 == 0) {
            mantissa = mantissa * 16 + static_cast<uint64_t>(digit);
            if (afterPoint) exponent -= 4;
        } else {
            sticky = sticky || digit != 0;
            if (!afterPoint) exponent += 4;
        }
    }
    if (!sawDigit) return false;
    exponent += readExponent(p, end, L'p', L'P');
    value = roundBinary(mantissa, exponent, sticky);
    return true;
}

// False when no digit starts the text: then nothing was converted.
bool convertDecimal(const wchar_t* p, const wchar_t* end, double& value) {
    DecimalDigits decimal;
    bool sawDigit = false;
    for (; p != end && isDigit(*p); ++p) {
        sawDigit = true;
        if (decimal.count == 0 && *p == L'0') continue;
        if (decimal.count < MAX_SIGNIFICANT_DIGITS) {
            decimal.digits[decimal.count++] = static_cast<char>(*p);
        } else {
            decimal.sticky = decimal.sticky || *p != L'0';
            ++decimal.exponent;
        }
    }
    if (p != end && *p == L'.') {
        for (++p; p != end && isDigit(*p); ++p) {
            sawDigit = true;
            if (decimal.count == 0 && *p == L'0') {
                --decimal.exponent;
            } else if (decimal.count < MAX_SIGNIFICANT_DIGITS) {
                decimal.digits[decimal.count++] = static_cast<char>(*p);
                --decimal.exponent;
            } else {
                decimal.sticky = decimal.sticky || *p != L'0';
            }
        }
    }
    if (!sawDigit) return false;
    decimal.exponent += readExponent(p, end, L'e', L'E');
    while (decimal.count > 0 && decimal.digits[decimal.count - 1] == '0') {
        --decimal.count;
        ++decimal.exponent;
    }
    value = exactDecimal(decimal);
    return true;
}

}  // namespace

double convertSeriesNumber(const wchar_t* begin, const wchar_t* end) {
    const wchar_t* p = begin;
    while (p != end && isBlank(*p)) ++p;
    bool negative = false;
    if (p != end && (*p == L'+' || *p == L'-')) negative = *p++ == L'-';

    double magnitude;
    if (matchWord(p, end, "inf")) {
        magnitude = std::numeric_limits<double>::infinity();
    } else if (matchWord(p, end, "nan")) {
        magnitude = std::numeric_limits<double>::quiet_NaN();
    } else if (end - p >= 2 && p[0] == L'0' && (p[1] == L'x' || p[1] == L'X') &&
               convertHexadecimal(p + 2, end, magnitude)) {
    } else if (!convertDecimal(p, end, magnitude)) {
        return 0.0;  // no number: the sign alone converts nothing
    }
    return negative ? -magnitude : magnitude;
}

namespace {

// The items with a ":", each a point: counted before converting, so that the
// arrays are allocated once at their size rather than grown. Under Wine here,
// first touching fresh memory costs more than filling it, and growing would
// touch about twice as much. Without a branch on the characters, so that the
// count costs about as much as reading the text.
size_t countSeriesPoints(const wchar_t* series) {
    size_t points = 0;
    size_t colon = 0;  // 1 once the item holds a ":"
    for (const wchar_t* p = series;; ++p) {
        const wchar_t c = *p;
        const size_t ends = static_cast<size_t>(c == L';') | static_cast<size_t>(c == L'\0');
        points += ends & colon;
        colon = (colon | static_cast<size_t>(c == L':')) & (ends ^ 1);
        if (c == L'\0') return points;
    }
}

// One division gives the correctly rounded value only where doubles are
// computed in doubles: x87 arithmetic would round twice, through its longer
// format. The x86 builds ask for SSE2 arithmetic; this holds them to it
// (compilers that do not say how they evaluate are held by their options).
#if defined(__FLT_EVAL_METHOD__) && __FLT_EVAL_METHOD__ != 0
#error "series reading needs double arithmetic in doubles (SSE2 math on x86)"
#endif
constexpr uint64_t LARGEST_EXACT_INTEGER = uint64_t{1} << 53;
constexpr int MOST_PLAIN_DIGITS = 19;  // below 10^19, so within 64 bits
constexpr uint64_t POW10_INTEGER[] = {1u,
                                      10u,
                                      100u,
                                      1000u,
                                      10000u,
                                      100000u,
                                      1000000u,
                                      10000000u,
                                      100000000u,
                                      1000000000u,
                                      10000000000u,
                                      100000000000u,
                                      1000000000000u,
                                      10000000000000u,
                                      100000000000000u,
                                      1000000000000000u,
                                      10000000000000000u,
                                      100000000000000000u,
                                      1000000000000000000u,
                                      10000000000000000000u};

// An unsigned 128-bit integer, in two halves: what the check below compares
// never reaches 2^119.
struct Wide {
    uint64_t high;
    uint64_t low;
};

// a * b in full, from 32-bit halves: no compiler's 128-bit type is needed.
Wide multiplyWide(uint64_t a, uint64_t b) {
    const uint64_t aLow = a & 0xFFFFFFFFu;
    const uint64_t aHigh = a >> 32;
    const uint64_t bLow = b & 0xFFFFFFFFu;
    const uint64_t bHigh = b >> 32;
    const uint64_t lowLow = aLow * bLow;
    const uint64_t lowHigh = aLow * bHigh;
    const uint64_t highLow = aHigh * bLow;
    const uint64_t middle = (lowLow >> 32) + (lowHigh & 0xFFFFFFFFu) + (highLow & 0xFFFFFFFFu);
    return Wide{aHigh * bHigh + (lowHigh >> 32) + (highLow >> 32) + (middle >> 32),
                (middle << 32) | (lowLow & 0xFFFFFFFFu)};
}

// v * 2^bits for 0 <= bits < 128, the result known to fit.
Wide shiftWide(Wide v, int64_t bits) {
    if (bits == 0) return v;
    if (bits >= 64) return Wide{v.low << (bits - 64), 0};
    return Wide{(v.high << bits) | (v.low >> (64 - bits)), v.low << bits};
}

int compareWide(Wide a, Wide b) {
    if (a.high != b.high) return a.high < b.high ? -1 : 1;
    if (a.low != b.low) return a.low < b.low ? -1 : 1;
    return 0;
}

// The sign of digits / 10^fraction - odd * 2^exponent, exactly.
int compareWithPoint(uint64_t digits, std::ptrdiff_t fraction, uint64_t odd, int64_t exponent) {
    const Wide scaled = multiplyWide(odd, POW10_INTEGER[fraction]);
    if (exponent <= 0) return compareWide(shiftWide(Wide{0, digits}, -exponent), scaled);
    return compareWide(Wide{0, digits}, shiftWide(scaled, exponent));
}

// The correctly rounded value of digits / 10^fraction for 2^53 < digits <
// 10^19 (16 to 19 digits, as "%.17g" writes): a guess within a unit in the
// last place, moved until the value lies within its rounding interval, both
// halfway points compared exactly in 128 bits. The value lies between 2^-11
// and 10^19, far inside the normal doubles, so both sides of each comparison
// stay below 2^119.
double nearestWithPoint(uint64_t digits, std::ptrdiff_t fraction) {
    double guess = static_cast<double>(digits) / POW10[fraction];
    for (;;) {
        const uint64_t bits = bitsOf(guess);
        const uint64_t mantissa = (bits & (HIDDEN_BIT - 1)) | HIDDEN_BIT;
        const int64_t unitExponent = static_cast<int64_t>(bits >> 52) - 1075;
        const bool odd = (mantissa & 1) != 0;
        const int above = compareWithPoint(digits, fraction, 2 * mantissa + 1, unitExponent - 1);
        if (above > 0 || (above == 0 && odd)) {
            guess = fromBits(bits + 1);
            continue;
        }
        // At a power of two the gap below is half the gap above.
        const int below = mantissa == HIDDEN_BIT
                              ? compareWithPoint(digits, fraction, 4 * mantissa - 1, unitExponent - 2)
                              : compareWithPoint(digits, fraction, 2 * mantissa - 1, unitExponent - 1);
        if (below < 0 || (below == 0 && odd)) {
            guess = fromBits(bits - 1);
            continue;
        }
        return guess;
    }
}

// A number of the form nearly every series is written in: an optional sign,
// decimal digits with an optional "." and no more than 19 digits in all.
// When its digits as an integer are at most 2^53, the integer and the power
// of ten that places the point are both exact doubles, so one division (one
// rounding) gives the correctly rounded value, as the exact path would; more
// digits are settled in 128-bit integers.
// Returns the character after the number, or nullptr when the text is not of
// this form or has more digits: then the exact path converts it.
// Reads a null-terminated text and stops at any character that is not part
// of the form, so it never reads past the terminator.
const wchar_t* readPlainDecimal(const wchar_t* p, double& value) {
    const bool negative = *p == L'-';
    if (negative || *p == L'+') ++p;
    uint64_t digits = 0;
    const wchar_t* start = p;
    for (; isDigit(*p); ++p) digits = digits * 10 + static_cast<uint64_t>(*p - L'0');
    std::ptrdiff_t count = p - start;
    std::ptrdiff_t fraction = 0;
    if (*p == L'.') {
        const wchar_t* point = ++p;
        for (; isDigit(*p); ++p) digits = digits * 10 + static_cast<uint64_t>(*p - L'0');
        fraction = p - point;
        count += fraction;
    }
    // More digits than 64 bits hold have wrapped around: they go the exact way.
    if (count == 0 || count > MOST_PLAIN_DIGITS) return nullptr;
    const double magnitude = digits <= LARGEST_EXACT_INTEGER ? static_cast<double>(digits) / POW10[fraction]
                                                             : nearestWithPoint(digits, fraction);
    value = negative ? -magnitude : magnitude;
    return p;
}

// The common item, "x:y" with both numbers of the plain form and nothing else,
// read in one pass. Returns where the item ends (its ";" or the terminator),
// or nullptr when it is of another form.
const wchar_t* readPlainItem(const wchar_t* item, double& x, double& y) {
    const wchar_t* colon = readPlainDecimal(item, x);
    if (colon == nullptr || *colon != L':') return nullptr;
    const wchar_t* end = readPlainDecimal(colon + 1, y);
    if (end == nullptr || (*end != L';' && *end != L'\0')) return nullptr;
    return end;
}

}  // namespace

size_t parseSeries(const wchar_t* series, std::vector<double>& xs, std::vector<double>& ys) {
    if (series == nullptr) return 0;
    const size_t points = countSeriesPoints(series);
    xs.reserve(xs.size() + points);
    ys.reserve(ys.size() + points);
    size_t appended = 0;
    const wchar_t* item = series;
    for (;;) {
        double plainX;
        double plainY;
        if (const wchar_t* plainEnd = readPlainItem(item, plainX, plainY)) {
            // Room for every point was reserved above: these cannot throw.
            xs.push_back(plainX);
            ys.push_back(plainY);
            ++appended;
            if (*plainEnd == L'\0') break;
            item = plainEnd + 1;
            continue;
        }
        const wchar_t* itemEnd = item;
        const wchar_t* colon = nullptr;
        for (; *itemEnd != L'\0' && *itemEnd != L';'; ++itemEnd) {
            if (colon == nullptr && *itemEnd == L':') colon = itemEnd;
        }
        if (colon != nullptr) {
            double x = convertSeriesNumber(item, colon);
            double y = convertSeriesNumber(colon + 1, itemEnd);
            xs.push_back(x);
            try {
                ys.push_back(y);
            } catch (...) {
                xs.pop_back();
                throw;
            }
            ++appended;
        }
        if (*itemEnd == L'\0') break;
        item = itemEnd + 1;
    }
    return appended;
}

uint32_t chooseAccentColor(int32_t positive, uint32_t positiveColor, uint32_t negativeColor) {
    uint32_t candidate = positive != 0 ? positiveColor : negativeColor;
    if (candidate > 0xFFFFFFu) return positive != 0 ? DEFAULT_POSITIVE_COLOR : DEFAULT_NEGATIVE_COLOR;
    uint32_t red = candidate & 0xFFu;
    uint32_t green = (candidate >> 8) & 0xFFu;
    uint32_t blue = (candidate >> 16) & 0xFFu;
    return 0xFF000000u | (red << 16) | (green << 8) | blue;
}

int32_t clampAutoCloseSeconds(int32_t seconds) {
    if (seconds < 0) return 0;
    if (seconds > MAX_AUTOCLOSE_SECONDS) return MAX_AUTOCLOSE_SECONDS;
    return seconds;
}

double clampAnimationSeconds(double seconds) {
    // NaN passes both range tests; the window needs a real duration.
    if (seconds != seconds) return DEFAULT_ANIMATION_SECONDS;
    if (seconds < MIN_ANIMATION_SECONDS) return MIN_ANIMATION_SECONDS;
    if (seconds > MAX_ANIMATION_SECONDS) return MAX_ANIMATION_SECONDS;
    return seconds;
}

std::unique_ptr<ChartRequest> buildChartRequest(const wchar_t* series, const wchar_t* titleText,
                                                const wchar_t* subtitleText, const wchar_t* valueText,
                                                const wchar_t* noteText, int32_t xAxisMode,
                                                int32_t autoCloseSeconds, int32_t animate,
                                                double animationSeconds, int32_t positive,
                                                uint32_t positiveColor, uint32_t negativeColor) noexcept {
    if (series == nullptr) return nullptr;
    try {
        std::unique_ptr<ChartRequest> request(new ChartRequest());
        if (parseSeries(series, request->xValues, request->yValues) == 0) return nullptr;
        request->titleText = titleText != nullptr ? titleText : L"";
        request->subtitleText = subtitleText != nullptr ? subtitleText : L"";
        request->valueText = valueText != nullptr ? valueText : L"";
        request->noteText = noteText != nullptr ? noteText : L"";
        request->numericXAxis = xAxisMode == 1 ? 1 : 0;
        request->autoCloseSeconds = clampAutoCloseSeconds(autoCloseSeconds);
        request->animate = animate != 0;
        request->animationSeconds = clampAnimationSeconds(animationSeconds);
        request->accentColor = chooseAccentColor(positive, positiveColor, negativeColor);
        return request;
    } catch (const std::exception&) {
        return nullptr;
    }
}

}  // namespace kestrine
