#include "graphics/psd_import.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "platform/file.h"
#include "platform/paths.h"

namespace zv {

const char* PsdImportMessage(int code) {
  switch (code) {
    case kPsdImportOk: return "Import OK";
    case kPsdImportCancelled: return "Import cancelled";
    case kPsdWrongFile: return "Wrong or unsupported PSD file! ";
    case kPsdUndefinedButton: return "Undefined Button Layer group: B! ";
    case kPsdUndefinedBog: return "Undefined Bog Layer group: Bog! ";
    case kPsdUndefinedPage: return "Undefined Page Layer group:P! ";
    case kPsdUndefinedDisplaySet: return "Undefined DS Layer group:DS! ";
    case kPsdUndefinedIg: return "Undefined IG Layer group:Ig! ";
    case kPsdMultiDisplaySet: return "Multi-DS Layer groups are defined! ";
    case kPsdMultiIg: return "Multi-IG Layer groups are defined! ";
    case kPsdLayerImageFailed: return "Failed to create layer image, layer may be empty? ";
    case kPsdNoDisplaySet: return "Wrong PSD format: No DisplaySet defined! ";
    case kPsdTooManyButtons: return "A page holds at most 8160 buttons! ";
    case kPsdTooManyGraphics: return "An epoch holds at most 65535 graphics! ";
    default: return "Wrong or unsupported PSD file! ";
  }
}

// ---------------------------------------------------------------------------

namespace {

// Copies `src` into `dst` (Argb32 or Rgb24) at (x0, y0); both formats and
// indexed sources are converted pixel by pixel, without blending.
void Blit(const CPicture& src, CPicture& dst, int x0, int y0) {
  const int dbpp = CPicture::BytesPerPixel(dst.format);
  for (int y = 0; y < src.height; ++y) {
    uint8_t* d = dst.Row(y0 + y) + static_cast<size_t>(x0) * dbpp;
    if (src.format == dst.format) {
      std::memcpy(d, src.Row(y), src.Stride());
      continue;
    }
    for (int x = 0; x < src.width; ++x, d += dbpp) {
      const SColor c = src.At(x, y);
      if (dst.format == PixelFormat::Argb32) {
        d[0] = src.format == PixelFormat::Rgb24 ? 255 : c.a;
        d[1] = c.r, d[2] = c.g, d[3] = c.b;
      } else {
        d[0] = c.r, d[1] = c.g, d[2] = c.b;
      }
    }
  }
}

// The groups that hold layer `index`, innermost first (the records run
// from the bottom of the list up: a group's record lies above its layers,
// its end marker below them).
std::vector<size_t> EnclosingGroups(const CPsdFile& psd, size_t index) {
  std::vector<size_t> open;
  for (size_t i = psd.m_layers.size(); i-- > index + 1;) {
    const CLayerInfo& l = psd.m_layers[i];
    if (l.IsGroup()) open.push_back(i);
    else if (l.m_nSectionType == kPsdGroupEnd && !open.empty()) open.pop_back();
  }
  return {open.rbegin(), open.rend()};
}

// The layer's opacity and user mask (0..255) at document position (x, y).
// A mask that is disabled (flag bit 1) counts as none.
class CLayerCover {
 public:
  CLayerCover(const CPsdFile& psd, CLayerInfo& layer) : opacity_(layer.m_nOpacity) {
    if (layer.m_mask.m_nLength == 0 || (layer.m_mask.m_nFlags & 2)) return;
    if (!DecodeChannels(psd.m_header, layer)) return;
    if (const CChannelData* c = layer.Channel(kPsdUserMaskChannel); c && !c->m_pixels.empty()) {
      mask_ = c->m_pixels;
      rect_ = layer.ChannelRect(kPsdUserMaskChannel);
      hasMask_ = true;
    }
    defaultValue_ = layer.m_mask.m_nDefaultColour;
    ReleaseChannels(layer);
  }
  bool Changes() const { return opacity_ != 255 || hasMask_; }
  int At(int x, int y) const {
    int v = 255;
    if (hasMask_) {
      if (x >= rect_.left && x < rect_.right && y >= rect_.top && y < rect_.bottom)
        v = mask_[static_cast<size_t>(y - rect_.top) * static_cast<size_t>(rect_.Width()) +
                  static_cast<size_t>(x - rect_.left)];
      else v = defaultValue_;
    }
    return (v * opacity_ + 127) / 255;
  }

