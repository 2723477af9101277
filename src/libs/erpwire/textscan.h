#pragma once

// Internal to erpwire: passing over plain JSON text sixteen bytes a step.

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace erp::wire {

// Where a run of plain text from q may end: at the first quote, backslash or control byte (and,
// with NonAsciiStops, the first byte of a longer character) within whole sixteen-byte steps, or
// where fewer than sixteen bytes are left; the caller looks at the bytes from there one by one.
template<bool NonAsciiStops>
inline const char *skipPlainText(const char *q, const char *end)
{
#ifdef __SSE2__
    const __m128i quote = _mm_set1_epi8('"'), backslash = _mm_set1_epi8('\\');
    for (; end - q >= 16; q += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(q));
        // as signed bytes, those below 0x20 and those from 0x80 are both less than 0x20; the
        // control bytes alone are those that the unsigned saturating subtraction takes to zero
        const __m128i stopsHere = NonAsciiStops
                                      ? _mm_cmplt_epi8(v, _mm_set1_epi8(0x20))
                                      : _mm_cmpeq_epi8(_mm_subs_epu8(v, _mm_set1_epi8(0x1f)), _mm_setzero_si128());
        const __m128i stops = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash)), stopsHere);
        if (const int mask = _mm_movemask_epi8(stops))
            return q + __builtin_ctz(unsigned(mask));
    }
#endif
    return q;
}

} // namespace erp::wire
