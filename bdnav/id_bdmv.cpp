#include "bdnav/id_bdmv.h"

#include <algorithm>
#include <stdexcept>

#include "bdnav/nav_dump.h"
#include "platform/bytes.h"

namespace zv {

size_t EncodeId(const ID_BDMV& id, uint8_t* buf, size_t cap) {
  if (id.typeIndicator.size() != 4 || id.version.size() != 4 || id.body.size() != ID_BDMV::kSize - 8)
    throw std::out_of_range("id.bdmv fields have fixed sizes");
  BeWriter w = buf ? BeWriter(buf, cap) : BeWriter();
  w.Bytes(id.typeIndicator.data(), 4);
  w.Bytes(id.version.data(), 4);
  w.Bytes(id.body.data(), id.body.size());
  return w.Size();
}

std::vector<uint8_t> EncodeId(const ID_BDMV& id) {
  return MeasureThenWrite([&](uint8_t* buf, size_t cap) { return EncodeId(id, buf, cap); });
}

size_t ParseId(const uint8_t* data, size_t size, ID_BDMV& out) {
  ID_BDMV x;
  navdump::Part("id.bdmv", "header", [&] {
    BeReader r(data, size);
    x.typeIndicator = r.Str(4);
    if (x.typeIndicator != "BDID")
      throw FormatError("type indicator is \"" + navdump::Printable(x.typeIndicator) + "\", not \"BDID\"");
    x.version = r.Str(4);
    x.body = r.Vec(ID_BDMV::kSize - 8);
  });
  out = std::move(x);
  return ID_BDMV::kSize;
}

std::string DumpId(const ID_BDMV& id, const std::string& in) {
  using namespace navdump;
  std::string o;
  Str(o, in, "TypeIndicator", Printable(id.typeIndicator));
  Str(o, in, "Version", Printable(id.version));
  // The body is all zero in files the system writes; show it only when not.
  bool zero = std::all_of(id.body.begin(), id.body.end(), [](uint8_t b) { return b == 0; });
  Str(o, in, "Data", zero ? std::string("all zero") : HexBytes(id.body.data(), id.body.size()));
  return o;
}

}  // namespace zv