 private:
  int opacity_;
  bool hasMask_ = false;
  std::vector<uint8_t> mask_;
  SRect rect_;
  int defaultValue_ = 255;
};

// Applies the opacity and mask of the layer and of every group holding it
// to the layer's picture (made Argb32 when anything changes).
void ApplyCover(CPsdFile& psd, size_t index, CPicture& pic) {
  std::vector<CLayerCover> covers;
  covers.emplace_back(psd, psd.m_layers[index]);
  for (size_t g : EnclosingGroups(psd, index)) covers.emplace_back(psd, psd.m_layers[g]);
  bool changes = false;
  for (const CLayerCover& c : covers) changes = changes || c.Changes();
  if (!changes) return;
  const SRect& r = psd.m_layers[index].m_rect;
  CPicture out;
  out.Allocate(pic.width, pic.height, PixelFormat::Argb32);
  for (int y = 0; y < pic.height; ++y)
    for (int x = 0; x < pic.width; ++x) {
      const SColor c = pic.At(x, y);
      int a = pic.format == PixelFormat::Rgb24 ? 255 : c.a;
      for (const CLayerCover& cover : covers) a = (a * cover.At(r.left + x, r.top + y) + 127) / 255;
      uint8_t* d = out.Row(y) + static_cast<size_t>(x) * 4;
      d[0] = static_cast<uint8_t>(a), d[1] = c.r, d[2] = c.g, d[3] = c.b;
    }
  pic = std::move(out);
}

void Clear(CPicture& pic, SColor c) {
  const int bpp = CPicture::BytesPerPixel(pic.format);
  uint8_t px[4];
  if (pic.format == PixelFormat::Argb32) px[0] = c.a, px[1] = c.r, px[2] = c.g, px[3] = c.b;
  else px[0] = c.r, px[1] = c.g, px[2] = c.b;
  uint8_t* p = pic.pixels.data();
  const size_t n = static_cast<size_t>(pic.width) * pic.height;
  for (size_t i = 0; i < n; ++i, p += bpp) std::memcpy(p, px, static_cast<size_t>(bpp));
}

// The quantizer gives each colour the alpha of the first pixel mapped to
// it, which for a shape with soft edges is an edge pixel: the whole shape
// would turn nearly transparent. Each entry takes the alpha most of its
// pixels have instead (an exact palette keeps its values; the entry of the
// invisible pixels stays transparent).
void MajorityAlpha(const CPicture& source, CPicture& indexed) {
  if (source.format != PixelFormat::Argb32 || indexed.table.empty()) return;
  std::vector<uint32_t> counts(indexed.table.size() * 256, 0);
  const size_t n = static_cast<size_t>(source.width) * source.height;
  const uint8_t* a = source.pixels.data();
  for (size_t i = 0; i < n; ++i, a += 4) {
    const uint8_t index = indexed.pixels[i];
    if (index < indexed.table.size()) ++counts[size_t{index} * 256 + *a];
  }
  for (size_t e = 0; e < indexed.table.size(); ++e) {
    if (static_cast<int>(e) == indexed.transparentIndex) continue;
    const uint32_t* c = counts.data() + e * 256;
    const size_t best = static_cast<size_t>(std::max_element(c, c + 256) - c);
    if (c[best] > 0) indexed.table[e].a = static_cast<uint8_t>(best);
  }
}

}  // namespace

std::optional<std::vector<CPicture>> CommonPaletteQuantize(const std::vector<CPicture>& pictures) {
  if (pictures.empty()) return std::nullopt;
  for (const CPicture& p : pictures)
    if (p.width <= 0 || p.height <= 0 || p.pixels.size() < p.Stride() * static_cast<size_t>(p.height))
      return std::nullopt;
  if (pictures.size() == 1) {
    std::optional<CPicture> one = ToIndexedImage(pictures[0]);
    if (!one || one->table.empty()) return std::nullopt;
    if (!HasPartialAlpha(pictures[0])) MajorityAlpha(pictures[0], *one);
    return std::vector<CPicture>{std::move(*one)};
  }
  uint64_t width = 0;
  int height = 0;
  bool alpha = false;
  for (const CPicture& p : pictures) {
    width += static_cast<uint64_t>(p.width);
    height = std::max(height, p.height);
    alpha = alpha || p.format == PixelFormat::Argb32 || (p.format == PixelFormat::Indexed8 && p.tableHasAlpha);
  }
  if (width > static_cast<uint64_t>(INT32_MAX) || width * static_cast<uint64_t>(height) > kMaxPictureArea)
    return std::nullopt;
  CPicture canvas;
  canvas.Allocate(static_cast<int>(width), height, alpha ? PixelFormat::Argb32 : PixelFormat::Rgb24);
  Clear(canvas, pictures[0].At(0, 0));
  std::vector<int> xs;
  int x = 0;
  for (const CPicture& p : pictures) {
    xs.push_back(x);
    Blit(p, canvas, x, (height - p.height) / 2);
    x += p.width;
  }
  std::optional<CPicture> indexed = ToIndexedImage(canvas);
  if (!indexed || indexed->table.empty()) return std::nullopt;
  // Soft edges were quantized with their alpha; only pictures of plain
  // cut-outs need the majority's.
  if (!HasPartialAlpha(canvas)) MajorityAlpha(canvas, *indexed);
  std::vector<CPicture> out;
  out.reserve(pictures.size());
  for (size_t i = 0; i < pictures.size(); ++i) {
    const CPicture& p = pictures[i];
    CPicture piece;
    piece.Allocate(p.width, p.height, PixelFormat::Indexed8);
    const int y0 = (height - p.height) / 2;
    for (int y = 0; y < p.height; ++y)
      std::memcpy(piece.Row(y), indexed->Row(y0 + y) + xs[i], static_cast<size_t>(p.width));
    piece.table = indexed->table;
    piece.tableHasAlpha = indexed->tableHasAlpha;
    piece.transparentIndex = indexed->transparentIndex;
    out.push_back(std::move(piece));
  }
  return out;
}

// ---------------------------------------------------------------------------

namespace {

SRect Union(const SRect& a, const SRect& b) {
  return SRect{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right), std::max(a.bottom, b.bottom)};
}

// The picture centred on a canvas of `w` x `h` filled with index `fill`,
// then cut by `cropX` columns and `cropY` rows from the top left and to
// `keepW` x `keepH` (for a button reaching past the page's edges).
CPicture Place(const CPicture& pic, int w, int h, int cropX, int cropY, int keepW, int keepH, uint8_t fill) {
  CPicture canvas;
  canvas.Allocate(keepW, keepH, PixelFormat::Indexed8);
  std::memset(canvas.pixels.data(), fill, canvas.pixels.size());
  const int ox = (w - pic.width) / 2 - cropX, oy = (h - pic.height) / 2 - cropY;
  for (int y = 0; y < pic.height; ++y) {
    const int ty = oy + y;
    if (ty < 0 || ty >= canvas.height) continue;
    const int x0 = std::max(0, -ox), x1 = std::min(pic.width, canvas.width - ox);
    if (x1 > x0) std::memcpy(canvas.Row(ty) + ox + x0, pic.Row(y) + x0, static_cast<size_t>(x1 - x0));
  }
  canvas.table = pic.table;
  canvas.tableHasAlpha = pic.tableHasAlpha;
  canvas.transparentIndex = pic.transparentIndex;
  return canvas;
}

const char* const kStateWords[3] = {"Normal", "Selected", "Activated"};

}  // namespace

