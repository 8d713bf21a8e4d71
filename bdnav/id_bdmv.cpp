#include "bdnav/id_bdmv.h"

#include <cstring>
#include <stdexcept>

#include "records/syntax.h"

namespace zv {

// Type indicator, version, and a body the system leaves 0.
template <class IO>
void Syntax(IO& io, ID_BDMV& x) {
  io.Part("id.bdmv", [&] {
    io.Part("header", [&] {
      io.Text(4, "TypeIndicator", x.typeIndicator);
      if constexpr (IO::kReading)
        if (x.typeIndicator != "BDID")
          io.Fail("type indicator is \"" + PrintableText(x.typeIndicator) + "\", not \"BDID\"");
      io.Text(4, "Version", x.version);
      io.Raw(ID_BDMV::kSize - 8, "Data", x.body, rec::ZeroOrHexBytes{});
    });
  });
}

size_t EncodeId(const ID_BDMV& id, uint8_t* buf, size_t cap) { return rec::EncodeInto(id, buf, cap); }

std::vector<uint8_t> EncodeId(const ID_BDMV& id) { return rec::Encode(id); }

size_t ParseId(const uint8_t* data, size_t size, ID_BDMV& out) { return rec::Decode(data, size, out); }

std::string DumpId(const ID_BDMV& id, const std::string& indent) {
  SDumpNode root;
  DumpIdTree(id, root);
  return root.Render(indent);
}

void DumpIdTree(const ID_BDMV& id, SDumpNode& root) { rec::DumpRecord(id, root); }

void DumpIdBytes(const uint8_t* data, size_t size, SDumpNode& root) { rec::DumpBytes<ID_BDMV>(data, size, root); }

}  // namespace zv
