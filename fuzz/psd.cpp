// Layered-document reader on untrusted bytes; whatever parses is also built
// into a menu, which decodes and renders the layers the design names.
#include "graphics/menu_model.h"
#include "graphics/psd_file.h"
#include "graphics/psd_import.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zv::CPsdFile psd;
  if (zv::ParsePsd(data, size, psd) != zv::kOk) return 0;
  // Every layer small enough to render quickly is rendered on its own.
  for (zv::CLayerInfo& layer : psd.m_layers) {
    if (static_cast<int64_t>(layer.m_rect.Width()) * layer.m_rect.Height() > (1 << 16)) continue;
    if (zv::DecodeChannels(psd.m_header, layer)) zv::LayerImage(psd, layer);
    zv::ReleaseChannels(layer);
    zv::ParseLayerName(layer);
  }
  uint64_t area = 0;
  for (const zv::CLayerInfo& layer : psd.m_layers)
    area += static_cast<uint64_t>(layer.m_rect.Width()) * static_cast<uint64_t>(layer.m_rect.Height());
  if (area <= (1u << 18)) {
    zv::CIgObject ig;
    zv::BuildMenuFromPsd(ig, psd);
  }
  return 0;
}