int BuildPageGraphics(CPage& page, CEpoch& epoch, CPsdFile& psd, const std::vector<SPsdButtonLayers>& buttons) {
  // Pictures in BOG, button, state and layer order.
  struct SItem {
    const SPsdButtonLayers* button;
    int state;
    size_t layer;
  };
  std::vector<SItem> items;
  for (size_t g = 0; g < page.GetCount(); ++g)
    for (size_t b = 0; b < page.GetAt(g)->GetCount(); ++b) {
      const CBdButton* button = page.GetAt(g)->GetAt(b);
      for (const SPsdButtonLayers& bl : buttons) {
        if (bl.button != button) continue;
        for (int s = 0; s < 3; ++s)
          for (size_t layer : bl.states[static_cast<size_t>(s)]) items.push_back(SItem{&bl, s, layer});
      }
    }
  // They all go onto one canvas: refuse what it could not hold before
  // drawing any of them.
  uint64_t area = 0;
  for (const SItem& it : items) {
    const SRect& r = psd.m_layers[it.layer].m_rect;
    area += static_cast<uint64_t>(std::max(r.Width(), 0)) * static_cast<uint64_t>(std::max(r.Height(), 0));
  }
  if (area > kMaxPictureArea) return kPsdLayerImageFailed;
  std::vector<CPicture> pictures;
  pictures.reserve(items.size());
  for (const SItem& it : items) {
    CLayerInfo& layer = psd.m_layers[it.layer];
    std::optional<CPicture> pic;
    if (DecodeChannels(psd.m_header, layer)) pic = LayerImage(psd, layer);
    ReleaseChannels(layer);
    if (!pic) return kPsdLayerImageFailed;
    ApplyCover(psd, it.layer, *pic);
    pictures.push_back(std::move(*pic));
  }
  std::optional<std::vector<CPicture>> indexed = CommonPaletteQuantize(pictures);
  if (!indexed) return kPsdLayerImageFailed;
  pictures.clear();
  const CPicture& first = indexed->front();
  const int transparent = first.transparentIndex >= 0 ? first.transparentIndex : 255;
  CErgbPalette* palette = epoch.m_palettes.AddPalette();
  PaletteFromTable(*palette, 0.0, first.table, first.tableHasAlpha, transparent);
  page.m_palette.Set(palette);
  // Around a smaller state picture the design shows nothing: pad with the
  // page's transparent entry (one past the table is transparent too). Only
  // a page without one pads with the picture's top-left colour, which for
  // an opaque picture would widen its edge into a frame.
  const bool clear = transparent >= static_cast<int>(first.table.size()) ||
                     (first.tableHasAlpha && first.table[static_cast<size_t>(transparent)].a == 0);

  const int pageWidth = static_cast<int>(psd.m_header.m_nWidth), pageHeight = static_cast<int>(psd.m_header.m_nHeight);
  CNamedPtrCollection all;
  GatherGraphics(epoch, all);
  int32_t nextId = 0;
  for (size_t i = 0; i < all.GetCount(); ++i) nextId = std::max(nextId, all.GetAt(i)->m_nId + 1);

  size_t at = 0;
  for (size_t k = 0; k < items.size();) {
    const SPsdButtonLayers& bl = *items[k].button;
    CBdButton& button = *bl.button;
    size_t end = k;
    SRect rect = psd.m_layers[items[k].layer].m_rect;
    for (; end < items.size() && items[end].button == &bl; ++end) rect = Union(rect, psd.m_layers[items[end].layer].m_rect);
    // A button cannot reach past the page: its pictures lose what lies
    // beyond any edge.
    const int cropX = std::max(0, -rect.left), cropY = std::max(0, -rect.top);
    const int keepW = std::min(rect.right, pageWidth) - std::max(rect.left, 0);
    const int keepH = std::min(rect.bottom, pageHeight) - std::max(rect.top, 0);
    if (keepW <= 0 || keepH <= 0) return kPsdLayerImageFailed;
    const bool cropped = cropX || cropY || keepW != rect.Width() - cropX || keepH != rect.Height() - cropY;
    button.m_nX = static_cast<uint16_t>(std::min(std::max(rect.left, 0), 0xFFFF));
    button.m_nY = static_cast<uint16_t>(std::min(std::max(rect.top, 0), 0xFFFF));
    int countInState[3] = {0, 0, 0};
    for (; k < end; ++k, ++at) {
      const SItem& it = items[k];
      const CLayerInfo& layer = psd.m_layers[it.layer];
      CPicture& pic = (*indexed)[at];
      if (!(layer.m_rect == rect) || cropped)
        pic = Place(pic, rect.Width(), rect.Height(), cropX, cropY, keepW, keepH,
                    clear ? static_cast<uint8_t>(transparent) : pic.Row(0)[0]);
      if (nextId > 0xFFFE) return kPsdTooManyGraphics;
      auto g = std::make_unique<CGraphicObject>();
      g->m_nId = nextId++;
      std::string name = page.m_strName + "." + button.m_strName + "." + kStateWords[it.state];
      if (++countInState[it.state] > 1) name += "." + std::to_string(countInState[it.state]);
      g->SetName(name);
      g->m_nWidth = pic.width;
      g->m_nHeight = pic.height;
      PaletteFromTable(g->Palette(), 0.0, pic.table, pic.tableHasAlpha, transparent);
      g->m_picture = std::make_unique<CPicture>(std::move(pic));
      CGraphicObject* added = epoch.m_graphics.Add(std::move(g));
      CButtonStateInfo& st = button.m_states[static_cast<size_t>(it.state)];
      if (countInState[it.state] == 1) st.m_start.Set(added);
      st.m_end.Set(added);
    }
  }

  uint16_t number = 0;
  for (size_t g = 0; g < page.GetCount(); ++g)
    for (size_t b = 0; b < page.GetAt(g)->GetCount(); ++b, ++number) {
      CBdButton* button = page.GetAt(g)->GetAt(b);
      button->m_nId = number;
      button->m_nNumericValue = number;
    }
  page.RefreshIds();
  ComputeNeighbours(page, kNeighboursSpatial);
  return kPsdImportOk;
}

