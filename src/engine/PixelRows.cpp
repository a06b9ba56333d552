#include "PixelRows.h"

#include <QtEndian>

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define PELLORAN_SSSE3 1
#endif

namespace
{

// Four pixels from or into three 32-bit words: no byte handled on its own.
void packScalar(const QRgb *in, uchar *out, qint64 x, qint64 count)
{
    for (; x + 4 <= count; x += 4) {
        const quint32 p0 = in[x] & 0xFFFFFF, p1 = in[x + 1] & 0xFFFFFF, p2 = in[x + 2] & 0xFFFFFF,
                      p3 = in[x + 3] & 0xFFFFFF;
        const quint32 word[3] = {qToLittleEndian(p0 | (p1 << 24)),
                                 qToLittleEndian((p1 >> 8) | (p2 << 16)),
                                 qToLittleEndian((p2 >> 16) | (p3 << 8))};
        std::memcpy(out + 3 * x, word, 12);
    }
    for (; x < count; ++x) {
        out[3 * x] = uchar(qBlue(in[x]));
        out[3 * x + 1] = uchar(qGreen(in[x]));
        out[3 * x + 2] = uchar(qRed(in[x]));
    }
}

void unpackScalar(const uchar *in, QRgb *out, qint64 x, qint64 count)
{
    for (; x + 4 <= count; x += 4) {
        quint32 word[3];
        std::memcpy(word, in + 3 * x, 12);
        const quint32 a = qFromLittleEndian(word[0]), b = qFromLittleEndian(word[1]),
                      c = qFromLittleEndian(word[2]);
        out[x] = 0xFF000000u | a;
        out[x + 1] = 0xFF000000u | (a >> 24) | (b << 8);
        out[x + 2] = 0xFF000000u | (b >> 16) | (c << 16);
        out[x + 3] = 0xFF000000u | (c >> 8);
    }
    for (; x < count; ++x)
        out[x] = 0xFF000000u | (uint(in[3 * x + 2]) << 16) | (uint(in[3 * x + 1]) << 8) | in[3 * x];
}

#ifdef PELLORAN_SSSE3
__attribute__((target("ssse3"))) qint64 packSsse3(const QRgb *in, uchar *out, qint64 count)
{
    const __m128i drop = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    qint64 x = 0;
    for (; x + 16 <= count; x += 16) {
        const auto *p = reinterpret_cast<const __m128i *>(in + x);
        const __m128i a = _mm_shuffle_epi8(_mm_loadu_si128(p), drop);
        const __m128i b = _mm_shuffle_epi8(_mm_loadu_si128(p + 1), drop);
        const __m128i c = _mm_shuffle_epi8(_mm_loadu_si128(p + 2), drop);
        const __m128i d = _mm_shuffle_epi8(_mm_loadu_si128(p + 3), drop);
        auto *o = reinterpret_cast<__m128i *>(out + 3 * x);
        _mm_storeu_si128(o, _mm_or_si128(a, _mm_slli_si128(b, 12)));
        _mm_storeu_si128(o + 1, _mm_or_si128(_mm_srli_si128(b, 4), _mm_slli_si128(c, 8)));
        _mm_storeu_si128(o + 2, _mm_or_si128(_mm_srli_si128(c, 8), _mm_slli_si128(d, 4)));
    }
    return x;
}

__attribute__((target("ssse3"))) qint64 unpackSsse3(const uchar *in, QRgb *out, qint64 count)
{
    const __m128i spread = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    const __m128i opaque = _mm_set1_epi32(int(0xFF000000u));
    qint64 x = 0;
    for (; x + 16 <= count; x += 16) {
        const auto *p = reinterpret_cast<const __m128i *>(in + 3 * x);
        const __m128i i0 = _mm_loadu_si128(p), i1 = _mm_loadu_si128(p + 1),
                      i2 = _mm_loadu_si128(p + 2);
        auto *o = reinterpret_cast<__m128i *>(out + x);
        _mm_storeu_si128(o, _mm_or_si128(_mm_shuffle_epi8(i0, spread), opaque));
        _mm_storeu_si128(
            o + 1, _mm_or_si128(_mm_shuffle_epi8(_mm_alignr_epi8(i1, i0, 12), spread), opaque));
        _mm_storeu_si128(
            o + 2, _mm_or_si128(_mm_shuffle_epi8(_mm_alignr_epi8(i2, i1, 8), spread), opaque));
        _mm_storeu_si128(o + 3,
                         _mm_or_si128(_mm_shuffle_epi8(_mm_srli_si128(i2, 4), spread), opaque));
    }
    return x;
}

// Four pixels: equal lanes take the mask colour, the others the transparency colour,
// packed back into 12 bytes.
__attribute__((target("ssse3"))) inline __m128i ruleSsse3(__m128i px, __m128i t, __m128i m,
                                                          __m128i drop)
{
    const __m128i hit = _mm_cmpeq_epi32(px, t);
    return _mm_shuffle_epi8(_mm_or_si128(_mm_and_si128(hit, m), _mm_andnot_si128(hit, t)), drop);
}

__attribute__((target("ssse3"))) qint64 maskSsse3(const uchar *in, uchar *out, qint64 count,
                                                  quint32 transparent, quint32 mask)
{
    const __m128i spread = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    const __m128i drop = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    const __m128i t = _mm_set1_epi32(int(transparent)), m = _mm_set1_epi32(int(mask));
    qint64 x = 0;
    for (; x + 16 <= count; x += 16) {
        const auto *p = reinterpret_cast<const __m128i *>(in + 3 * x);
        const __m128i i0 = _mm_loadu_si128(p), i1 = _mm_loadu_si128(p + 1),
                      i2 = _mm_loadu_si128(p + 2);
        const __m128i a = ruleSsse3(_mm_shuffle_epi8(i0, spread), t, m, drop);
        const __m128i b =
            ruleSsse3(_mm_shuffle_epi8(_mm_alignr_epi8(i1, i0, 12), spread), t, m, drop);
        const __m128i c =
            ruleSsse3(_mm_shuffle_epi8(_mm_alignr_epi8(i2, i1, 8), spread), t, m, drop);
        const __m128i d = ruleSsse3(_mm_shuffle_epi8(_mm_srli_si128(i2, 4), spread), t, m, drop);
        auto *o = reinterpret_cast<__m128i *>(out + 3 * x);
        _mm_storeu_si128(o, _mm_or_si128(a, _mm_slli_si128(b, 12)));
        _mm_storeu_si128(o + 1, _mm_or_si128(_mm_srli_si128(b, 4), _mm_slli_si128(c, 8)));
        _mm_storeu_si128(o + 2, _mm_or_si128(_mm_srli_si128(c, 8), _mm_slli_si128(d, 4)));
    }
    return x;
}

bool haveSsse3()
{
    static const bool have = __builtin_cpu_supports("ssse3");
    return have;
}
#endif

} // namespace

void packRow24(const QRgb *in, uchar *out, qint64 count)
{
    qint64 done = 0;
#ifdef PELLORAN_SSSE3
    if (haveSsse3())
        done = packSsse3(in, out, count);
#endif
    packScalar(in, out, done, count);
}

void unpackRow24(const uchar *in, QRgb *out, qint64 count)
{
    qint64 done = 0;
#ifdef PELLORAN_SSSE3
    if (haveSsse3())
        done = unpackSsse3(in, out, count);
#endif
    unpackScalar(in, out, done, count);
}

void maskRow24(const uchar *in, uchar *out, qint64 count, quint32 transparent, quint32 mask)
{
    qint64 x = 0;
#ifdef PELLORAN_SSSE3
    if (haveSsse3())
        x = maskSsse3(in, out, count, transparent, mask);
#endif
    for (; x < count; ++x) {
        const quint32 p = in[3 * x] | quint32(in[3 * x + 1]) << 8 | quint32(in[3 * x + 2]) << 16;
        const quint32 v = p == transparent ? mask : transparent;
        out[3 * x] = uchar(v);
        out[3 * x + 1] = uchar(v >> 8);
        out[3 * x + 2] = uchar(v >> 16);
    }
}
