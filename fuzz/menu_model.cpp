// The menu model read from an untrusted interactive composition: parsing
// fails cleanly or gives a model whose composition, once written, reads
// back and writes again to the same bytes.
#include <cstdlib>
#include <stdexcept>
#include <vector>

#include "graphics/menu_model.h"

namespace {

std::vector<uint8_t> Write(zv::CDisplaySet& ds) {
  std::vector<uint8_t> out(ds.WriteBytes(nullptr, 0, nullptr));
  if (ds.WriteBytes(out.data(), out.size(), nullptr) != out.size()) std::abort();
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zv::CIgObject ig;
  zv::CEpoch* epoch = ig.AddEpoch();
  // A few graphics and palettes for references to land on.
  for (int i = 0; i < 3; ++i) {
    auto g = std::make_unique<zv::CGraphicObject>();
    g->m_nId = i;
    g->m_nWidth = 10 * (i + 1);
    g->m_nHeight = 8;
    epoch->m_graphics.Add(std::move(g));
    epoch->m_palettes.AddPalette();
  }
  zv::CDisplaySet* ds = epoch->AddDisplaySet();
  if (ds->ParseBytes(data, size, nullptr) == 0) return 0;
  for (size_t p = 0; p < ds->GetCount(); ++p) {
    zv::CPage& page = *ds->GetAt(p);
    for (size_t g = 0; g < page.GetCount(); ++g) (void)zv::ValidateBog(zv::Progress{}, "fuzz", *page.GetAt(g));
  }
  std::vector<uint8_t> first;
  try {
    first = Write(*ds);
  } catch (const std::out_of_range&) {
    return 0;  // more than the 24-bit composition length can carry
  }
  zv::CDisplaySet* again = epoch->AddDisplaySet();
  if (again->ParseBytes(first.data(), first.size(), nullptr) != first.size()) std::abort();
  if (Write(*again) != first) std::abort();
  // Neighbours in both modes must leave a page that still writes.
  for (size_t p = 0; p < again->GetCount(); ++p) {
    zv::ComputeNeighbours(*again->GetAt(p), zv::kNeighboursSpatial);
    zv::ComputeNeighbours(*again->GetAt(p), zv::kNeighboursSequential);
  }
  (void)Write(*again);
  return 0;
}
