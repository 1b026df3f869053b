#include "syntax_scan.h"

#include "syntax.h"

#include <cstdint>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#define PELLUX_SCAN_SSE2 1
#endif

namespace {

// The bytes of the table that pass a test, for comparing 16 bytes at a time with each.
struct ByteList {
    unsigned char byte[256] = {};
    int count = 0;
    constexpr explicit ByteList(bool (*test)(unsigned char)) {
        for (int c = 0; c < 256; ++c)
            if (test(static_cast<unsigned char>(c))) byte[count++] = static_cast<unsigned char>(c);
    }
};

constexpr bool acceptedAlone(unsigned char c) { return syntax::isAccepted(c) && !syntax::startsLineRun(c); }

constexpr ByteList kAcceptedAlone(acceptedAlone);
constexpr ByteList kLineEnds(syntax::endsLine);

#ifdef PELLUX_SCAN_SSE2
// Bit i set where byte i of the 16 ends a comment or string line.
// Bit i set where byte i of the 16 is one of the list's.
inline unsigned maskOf(__m128i v, const ByteList& list) {
    __m128i hit = _mm_setzero_si128();
    for (int i = 0; i < list.count; ++i)
        hit = _mm_or_si128(hit, _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(list.byte[i]))));
    return static_cast<unsigned>(_mm_movemask_epi8(hit));
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

// Skips to the end of a comment or string line; returns the position just past the byte that
// ended it, or length.
std::size_t skipLine(const unsigned char* data, std::size_t p, std::size_t length, bool& inRun) {
#ifdef PELLUX_SCAN_SSE2
    while (p + 16 <= length) {
        unsigned mask = maskOf(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + p)), kLineEnds);
        if (mask) { inRun = false; return p + lowestBit(mask) + 1; }
        p += 16;
    }
#endif
    for (; p < length; ++p)
        if (syntax::endsLine(data[p])) { inRun = false; return p + 1; }
    return length;
}

} // namespace

std::size_t scanSyntax(SyntaxScanState& state, const unsigned char* data, std::size_t length) {
    std::size_t p = 0;
    while (p < length) {
        if (state.inRun) { p = skipLine(data, p, length, state.inRun); continue; }
#ifdef PELLUX_SCAN_SSE2
        if (p + 16 <= length) {
            unsigned mask = maskOf(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + p)), kAcceptedAlone);
            if (mask == 0xFFFFu) { p += 16; continue; }
            p += lowestBit(~mask);
        }
#endif
        if (!syntax::isAccepted(data[p])) return p;
        state.inRun = syntax::startsLineRun(data[p]);
        ++p;
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
