#include "syntax_scan.h"

#include <cstdint>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#define PELLUX_SCAN_SSE2 1
#endif

namespace {

enum ByteClass : unsigned char { kInvalid = 0, kAccepted = 1, kRunStart = 2 };

struct ClassTable {
    unsigned char of[256] = {};
    constexpr ClassTable() {
        const char accepted[] = "+-><.,[]@&*\r\n $";
        for (const char* c = accepted; *c; ++c) of[static_cast<unsigned char>(*c)] = kAccepted;
        of[0] = kAccepted;
        of[static_cast<unsigned char>('%')] = kRunStart;
        of[static_cast<unsigned char>('#')] = kRunStart;
    }
};

constexpr ClassTable kClasses;

bool endsRun(unsigned char c) { return c == '\r' || c == '\n' || c == 0; }

#ifdef PELLUX_SCAN_SSE2
// Bit i set where byte i of the 16 ends a run.
inline unsigned runEndMask(__m128i v) {
    __m128i hit = _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\r')),
                               _mm_cmpeq_epi8(v, _mm_set1_epi8('\n')));
    hit = _mm_or_si128(hit, _mm_cmpeq_epi8(v, _mm_setzero_si128()));
    return static_cast<unsigned>(_mm_movemask_epi8(hit));
}

// Bit i set where byte i of the 16 is a plain accepted byte (not a run start, not invalid).
inline unsigned acceptedMask(__m128i v) {
    // '+' ',' '-' '.' are 0x2B..0x2E: one unsigned range test.
    __m128i rel = _mm_sub_epi8(v, _mm_set1_epi8(0x2B));
    __m128i ok = _mm_cmpeq_epi8(_mm_min_epu8(rel, _mm_set1_epi8(3)), rel);
    const char singles[] = {'>', '<', '[', ']', '@', '&', '*', '\r', '\n', ' ', '$', 0};
    for (char c : singles) ok = _mm_or_si128(ok, _mm_cmpeq_epi8(v, _mm_set1_epi8(c)));
    return static_cast<unsigned>(_mm_movemask_epi8(ok));
}

inline unsigned lowestBit(unsigned mask) {
#if defined(__GNUC__)
    return static_cast<unsigned>(__builtin_ctz(mask));
#else
    unsigned i = 0;
    while (!(mask & 1u)) { mask >>= 1; ++i; }
    return i;
#endif
}
#endif

// Skips to the end of a run; returns the position just past the byte that ended it, or length.
std::size_t skipRun(const unsigned char* data, std::size_t p, std::size_t length, bool& inRun) {
#ifdef PELLUX_SCAN_SSE2
    while (p + 16 <= length) {
        unsigned mask = runEndMask(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + p)));
        if (mask) { inRun = false; return p + lowestBit(mask) + 1; }
        p += 16;
    }
#endif
    for (; p < length; ++p)
        if (endsRun(data[p])) { inRun = false; return p + 1; }
    return length;
}

} // namespace

std::size_t scanSyntax(SyntaxScanState& state, const unsigned char* data, std::size_t length) {
    std::size_t p = 0;
    while (p < length) {
        if (state.inRun) { p = skipRun(data, p, length, state.inRun); continue; }
#ifdef PELLUX_SCAN_SSE2
        if (p + 16 <= length) {
            unsigned mask = acceptedMask(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + p)));
            if (mask == 0xFFFFu) { p += 16; continue; }
            p += lowestBit(~mask);
        }
#endif
        switch (kClasses.of[data[p]]) {
        case kAccepted: ++p; break;
        case kRunStart: state.inRun = true; ++p; break;
        default: return p;
        }
    }
    return length;
}

void formatInvalidCharacter(char* out, std::size_t capacity, const char* format, char invalid) {
    if (capacity == 0) return;
    std::size_t n = 0;
    for (const char* f = format; *f && n + 1 < capacity; ++f) {
        if (f[0] == '%' && f[1] == 'c') { out[n++] = invalid; ++f; }
        else out[n++] = *f;
    }
    out[n] = '\0';
}
