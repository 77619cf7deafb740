#include "block_scan.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "simd.h"

namespace quenvar::cli {
namespace {

#if QUENVAR_SSE2
// Blocks are asked for this far ahead: a mapped file's pages come from memory, where the
// processor's own prefetching stops at the end of each page.
constexpr std::size_t kPrefetch = 1024;

// Where the blocks before `limit` are scanned in runs, so that byte counters of newlines that
// take `perCounter` places of each 64-byte block (one a register) cannot pass 255 within a run.
inline const unsigned char* runEnd(const unsigned char* p, const unsigned char* limit,
                                   std::size_t perCounter) {
  return p + 64 * std::min<std::size_t>(255 / perCounter, static_cast<std::size_t>(limit - p) / 64);
}

// 64 places at a time while they lie before `limit`: where the pair begins, or nullptr with `p`
// past the blocks. Newlines go to byte counters, added up before any can overflow.
const unsigned char* blocksSse2(const unsigned char*& p, const unsigned char* limit,
                                const LetterPair& pair, std::uint64_t& newlines) {
  const __m128i lower = _mm_set1_epi8(0x20), newline = _mm_set1_epi8('\n');
  const __m128i first = _mm_set1_epi8(static_cast<char>(pair.first));
  const __m128i second = _mm_set1_epi8(static_cast<char>(pair.second));
  auto load = [](const unsigned char* at) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
  };
  auto starts = [&](const unsigned char* at, __m128i x) {
    return _mm_and_si128(_mm_cmpeq_epi8(_mm_or_si128(x, lower), first),
                         _mm_cmpeq_epi8(_mm_or_si128(load(at + pair.distance), lower), second));
  };
  auto bits = [](__m128i m0, __m128i m1, __m128i m2, __m128i m3) {
    std::uint64_t mask = 0;
    int shift = 0;
    for (const __m128i m : {m0, m1, m2, m3}) {
      mask |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(m))) << shift;
      shift += 16;
    }
    return mask;
  };
  while (limit - p >= 64) {
    __m128i counters = _mm_setzero_si128();
    const unsigned char* found = nullptr;
    std::uint64_t after = 0;  // newlines of the last block from the pair on
    const unsigned char* const stop = runEnd(p, limit, 64 / sizeof(__m128i));
    for (; p < stop && !found; p += 64) {
      _mm_prefetch(reinterpret_cast<const char*>(p + kPrefetch), _MM_HINT_T0);
      const __m128i x0 = load(p), x1 = load(p + 16), x2 = load(p + 32), x3 = load(p + 48);
      const __m128i n0 = _mm_cmpeq_epi8(x0, newline), n1 = _mm_cmpeq_epi8(x1, newline),
                    n2 = _mm_cmpeq_epi8(x2, newline), n3 = _mm_cmpeq_epi8(x3, newline);
      counters = _mm_sub_epi8(_mm_sub_epi8(counters, _mm_add_epi8(n0, n1)), _mm_add_epi8(n2, n3));
      const __m128i s0 = starts(p, x0), s1 = starts(p + 16, x1), s2 = starts(p + 32, x2),
                    s3 = starts(p + 48, x3);
      if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(s0, s1), _mm_or_si128(s2, s3))) != 0) {
        const int at = std::countr_zero(bits(s0, s1, s2, s3));
        found = p + at;
        after = static_cast<std::uint64_t>(std::popcount(bits(n0, n1, n2, n3) >> at));
      }
    }
    const __m128i sums = _mm_sad_epu8(counters, _mm_setzero_si128());
    newlines += static_cast<std::uint32_t>(_mm_cvtsi128_si32(sums)) +
                static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(sums, 8))) - after;
    if (found)
      return found;
  }
  return nullptr;
}
#endif