// ---------------------------------------------------------------------------

int BuildMenuFromPsd(CIgObject& ig, CPsdFile& psd, const Progress& progress) {
  if (psd.m_layers.empty()) return kPsdWrongFile;
  CEpoch* epoch = ig.GetCount() > 0 ? ig.GetAt(0) : ig.AddEpoch();
  bool haveIg = false;
  CDisplaySet* ds = nullptr;
  CPage* page = nullptr;
  CBog* bog = nullptr;
  std::vector<SPsdButtonLayers> buttons;  // of the open page
  // The button state layers go to; a new page or BOG closes it.
  constexpr size_t kNone = SIZE_MAX;
  size_t current = kNone;

  auto finishPage = [&]() -> int {
    if (int rc = BuildPageGraphics(*page, *epoch, psd, buttons)) return rc;
    size_t count = 0, graphics = 0;
    for (const SPsdButtonLayers& b : buttons) {
      ++count;
      for (const auto& s : b.states) graphics += s.size();
    }
    const std::string line = page->m_strName + ": " + std::to_string(page->GetCount()) + " BOGs, " +
                             std::to_string(count) + " buttons, " + std::to_string(graphics) + " graphics, " +
                             std::to_string(page->m_palette.p ? page->m_palette.p->GetCount() : 0) + " colours";
    if (!progress.Item(line)) return kPsdImportCancelled;
    return kPsdImportOk;
  };

  for (size_t i = psd.m_layers.size(); i-- > 0;) {
    const CLayerInfo& layer = psd.m_layers[i];
    const SPsdLayerName ln = ParseLayerName(layer);
    // Layers are drawn as they are; a blend mode other than normal (or a
    // group's pass-through) would show otherwise in the design.
    if (ln.kind > kPsdKindGroupEnd && layer.m_nSectionType != kPsdGroupEnd && !layer.m_blendKey.empty() &&
        layer.m_blendKey != "norm" &&
        !(layer.IsGroup() && layer.m_blendKey == "pass") &&
        !progress.Item("Warning: layer \"" + layer.m_strName + "\" uses the blend mode \"" + layer.m_blendKey +
                       "\"; it is drawn as normal"))
      return kPsdImportCancelled;
    if (layer.m_nSectionType == kPsdNormalLayer) {
      if (ln.kind >= kPsdKindNormal && ln.kind <= kPsdKindActivated) {
        if (current == kNone) return kPsdUndefinedButton;
        buttons[current].states[static_cast<size_t>(ln.kind - kPsdKindNormal)].push_back(i);
      }
      continue;
    }
    if (!layer.IsGroup()) continue;
    switch (ln.kind) {
      case kPsdKindIg:
        if (haveIg) return kPsdMultiIg;
        haveIg = true;
        ig.m_video.width = static_cast<uint16_t>(psd.m_header.m_nWidth);
        ig.m_video.height = static_cast<uint16_t>(psd.m_header.m_nHeight);
        break;
      case kPsdKindDisplaySet:
        if (!haveIg) return kPsdUndefinedIg;
        if (ds) return kPsdMultiDisplaySet;
        ds = epoch->AddDisplaySet();
        ds->SetName(ln.name);
        break;
      case kPsdKindPage:
        if (!ds) return kPsdUndefinedDisplaySet;
        if (page)
          if (int rc = finishPage()) return rc;
        page = ds->AddPage();
        page->SetName(ln.name);
        // A new page starts without a BOG or button of its own.
        bog = nullptr;
        current = kNone;
        buttons.clear();
        break;
      case kPsdKindBog:
        if (!page) return kPsdUndefinedPage;
        bog = page->AddBog();
        bog->SetName(ln.name);
        current = kNone;
        break;
      case kPsdKindButton: {
        if (!bog) return kPsdUndefinedBog;
        CBdButton* b = bog->AddButton();
        if (!b) return kPsdTooManyButtons;
        b->SetName(ln.name);
        b->SetButtonType(0);
        buttons.push_back(SPsdButtonLayers{b, {}});
        current = buttons.size() - 1;
        break;
      }
      default:
        break;
    }
  }
  if (page)
    if (int rc = finishPage()) return rc;
  if (!ds) return kPsdNoDisplaySet;
  return kPsdImportOk;
}

