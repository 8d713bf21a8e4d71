// `zelvane dump` for graphics streams (".sup", ".pg", ".ig", ".ies"), raw or
// headed framing, with `--pictures DIR` writing every object as a PNG.
#include <strings.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>

#include "app/dump.h"
#include "graphics/composition.h"
#include "graphics/object_coding.h"
#include "graphics/segments.h"
#include "platform/bytes.h"
#include "platform/file.h"
#include "platform/image.h"
#include "records/dump_tree.h"

namespace zvapp {

namespace {

bool HasGraphicsExtension(const std::string& path) {
  std::string ext = std::filesystem::path(path).extension().string();
  for (const char* e : {".sup", ".pg", ".ig", ".ies"})
    if (strcasecmp(ext.c_str(), e) == 0) return true;
  return false;
}

bool MatchGraphics(const std::string& path, const std::vector<uint8_t>& head) {
  if (HasGraphicsExtension(path)) return true;
  // A headed stream: "PG" or "IG", PTS, DTS, then a segment type.
  if (head.size() < 11 || !((head[0] == 'P' || head[0] == 'I') && head[1] == 'G')) return false;
  uint8_t t = head[10];
  return (t >= zv::kSegPds && t <= zv::kSegIcs) || t == zv::kSegEnd;
}

// The palette of every object an interactive composition shows: that of
// the first page (or effect) that draws it.
std::map<int, int> ObjectPalettes(const zv::SInteractiveComposition& c) {
  std::map<int, int> out;
  auto range = [&](const zv::SButtonState& s, int palette) {
    if (s.startObjectId == 0xFFFF) return;
    const int end = s.endObjectId == 0xFFFF ? s.startObjectId : s.endObjectId;
    for (int id = s.startObjectId; id <= end && id < 0xFFFF; ++id) out.emplace(id, palette);
  };
  for (const zv::SIgPage& page : c.pages) {
    for (const zv::SBog& bog : page.bogs)
      for (const zv::SButton& b : bog.buttons) {
        range(b.normal, page.paletteIdRef);
        range(b.selected, page.paletteIdRef);
        range(b.activated, page.paletteIdRef);
      }
    for (const zv::SEffectSequence* seq : {&page.inEffects, &page.outEffects})
      for (const zv::SEffect& e : seq->effects)
        for (const zv::SCompositionObject& o : e.objects) out.emplace(o.objectIdRef, e.paletteIdRef);
  }
  return out;
}

// Writes every object of the display set, drawn with the palette its
// composition names (the PCS's, or that of the page of an interactive
// composition that shows it), as "ds%03d_object%05d.png". Palettes of
// earlier display sets of the stream stay in use until replaced; they are
// read with the colour matrix of the stream's video size.
bool WritePictures(const zv::CDsData& ds, int dsNumber, std::map<int, std::vector<zv::SColor>>& palettes,
                   int& videoHeight, const std::string& folder, std::string& error) {
  if (ds.m_pcs) videoHeight = ds.m_pcs->m_composition.video.height;
  else if (!ds.m_ics.empty()) videoHeight = ds.m_ics.front()->m_composition.video.height;
  const zv::ColorMatrix matrix = zv::ColorMatrixForHeight(videoHeight);
  for (const auto& p : ds.m_pds) palettes[p->m_nPaletteId] = zv::PdsToPalette(*p, matrix);
  int paletteId = -1;
  std::map<int, int> objectPalettes;
  if (ds.m_pcs) {
    paletteId = ds.m_pcs->m_nPaletteIdRef;
  } else if (!ds.m_ics.empty()) {
    try {
      std::vector<uint8_t> ic = ds.Composition();
      zv::SInteractiveComposition c = zv::ParseComposition(ic.data(), ic.size());
      if (!c.pages.empty()) paletteId = c.pages[0].paletteIdRef;
      objectPalettes = ObjectPalettes(c);
    } catch (const zv::FormatError&) {
    }
  }
  if (paletteId < 0 || !palettes.count(paletteId)) paletteId = palettes.empty() ? -1 : palettes.begin()->first;
  size_t at = 0;
  while (at < ds.m_ods.size()) {
    uint16_t id = ds.m_ods[at]->m_nObjectId;
    auto data = zv::JoinFragments(ds.m_ods, at);
    if (!data) {
      error = "display set " + std::to_string(dsNumber) + ": the fragments of object " + std::to_string(id) +
              " are incomplete or out of order";
      return false;
    }
    auto obj = zv::DecodeObject(data->data(), data->size());
    if (!obj || obj->width == 0 || obj->height == 0) {
      error = "display set " + std::to_string(dsNumber) + ": object " + std::to_string(id) + " does not decode";
      return false;
    }
    zv::CPicture pic;
    pic.Allocate(obj->width, obj->height, zv::PixelFormat::Indexed8);
    pic.pixels = std::move(obj->pixels);
    int own = paletteId;
    if (auto it = objectPalettes.find(id); it != objectPalettes.end() && palettes.count(it->second)) own = it->second;
    pic.table = own >= 0 ? palettes[own] : std::vector<zv::SColor>(256, zv::SColor{0, 0, 0, 0});
    pic.tableHasAlpha = true;
    char name[64];
    std::snprintf(name, sizeof name, "ds%03d_object%05d.png", dsNumber, id);
    if (!zv::WritePngFile((std::filesystem::path(folder) / name).string(), pic, error)) return false;
  }
  return true;
}

// The pictures go to a hidden folder inside DIR first and join DIR only
// when the whole stream read and every object decoded, so a damaged stream
// leaves DIR as it was.
class PictureStage {
 public:
  bool Open(const std::string& folder, std::string& error) {
    folder_ = folder;
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
      error = "Cannot create \"" + folder + "\": " + ec.message();
      return false;
    }
    stage_ = (std::filesystem::path(folder) / (".pictures." + std::to_string(::getpid()) + ".0.tmp")).string();
    std::filesystem::remove_all(stage_, ec);
    if (!std::filesystem::create_directory(stage_, ec) || ec) {
      error = "Cannot create \"" + stage_ + "\": " + (ec ? ec.message() : std::string("it exists"));
      stage_.clear();
      return false;
    }
    return true;
  }
  const std::string& Folder() const { return stage_; }
  // Moves every picture into DIR.
  bool Commit(std::string& error) {
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(stage_, ec)) {
      const auto to = std::filesystem::path(folder_) / e.path().filename();
      std::filesystem::rename(e.path(), to, ec);
      if (ec) {
        error = "Cannot write \"" + to.string() + "\": " + ec.message();
        return false;
      }
    }
    if (ec) {
      error = "Cannot read \"" + stage_ + "\": " + ec.message();
      return false;
    }
    return true;
  }
  ~PictureStage() {
    std::error_code ec;
    if (!stage_.empty()) std::filesystem::remove_all(stage_, ec);
  }