#if QUENVAR_AVX2
// The same, 32 places to a register. (A lambda would not share the target.)
[[gnu::target("avx2")]] const unsigned char* blocksAvx2(const unsigned char*& p,
                                                        const unsigned char* limit,
                                                        const LetterPair& pair,
                                                        std::uint64_t& newlines) {
  const __m256i lower = _mm256_set1_epi8(0x20), newline = _mm256_set1_epi8('\n');
  const __m256i first = _mm256_set1_epi8(static_cast<char>(pair.first));
  const __m256i second = _mm256_set1_epi8(static_cast<char>(pair.second));
#define QUENVAR_LOAD(at) _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at))
#define QUENVAR_IS(x, c) _mm256_cmpeq_epi8(_mm256_or_si256(x, lower), c)
#define QUENVAR_BITS(low, high)                            \
  (static_cast<std::uint32_t>(_mm256_movemask_epi8(low)) | \
   static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm256_movemask_epi8(high))) << 32)
  while (limit - p >= 64) {
    __m256i counters = _mm256_setzero_si256();
    const unsigned char* found = nullptr;
    std::uint64_t after = 0;
    const unsigned char* const stop = runEnd(p, limit, 64 / sizeof(__m256i));
    for (; p < stop && !found; p += 64) {
      _mm_prefetch(reinterpret_cast<const char*>(p + kPrefetch), _MM_HINT_T0);
      const __m256i x0 = QUENVAR_LOAD(p), x1 = QUENVAR_LOAD(p + 32);
      const __m256i n0 = _mm256_cmpeq_epi8(x0, newline), n1 = _mm256_cmpeq_epi8(x1, newline);
      counters = _mm256_sub_epi8(counters, _mm256_add_epi8(n0, n1));
      const __m256i s0 = _mm256_and_si256(QUENVAR_IS(x0, first),
                                          QUENVAR_IS(QUENVAR_LOAD(p + pair.distance), second));
      const __m256i s1 = _mm256_and_si256(QUENVAR_IS(x1, first),
                                          QUENVAR_IS(QUENVAR_LOAD(p + 32 + pair.distance), second));
      const __m256i any = _mm256_or_si256(s0, s1);
      if (!_mm256_testz_si256(any, any)) {
        const int at = std::countr_zero(QUENVAR_BITS(s0, s1));
        found = p + at;
        after = static_cast<std::uint64_t>(std::popcount(QUENVAR_BITS(n0, n1) >> at));
      }
    }
#undef QUENVAR_LOAD
#undef QUENVAR_IS
#undef QUENVAR_BITS
    const __m256i sums = _mm256_sad_epu8(counters, _mm256_setzero_si256());
    newlines += static_cast<std::uint64_t>(_mm256_extract_epi64(sums, 0)) +
                static_cast<std::uint64_t>(_mm256_extract_epi64(sums, 1)) +
                static_cast<std::uint64_t>(_mm256_extract_epi64(sums, 2)) +
                static_cast<std::uint64_t>(_mm256_extract_epi64(sums, 3)) - after;
    if (found)
      return found;
  }
  return nullptr;
}
#endif

#if !QUENVAR_SSE2
std::uint64_t load64(const unsigned char* p) {
  std::uint64_t v;
  std::memcpy(&v, p, sizeof(v));
  return v;
}
constexpr std::uint64_t repeated(unsigned char c) {
  return 0x0101010101010101ull * c;
}
// 0x80 in each byte of x that is zero.
constexpr std::uint64_t zeroBytes(std::uint64_t x) {
  constexpr std::uint64_t kLow7 = repeated(0x7F);
  return ~(((x & kLow7) + kLow7) | x | kLow7);
}
#endif

}  // namespace

const unsigned char* findLetterPair(const unsigned char* from, const unsigned char* limit,
                                    const LetterPair& pair, std::uint64_t& newlines) {
  const unsigned char* p = from;
#if QUENVAR_AVX2
  static const bool avx2 = __builtin_cpu_supports("avx2");
  if (const unsigned char* found =
          avx2 ? blocksAvx2(p, limit, pair, newlines) : blocksSse2(p, limit, pair, newlines))
    return found;
#elif QUENVAR_SSE2
  if (const unsigned char* found = blocksSse2(p, limit, pair, newlines))
    return found;
#else
  // Eight places at a time: a byte of (x | 0x20) ^ c is zero where x is c in either case. The
  // bytes of a multiplication add up the newlines, where a popcount without the instruction would
  // take a dozen steps.
  for (; limit - p >= 8; p += 8) {
    const std::uint64_t bytes = load64(p);
    const std::uint64_t first = (bytes | repeated(0x20)) ^ repeated(pair.first);
    const std::uint64_t second =
        (load64(p + pair.distance) | repeated(0x20)) ^ repeated(pair.second);
    if ((zeroBytes(first) & zeroBytes(second)) != 0)
      break;  // the pair begins in these eight: found below
    newlines += ((zeroBytes(bytes ^ repeated('\n')) >> 7) * repeated(1)) >> 56;
  }
#endif
  for (; p < limit; ++p) {
    if ((p[0] | 0x20) == pair.first && (p[pair.distance] | 0x20) == pair.second)
      return p;
    newlines += *p == '\n';
  }
  return nullptr;
}

}  // namespace quenvar::cli