// ---------------------------------------------------------------------------

std::string ConvertedStreamPath(const std::string& design) { return RenameExtension(design, ".ies"); }

bool ConvertedStreamIsCurrent(const std::string& design, const std::string& stream) {
  if (!PathExists(stream) || IsDirectory(stream)) return false;
  return FileTimeNs(stream) > FileTimeNs(design);
}

namespace {

constexpr char kSideFileHead[] = "1\n0\n1\n";

// The side file's lines after its head, or nothing when the file is not
// one the import wrote (its head, then only lines it writes).
std::optional<std::vector<std::string>> SideFileNames(const std::vector<uint8_t>& bytes) {
  const size_t head = sizeof kSideFileHead - 1;
  if (bytes.size() < head || std::memcmp(bytes.data(), kSideFileHead, head) != 0) return std::nullopt;
  std::vector<std::string> lines;
  std::string line;
  for (size_t i = head; i < bytes.size(); ++i) {
    if (bytes[i] != '\n') {
      line += static_cast<char>(bytes[i]);
      continue;
    }
    if (line.rfind("page\t", 0) != 0 && line.rfind("bog\t", 0) != 0 && line.rfind("button\t", 0) != 0)
      return std::nullopt;
    lines.push_back(line);
    line.clear();
  }
  if (!line.empty()) return std::nullopt;
  return lines;
}

}  // namespace

bool WriteConversionSideFile(const std::string& stream, std::string& error, const std::vector<std::string>& names) {
  std::string text = kSideFileHead;
  for (const std::string& n : names) text += n + "\n";
  const std::string path = RenameExtension(stream, ".txt");
  if (PathExists(path)) {
    std::vector<uint8_t> old;
    if (IsDirectory(path) || !ReadWholeFile(path, old, error) || !SideFileNames(old)) {
      error = "\"" + path + "\" is not the import's side file and is left as it is";
      return false;
    }
  }
  return WriteFileAtomic(path, text.data(), text.size(), error);
}

std::optional<std::vector<std::string>> ReadConversionSideFile(const std::string& stream) {
  const std::string path = RenameExtension(stream, ".txt");
  std::vector<uint8_t> bytes;
  std::string error;
  if (!PathExists(path) || IsDirectory(path) || !ReadWholeFile(path, bytes, error)) return std::nullopt;
  return SideFileNames(bytes);
}

}  // namespace zv