 private:
  std::string folder_, stage_;
};

int DumpGraphics(const std::string& path, bool json) {
  zv::File f;
  if (!f.Open(path, zv::File::kRead)) return Fail(f.Error());
  uint8_t head[2] = {0, 0};
  int64_t n = f.Read(head, 2);
  if (n < 0) return Fail(f.Error());
  if (!f.Seek(0)) return Fail(f.Error());
  const bool headed = zv::IsHeadedFraming(head, static_cast<size_t>(n));
  const std::string& folder = DumpPicturesFolder();
  PictureStage pictures;
  std::string error;
  if (!folder.empty() && !pictures.Open(folder, error)) return Fail(error);

  // Printed one display set at a time: a stream of a million small ones
  // needs no more memory than one.
  DumpStream out(path, "graphics stream", json, "DisplaySet");
  {
    zv::SDumpNode leaves;
    leaves.Text("Framing", headed ? "headed (.sup)" : "raw");
    out.Leaves(leaves);
  }
  zv::CFileInput in(f);
  std::map<int, std::vector<zv::SColor>> palettes;
  int videoHeight = 0;
  int count = 0, rc = zv::kDsOk;
  for (;;) {
    zv::CDsData ds;
    rc = zv::ReadDisplaySet(in, ds, headed, error);
    if (rc != zv::kDsOk) break;
    ++count;
    zv::SDumpNode node;
    ds.DumpNode(node.Block("DisplaySet", count));
    out.Block(node.children.back());
    if (!folder.empty() && !WritePictures(ds, count, palettes, videoHeight, pictures.Folder(), error)) {
      rc = zv::kDsBad;
      break;
    }
  }
  if (const int printed = out.End(); printed != kExitOk) return printed;
  if (rc == zv::kDsBad) return Fail("\"" + path + "\": " + error + (folder.empty() ? "" : "; no picture was written"));
  if (!folder.empty() && !pictures.Commit(error)) return Fail(error);
  return kExitOk;
}

}  // namespace

ZV_DUMPER("graphics stream", MatchGraphics, DumpGraphics);

}  // namespace zvapp
