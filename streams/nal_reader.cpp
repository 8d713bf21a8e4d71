#include "streams/nal_reader.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace zv {

#if defined(__SSE2__)
namespace {

// Slice data is close to random: a zero byte comes every 256 bytes or so,
// a pair of zeros only every 64 KiB. So the search looks for zero pairs a
// block at a time, from one compare per block: bit k of `ends` says bytes
// k-1 and k are both zero (bit 0 takes byte -1 from the block before), so a
// 0x01 at k+1 completes a start code. Returns the smallest such position at
// or after `from`, and n when there is none.
size_t ScanTail(const uint8_t* p, size_t q, size_t from, size_t n) {
  for (size_t j = std::max(q + 1, from); j < n; ++j)
    if (p[j] == 1 && p[j - 1] == 0 && p[j - 2] == 0) return j;
  return n;
}

size_t FindStartCodeSse2(const uint8_t* p, size_t from, size_t n) {
  size_t q = from - 2;  // first byte of the first block
  unsigned carry = 0;   // the byte before the block is zero
  const __m128i zero = _mm_setzero_si128();
  for (; q + 16 <= n; q += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + q));
    const unsigned m = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(a, zero)));
    for (unsigned ends = m & ((m << 1) | carry); ends; ends &= ends - 1) {
      const size_t j = q + static_cast<size_t>(__builtin_ctz(ends)) + 1;
      if (j < n && p[j] == 1) return j;
    }
    carry = m >> 15;
  }
  return ScanTail(p, q, from, n);
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define ZV_HAVE_AVX2_SCAN 1
__attribute__((target("avx2"))) size_t FindStartCodeAvx2(const uint8_t* p, size_t from, size_t n) {
  size_t q = from - 2;
  uint32_t carry = 0;
  const __m256i zero = _mm256_setzero_si256();
  for (; q + 32 <= n; q += 32) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + q));
    const auto m = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(a, zero)));
    for (uint32_t ends = m & ((m << 1) | carry); ends; ends &= ends - 1) {
      const size_t j = q + static_cast<size_t>(__builtin_ctz(ends)) + 1;
      if (j < n && p[j] == 1) return j;
    }
    carry = m >> 31;
  }
  return ScanTail(p, q, from, n);
}
#endif

}  // namespace
#endif

size_t FindStartCode(const uint8_t* p, size_t from, size_t n) {
#if defined(ZV_HAVE_AVX2_SCAN)
  static const bool avx2 = __builtin_cpu_supports("avx2");
  if (avx2) {
    if (n < 3 || from >= n) return n;
    return FindStartCodeAvx2(p, std::max<size_t>(from, 2), n);
  }
#endif
  return FindStartCodeBaseline(p, from, n);
}

size_t FindStartCodeBaseline(const uint8_t* p, size_t from, size_t n) {
  if (n < 3 || from >= n) return n;
  if (from < 2) from = 2;
#if defined(__SSE2__)
  return FindStartCodeSse2(p, from, n);
#else
  for (size_t i = from; i < n;) {
    auto* one = static_cast<const uint8_t*>(std::memchr(p + i, 1, n - i));
    if (!one) break;
    const size_t j = static_cast<size_t>(one - p);
    if (p[j - 1] == 0 && p[j - 2] == 0) return j;
    i = j + 1;
  }
  return n;
#endif
}

bool CNalReader::NextByte() {
  if (pos_ < n_ && zeros_ >= 2 && p_[pos_] == 0x03) {
    ++pos_;
    zeros_ = 0;
  }
  if (pos_ >= n_) return false;
  cur_ = p_[pos_++];
  zeros_ = cur_ == 0 ? zeros_ + 1 : 0;
  bitsLeft_ = 8;
  return true;
}

uint32_t CNalReader::Bits(unsigned n) {
  uint64_t v = 0;
  while (n > 0) {
    if (bitsLeft_ == 0 && !NextByte()) throw FormatError("NAL unit ends inside a syntax element");
    unsigned take = n < bitsLeft_ ? n : bitsLeft_;
    v = (v << take) | ((cur_ >> (bitsLeft_ - take)) & ((1u << take) - 1));
    bitsLeft_ -= take;
    n -= take;
    bitPos_ += take;
  }
  return static_cast<uint32_t>(v);
}

uint32_t CNalReader::Ue() {
  unsigned zeros = 0;
  while (Bits(1) == 0) {
    if (++zeros > 31) throw FormatError("Exp-Golomb code too long");
  }
  if (zeros == 0) return 0;
  uint64_t v = (uint64_t{1} << zeros) - 1 + Bits(zeros);
  if (v > 0xFFFFFFFEull) throw FormatError("Exp-Golomb value out of range");
  return static_cast<uint32_t>(v);
}

int32_t CNalReader::Se() {
  uint32_t k = Ue();
  int64_t v = (k & 1) ? (int64_t{k} + 1) / 2 : -(int64_t{k} / 2);
  return static_cast<int32_t>(v);
}

void CNalReader::Skip(uint64_t n) {
  while (n >= 32) {
    Bits(32);
    n -= 32;
  }
  if (n) Bits(static_cast<unsigned>(n));
}

bool CNalReader::AtTrailingBits() const {
  // What is left of the current byte plus the raw bytes after it.
  if (pos_ >= n_) return bitsLeft_ == 0 || (cur_ & ((1u << bitsLeft_) - 1)) == (1u << (bitsLeft_ - 1));
  if (bitsLeft_ == 0) return pos_ + 1 == n_ && p_[pos_] == 0x80;
  return false;
}

}  // namespace zv
