// Transport header, PES header, PSI section and ESI parsers on arbitrary
// bytes. Whatever parses must write back to something that parses to the
// same record, with the measured size equal to the written one.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "mux/psi.h"
#include "mux/ts_syntax.h"

namespace {

template <class R>
void RoundTrip(const uint8_t* data, size_t size) {
  R r;
  if (zv::Parse(data, size, r) == 0) return;
  size_t n = zv::Write(r, nullptr, 0);
  // Zero padding lets a PSI-PID header's pointer_field be read back.
  std::vector<uint8_t> out(n + 256, 0);
  if (zv::Write(r, out.data(), n) != n) std::abort();
  R again;
  if (zv::Parse(out.data(), out.size(), again) == 0 || !(again == r)) std::abort();
}

void AllParsers(const uint8_t* data, size_t size) {
  RoundTrip<zv::TS_PACKET_HEADER>(data, size);
  RoundTrip<zv::PES_HEADER>(data, size);
  RoundTrip<zv::ADAPTATION_FIELD>(data, size);
  RoundTrip<zv::PAT_SECTION>(data, size);
  RoundTrip<zv::PMT_SECTION>(data, size);
  RoundTrip<zv::SIT_SECTION>(data, size);
  RoundTrip<zv::ESI>(data, size);
  RoundTrip<zv::AC3_DESCRIPTOR>(data, size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  AllParsers(data, size);
  // Sections are guarded by their CRC; give the fuzzer a copy with a valid
  // one so it reaches the table bodies.
  if (size >= 7) {
    size_t len = 3 + (((data[1] & 0x0F) << 8) | data[2]);
    if (len >= 7 && len <= size) {
      std::vector<uint8_t> fixed(data, data + size);
      uint32_t crc = zv::Crc32Mpeg2(fixed.data(), len - 4);
      for (int i = 0; i < 4; ++i) fixed[len - 4 + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
      AllParsers(fixed.data(), fixed.size());
    }
  }
  return 0;
}
