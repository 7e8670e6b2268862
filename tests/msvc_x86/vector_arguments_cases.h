// Cases for the vector-argument check (vector_arguments.cmake), read as text
// and never compiled. The check must report exactly the functions whose names
// start with "rejected" and the one lambda (reported as "lambda").
#include <emmintrin.h>

struct Lanes {
    __m128d low, high;
    // Four by value, as 32-bit MSVC refuses (C2719).
    void rejectedMember(__m128d x0, __m128d x1, __m128d y0, __m128d y1);
    // By reference after the third: accepted.
    void keptMember(__m128d x0, __m128d x1, __m128d y0, const __m128d& y1);
};

// Spread over lines, with comments and a default argument that is a call.
static inline __m128i rejectedSpread(const __m128i a,  // "quoted (" text
                                     __m128i b, /* __m128i c, __m128i d, */
                                     __m128i c,
                                     __m128i d = _mm_setzero_si128()) {
    return _mm_add_epi32(_mm_add_epi32(a, b), _mm_add_epi32(c, d));
}

__m128 rejectedFloats(__m128, __m128, __m128, __m128);  // unnamed
__m128 keptThree(__m128 a, __m128 b, __m128 c, float d, __m128* e, __m128& f);
void keptCall(const char* text = "(__m128 a, __m128 b, __m128 c, __m128 d)");

void keptCallbackUser(void (*callback)(__m128d, __m128d), __m128d a, __m128d b) {
    const auto sum = [](__m128d p, __m128d q, __m128d r, __m128d s) {
        return _mm_add_pd(_mm_add_pd(p, q), _mm_add_pd(r, s));
    };
    const auto total = sum(a, b, a, b);  // a call, not a declaration
    callback(total, _mm_add_pd(a, b));
}
