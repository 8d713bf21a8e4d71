#include "edit/menu_generate.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <exception>
#include <system_error>
#include <thread>
#include <cmath>
#include <filesystem>
#include <future>
#include <map>
#include <memory>
#include <set>

#include "edit/menu_template.h"
#include "edit/sources.h"
#include "graphics/effects.h"
#include "graphics/ig_compiler.h"
#include "media/frame_at.h"
#include "model/button_types.h"
#include "model/menu_render.h"
#include "platform/parallel.h"
#include "platform/file.h"
#include "platform/image.h"
#include "subtitles/text_draw.h"

namespace zvedit {

namespace {

namespace fs = std::filesystem;

constexpr int kVideoFormat1080p23976 = 5;
// Every object of a display set stays decoded in the player's object
// buffer; a little is kept back for what the build adds.
constexpr int64_t kObjectBudget = zv::kIgDecodedObjectBuffer - (int64_t{1} << 20);
// A page holds at most this many button groups (the build adds a few
// invisible ones of its own).
constexpr int kMaxItemsPerPage = 48;

// Adds the time since the last mark to `times` under `step`.
class CStepClock {
 public:
  explicit CStepClock(std::vector<std::pair<std::string, double>>& times) : times_(times) {}
  void Mark(const char* step) {
    const auto now = std::chrono::steady_clock::now();
    times_.emplace_back(step, std::chrono::duration<double>(now - last_).count());
    last_ = now;
  }

 private:
  std::vector<std::pair<std::string, double>>& times_;
  std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
};

// --- pictures ----------------------------------------------------------------

zv::CPicture Canvas(int w, int h) {
  zv::CPicture p;
  p.Allocate(w, h, zv::PixelFormat::Argb32);
  std::fill(p.pixels.begin(), p.pixels.end(), 0);
  return p;
}

// A filled rectangle with rounded corners (anti-aliased edges).
void FillRounded(zv::CPicture& p, int x0, int y0, int w, int h, int radius, uint32_t rgb, int opacity) {
  if (opacity <= 0) return;
  const uint8_t r = static_cast<uint8_t>(rgb >> 16), g = static_cast<uint8_t>(rgb >> 8), b = static_cast<uint8_t>(rgb);
  radius = std::min({radius, w / 2, h / 2});
  auto cover = [&](int x, double dy) {
    // Distance outside the rounded corner, sampled at the pixel's centre;
    // away from the corners one offset is zero, where hypot is exact.
    const double cx = std::clamp(x + 0.5, double(x0 + radius), double(x0 + w - radius));
    const double dx = x + 0.5 - cx;
    const double d = (dx == 0 || dy == 0 ? std::fabs(dx + dy) : std::hypot(dx, dy)) - radius;
    return std::clamp(0.5 - d, 0.0, 1.0);
  };
  const int xEnd = std::min(p.width, x0 + w);
  // Columns x0 + radius .. x0 + w - radius - 1 have no horizontal offset:
  // their cover depends on the row only.
  const int innerFrom = std::max(std::max(0, x0), x0 + radius), innerTo = std::min(xEnd, x0 + w - radius);
  for (int y = std::max(0, y0); y < std::min(p.height, y0 + h); ++y) {
    const double cy = std::clamp(y + 0.5, double(y0 + radius), double(y0 + h - radius));
    const double dy = y + 0.5 - cy;
    uint8_t* row = p.Row(y);
    auto one = [&](int x, double c) {
      if (c > 0) zv::BlendPixel(row + static_cast<size_t>(x) * 4, r, g, b, int(opacity * c + 0.5));
    };
    for (int x = std::max(0, x0); x < std::min(innerFrom, xEnd); ++x) one(x, cover(x, dy));
    if (innerFrom < innerTo) {
      const double c = cover(innerFrom, dy);
      for (int x = innerFrom; x < innerTo; ++x) one(x, c);
    }
    for (int x = std::max(innerTo, std::max(std::max(0, x0), innerFrom)); x < xEnd; ++x) one(x, cover(x, dy));
  }
}

void Blit(zv::CPicture& dst, const zv::CPicture& src, int x0, int y0) {
  for (int y = 0; y < src.height; ++y) {
    if (y0 + y < 0 || y0 + y >= dst.height) continue;
    for (int x = 0; x < src.width; ++x) {
      if (x0 + x < 0 || x0 + x >= dst.width) continue;
      const uint8_t* s = src.Row(y) + static_cast<size_t>(x) * 4;
      zv::BlendPixel(dst.Row(y0 + y) + static_cast<size_t>(x0 + x) * 4, s[1], s[2], s[3], s[0]);
    }
  }
}

// Bilinear scaling of an Argb32 picture.
zv::CPicture Scaled(const zv::CPicture& src, int w, int h) {
  zv::CPicture out = Canvas(w, h);
  for (int y = 0; y < h; ++y) {
    const double sy = std::clamp((y + 0.5) * src.height / h - 0.5, 0.0, double(src.height - 1));
    const int y1 = int(sy), y2 = std::min(y1 + 1, src.height - 1);
    const double fy = sy - y1;
    for (int x = 0; x < w; ++x) {
      const double sx = std::clamp((x + 0.5) * src.width / w - 0.5, 0.0, double(src.width - 1));
      const int x1 = int(sx), x2 = std::min(x1 + 1, src.width - 1);
      const double fx = sx - x1;
      uint8_t* d = out.Row(y) + static_cast<size_t>(x) * 4;
      for (int c = 0; c < 4; ++c) {
        const double v = (src.Row(y1)[x1 * 4 + c] * (1 - fx) + src.Row(y1)[x2 * 4 + c] * fx) * (1 - fy) +
                         (src.Row(y2)[x1 * 4 + c] * (1 - fx) + src.Row(y2)[x2 * 4 + c] * fx) * fy;
        d[c] = static_cast<uint8_t>(std::clamp(v + 0.5, 0.0, 255.0));
      }
    }
  }
  return out;
}

// Three box blurs (close to a Gaussian), then the brightness kept.
void BlurAndDim(zv::CPicture& p, int radius, int keepPercent) {
  std::vector<uint8_t> tmp(p.pixels.size());
  auto pass = [&](bool horizontal) {
    const int n = horizontal ? p.width : p.height, lines = horizontal ? p.height : p.width;
    for (int l = 0; l < lines; ++l)
      for (int c = 1; c < 4; ++c) {
        auto at = [&](int i) -> uint8_t& {
          i = std::clamp(i, 0, n - 1);
          return horizontal ? p.Row(l)[i * 4 + c] : p.Row(i)[l * 4 + c];
        };
        int sum = 0;
        for (int i = -radius; i <= radius; ++i) sum += at(i);
        for (int i = 0; i < n; ++i) {
          const size_t o = horizontal ? size_t(l) * p.Stride() + size_t(i) * 4 + c : size_t(i) * p.Stride() + size_t(l) * 4 + c;
          tmp[o] = static_cast<uint8_t>(sum / (2 * radius + 1));
          sum += at(i + radius + 1) - at(i - radius);
        }
      }
    for (size_t i = 0; i < tmp.size(); ++i)
      if (i % 4) p.pixels[i] = tmp[i];
  };
  if (radius > 0)
    for (int k = 0; k < 3; ++k) {
      pass(true);
      pass(false);
    }
  for (size_t i = 0; i < p.pixels.size(); ++i)
    p.pixels[i] = i % 4 ? static_cast<uint8_t>(p.pixels[i] * keepPercent / 100) : 255;
}

// --- what the menus hold -------------------------------------------------------

enum class Kind { kTitle, kChapter, kAudio, kSubtitle, kSubtitleOff, kPage, kTopMenu, kPopUpOff };

struct SItem {
  std::string label;
  Kind kind = Kind::kPage;
  int32_t group = -1, movie = -1, choice = -1;  // the type's parameters
  int list = -1;                                // kPage: the list it opens
  int thumb = -1;                               // kChapter: its picture
};

struct SList {
  std::string name;
  std::vector<SItem> items;
  int back = -1;         // the list "Back" returns to
  bool thumbs = false;   // a grid of chapter pictures
  bool row = false;      // one row along the pop-up band
  int perPage = 1;
  int firstPage = 0;
  int pages = 1;
};

struct STrack {
  std::string label;
};

struct SMovieStreams {
  std::vector<STrack> audio, subtitles;
};

struct STitle {
  int32_t group = 0, movie = 0;
  std::string label;
  struct SChapter {
    std::string name;
    std::string video;  // the file the picture comes from
    int64_t frame = 0;
  };
  std::vector<SChapter> chapters;
};

std::string TrackLabel(const zv::STrackRef& t, const std::vector<zv::STrackRef>& all) {
  std::string name = LanguageName(t.language);
  int same = 0, before = 0;
  for (const zv::STrackRef& o : all) {
    if (o.kind != t.kind || !o.enabled || !o.primary || o.language != t.language) continue;
    ++same;
    if (o.number < t.number) ++before;
  }
  if (same > 1) name += " " + std::to_string(before + 1);
  return name;
}

zv::CStoryObject* StoryOfMovie(zv::CFilmObject& film) {
  for (size_t i = 0; i < film.m_playlists.GetCount(); ++i) {
    zv::CPlObject* pl = film.m_playlists.GetAt(i);
    if (pl->GetCount() > 0 && pl->GetAt(0)->m_pStory) return pl->GetAt(0)->m_pStory;
  }
  return film.m_stories.GetAt(0);
}

SMovieStreams StreamsOf(zv::CFilmObject& film) {
  SMovieStreams s;
  zv::CStoryObject* story = StoryOfMovie(film);
  if (!story) return s;
  const std::vector<zv::STrackRef> refs = story->TrackRefs();
  for (const zv::STrackRef& t : refs) {
    if (!t.enabled || !t.primary) continue;
    if (t.kind == zv::StreamKind::kAudio) s.audio.push_back({TrackLabel(t, refs)});
    else if (t.kind == zv::StreamKind::kPg) s.subtitles.push_back({TrackLabel(t, refs)});
  }
  return s;
}

std::string VideoOf(const zv::CStoryObject* story) {
  if (!story) return {};
  for (const zv::STrackRef& t : story->TrackRefs())
    if (t.video && t.primary && !t.path.empty()) return t.path;
  return {};
}

// --- building one menu -----------------------------------------------------------

class CMenuMaker {
 public:
  CMenuMaker(const SMenuTemplate& t, int width, int height, const std::string& folder, const std::string& tag,
             bool popup)
      : t_(t), sx_(width / 1920.0), sy_(height / 1080.0), folder_(folder), tag_(tag), popup_(popup) {
    epoch_ = model_.AddEpoch();
    ds_ = epoch_->AddDisplaySet();
  }

  zv::CIgObject& Model() { return model_; }
  // What the compiler refuses (sizes in the decoder's buffer, ids,
  // palettes, overlaps, the composition's size) depends on the pictures'
  // sizes and the menu's structure, never on their pixels: the check
  // compile codes flat pictures of the same sizes instead of quantising
  // every drawn one, which the build does once anyway. `flat` false drops
  // them again (the project keeps the pictures' files only).
  void StandIns(bool flat) {
    for (size_t e = 0; e < model_.GetCount(); ++e) {
      zv::CNamedPtrCollection all;
      zv::GatherGraphics(*model_.GetAt(e), all);
      for (size_t i = 0; i < all.GetCount(); ++i) {
        auto* g = static_cast<zv::CGraphicObject*>(all.GetAt(i));
        g->m_picture.reset();
        if (!flat) continue;
        g->m_picture = std::make_unique<zv::CPicture>();
        g->m_picture->Allocate(g->m_nWidth, g->m_nHeight, zv::PixelFormat::Indexed8);
        std::fill(g->m_picture->pixels.begin(), g->m_picture->pixels.end(), 0);
        if (!g->m_picture->pixels.empty()) g->m_picture->pixels[0] = 1;
        g->m_picture->table = {zv::SColor{128, 128, 128, 255}, zv::SColor{255, 255, 255, 255}};
      }
    }
  }
  int64_t ObjectBytes() const { return bytes_; }
  const std::vector<std::string>& Files() const { return files_; }

  int X(int v) const { return int(std::lround(v * sx_)); }
  int Y(int v) const { return int(std::lround(v * sy_)); }

  // Items a page of the list holds, and the pages it needs.
  void Plan(SList& l) const {
    if (l.thumbs) l.perPage = t_.thumbColumns * t_.thumbRows;
    else if (l.row) l.perPage = std::max(1, (t_.popupArea.w + t_.gap) / (t_.navWidth + t_.gap));
    else l.perPage = t_.columns * std::max(1, (t_.area.h + t_.gap) / (t_.buttonHeight + t_.gap));
    l.perPage = std::clamp(l.perPage, 1, kMaxItemsPerPage);
    l.pages = std::max<int>(1, int((l.items.size() + size_t(l.perPage) - 1) / size_t(l.perPage)));
  }

  // The decoded size of the objects the list adds (labels repeated across
  // pages are shared).
  int64_t Cost(const SList& l) const {
    const int64_t each = l.thumbs ? int64_t(ThumbW()) * ThumbH() : l.row ? int64_t(X(t_.navWidth)) * Y(t_.buttonHeight)
                                                                          : int64_t(X(t_.buttonWidth)) * Y(t_.buttonHeight);
    // Three looks a button; a stream choice has its chosen look's three too.
    int64_t buttons = 0;
    for (const SItem& it : l.items) buttons += it.kind == Kind::kAudio || it.kind == Kind::kSubtitle ? 2 : 1;
    return each * 3 * buttons;
  }

  // Makes the pages of every list; `thumbs` are the chapter pictures.
  bool Build(std::vector<SList>& lists, const std::vector<zv::CPicture>& thumbs, zv::CTextDrawer& text,
             const zv::Progress& progress, std::string& error) {
    text_ = &text;
    int page = 0;
    for (SList& l : lists) {
      l.firstPage = page;
      page += l.pages;
    }
    if (page > 255) return error = "the menu would need " + std::to_string(page) + " pages, more than 255", false;
    for (SList& l : lists)
      for (int p = 0; p < l.pages; ++p) {
        zv::CPage* pg = ds_->AddPage();
        pg->SetName(l.pages > 1 ? l.name + " " + std::to_string(p + 1) : l.name);
      }
    size_t done = 0, total = 0;
    for (const SList& l : lists) total += l.items.size();
    for (SList& l : lists)
      for (int p = 0; p < l.pages; ++p) {
        zv::CPage& pg = *ds_->GetAt(size_t(l.firstPage + p));
        const size_t from = size_t(p) * size_t(l.perPage), to = std::min(l.items.size(), from + size_t(l.perPage));
        for (size_t i = from; i < to; ++i) {
          if (!AddItem(pg, l, int(i - from), l.items[i], lists, thumbs, error)) return false;
          if (++done % 8 == 0 && !progress.Value(int32_t(done * 100 / std::max<size_t>(total, 1)))) return false;
        }
        // Previous, Back, Next along the bottom.
        std::vector<SItem> nav;
        if (p > 0) nav.push_back({"Previous", Kind::kPage, -1, -1, -1, -2 - (l.firstPage + p - 1)});
        if (l.back >= 0) nav.push_back({"Back", Kind::kPage, -1, -1, -1, l.back});
        if (p + 1 < l.pages) nav.push_back({"Next", Kind::kPage, -1, -1, -1, -2 - (l.firstPage + p + 1)});
        const int n = int(nav.size());
        const int rowW = n * t_.navWidth + (n - 1) * t_.gap;
        for (int k = 0; k < n; ++k) {
          const int x = (1920 - rowW) / 2 + k * (t_.navWidth + t_.gap);
          if (!AddButton(pg, nav[size_t(k)], X(x), Y(t_.navY), X(t_.navWidth), Y(t_.buttonHeight), lists, error))
            return false;
        }
        const std::vector<zv::CBdButton*> buttons = pg.Buttons();
        if (!buttons.empty()) pg.m_defaultSelected.Set(buttons.front());
        zv::ComputeNeighbours(pg, zv::kNeighboursSpatial);
      }
    return true;
  }

 private:
  int ThumbW() const { return X(t_.thumbWidth) + 2 * t_.thumbBorder; }
  int LabelH() const { return Y(t_.thumbTextSize) * 3 / 2; }
  int ThumbH() const { return Y(t_.thumbHeight) + 2 * t_.thumbBorder + LabelH(); }

  bool AddItem(zv::CPage& pg, const SList& l, int slot, const SItem& item, const std::vector<SList>& lists,
               const std::vector<zv::CPicture>& thumbs, std::string& error) {
    if (l.thumbs) {
      const int cols = t_.thumbColumns;
      const int cellW = t_.thumbWidth + 2 * t_.thumbBorder + t_.gap;
      const int cellH = ThumbH() + Y(t_.gap);
      const int gridW = cols * cellW - t_.gap;
      const int x = X((1920 - gridW) / 2 + (slot % cols) * cellW);
      const int y = Y(t_.thumbTop) + (slot / cols) * cellH;
      return AddThumb(pg, item, x, y, item.thumb >= 0 ? &thumbs[size_t(item.thumb)] : nullptr, error);
    }
    if (l.row) {
      const int n = std::min<int>(l.perPage, int(l.items.size()));
      const int rowW = n * t_.navWidth + (n - 1) * t_.gap;
      const int x = t_.popupArea.x + (t_.popupArea.w - rowW) / 2 + slot * (t_.navWidth + t_.gap);
      const int y = t_.popupArea.y + (t_.popupArea.h - t_.buttonHeight) / 2;
      return AddButton(pg, item, X(x), Y(y), X(t_.navWidth), Y(t_.buttonHeight), lists, error);
    }
    // Row by row, so that a wide layout reads left to right.
    const int cols = t_.columns;
    const int col = slot % cols, row = slot / cols;
    const int blockW = cols * t_.buttonWidth + (cols - 1) * t_.gap;
    const int x0 = t_.alignLeft ? t_.area.x : t_.area.x + (t_.area.w - blockW) / 2;
    const int x = x0 + col * (t_.buttonWidth + t_.gap), y = t_.area.y + row * (t_.buttonHeight + t_.gap);
    return AddButton(pg, item, X(x), Y(y), X(t_.buttonWidth), Y(t_.buttonHeight), lists, error);
  }

  // The three looks of a label button (and, for a stream choice, the three
  // of its chosen look).
  bool LabelLooks(const std::string& label, int w, int h, bool chosen, zv::CGraphicObject* out[3], std::string& error) {
    for (int s = 0; s < 3; ++s) {
      const std::string key = "L" + std::to_string(s) + (chosen ? "c" : "") + std::to_string(w) + "x" +
                              std::to_string(h) + ":" + label;
      if (auto it = cache_.find(key); it != cache_.end()) {
        out[s] = it->second;
        continue;
      }
      zv::CPicture p = Canvas(w, h);
      const int radius = Y(t_.barRadius);
      const int normalBar = popup_ ? std::max(t_.normalBarOpacity, 170) : t_.normalBarOpacity;
      if (s == 0) FillRounded(p, 0, 0, w, h, radius, t_.normalBar, normalBar);
      else FillRounded(p, 0, 0, w, h, radius, s == 1 ? t_.selectedBar : t_.activatedBar, t_.barOpacity);
      zv::STextLook look = t_.text;
      look.size = std::max(8, Y(look.size));
      look.colour = s == 0 ? t_.text.colour : s == 1 ? t_.selectedText : t_.activatedText;
      int tx = X(24), tw = w - 2 * X(24);
      if (chosen) {
        // A mark before the label: the current choice.
        const int d = h / 3;
        FillRounded(p, X(24), (h - d) / 2, d, d, d / 2, s == 2 ? t_.activatedText : t_.chosenMark, 255);
        tx += d + X(16);
        tw -= d + X(16);
      }
      if (!text_->Draw(p, label, look, tx, 0, tw, h,
                      t_.alignLeft || chosen ? zv::TextAlign::kLeft : zv::TextAlign::kCentre, error))
        return false;
      if (!(out[s] = Graphic(p, key, error))) return false;
    }
    return true;
  }

  zv::CGraphicObject* Graphic(const zv::CPicture& p, const std::string& key, std::string& error) {
    const std::string file =
        (fs::path(folder_) / (tag_ + "-" + std::to_string(nextGraphic_ + 1) + ".png")).lexically_normal().string();
    if (!zv::WritePngFile(file, p, error, true)) return nullptr;
    files_.push_back(file);
    // The picture is known: the graphic takes the file without decoding it
    // again (the build reads it and makes the page's palette).
    auto g = std::make_unique<zv::CGraphicObject>();
    g->m_strPath = file;
    g->m_nWidth = p.width;
    g->m_nHeight = p.height;
    g->m_nId = nextGraphic_++;
    g->SetName(fs::path(file).stem().string());
    bytes_ += int64_t(p.width) * p.height;
    zv::CGraphicObject* raw = epoch_->m_graphics.Add(std::move(g));
    cache_[key] = raw;
    return raw;
  }

  zv::CBdButton* NewButton(zv::CBog& bog, const std::string& name, int x, int y, zv::CGraphicObject* const looks[3],
                           std::string& error) {
    zv::CBdButton* b = bog.AddButton();
    if (!b) return error = "no button id left on a page", nullptr;
    b->SetName(name);
    b->m_nX = static_cast<uint16_t>(x);
    b->m_nY = static_cast<uint16_t>(y);
    for (size_t s = 0; s < 3; ++s) {
      b->m_states[s].m_start.Set(looks[s]);
      b->m_states[s].m_end.Set(looks[s]);
    }
    return b;
  }

  void Type(zv::CBdButton& b, const SItem& item, const std::vector<SList>& lists) {
    auto choose = [&](const char* type, std::initializer_list<std::pair<int, int32_t>> params) {
      zv::SelectButtonType(b, *zv::FindButtonType(type));
      for (auto [i, v] : params) zv::SetButtonParameter(b, i, v);
    };
    switch (item.kind) {
      case Kind::kTitle: choose("Title", {{0, item.group}, {1, item.movie}}); break;
      case Kind::kChapter: choose("Chapter", {{0, item.group}, {1, item.movie}, {2, item.choice}}); break;
      case Kind::kAudio:
        if (popup_) choose("Audio", {{0, item.choice}});
        else choose("Audio", {{0, item.choice}, {1, item.group}, {2, 0}});
        break;
      case Kind::kSubtitle:
        if (popup_) choose("Subtitle", {{0, item.choice}});
        else choose("Subtitle", {{0, item.choice}, {1, item.group}, {2, 0}});
        break;
      case Kind::kSubtitleOff:
        // No type turns subtitles off: the commands are the system's own,
        // as the movie objects read GPR2011 (0 off).
        b.SetButtonType(zv::kButtonImageOnly);
        zv::AppendCommand(b.m_commands, "Set GPR2011 = 0");
        if (popup_) zv::AppendCommand(b.m_commands, "SetStream X X 0 X X");
        break;
      case Kind::kPage: {
        const int page = item.list <= -2 ? -2 - item.list : lists[size_t(item.list)].firstPage;
        choose("Page", {{0, page}});
        break;
      }
      case Kind::kTopMenu: choose("TopMenu", {}); break;
      case Kind::kPopUpOff: choose("PopUpMenuOff", {}); break;
    }
  }

  bool AddButton(zv::CPage& pg, const SItem& item, int x, int y, int w, int h, const std::vector<SList>& lists,
                 std::string& error) {
    zv::CGraphicObject* looks[3];
    if (!LabelLooks(item.label, w, h, false, looks, error)) return false;
    zv::CBog* bog = pg.AddBog();
    zv::CBdButton* b = NewButton(*bog, item.label, x, y, looks, error);
    if (!b) return false;
    if (item.kind == Kind::kAudio || item.kind == Kind::kSubtitle) {
      // The chosen look, shown while this is the player's stream.
      zv::CGraphicObject* chosen[3];
      if (!LabelLooks(item.label, w, h, true, chosen, error)) return false;
      if (!NewButton(*bog, item.label + " (chosen)", x, y, chosen, error)) return false;
    }
    Type(*b, item, lists);
    return true;
  }

  bool AddThumb(zv::CPage& pg, const SItem& item, int x, int y, const zv::CPicture* thumb, std::string& error) {
    const int tw = X(t_.thumbWidth), th = Y(t_.thumbHeight), bw = t_.thumbBorder;
    const int w = ThumbW(), h = ThumbH();
    zv::CGraphicObject* looks[3];
    for (int s = 0; s < 3; ++s) {
      zv::CPicture p = Canvas(w, h);
      const uint32_t frame = s == 0 ? t_.thumbFrame : s == 1 ? t_.selectedBar : t_.activatedBar;
      FillRounded(p, 0, 0, w, th + 2 * bw, bw, frame, 255);
      if (thumb) Blit(p, *thumb, bw, bw);
      else FillRounded(p, bw, bw, tw, th, 0, t_.background, 255);
      if (s != 0) FillRounded(p, 0, th + 2 * bw, w, LabelH(), Y(t_.barRadius), frame, t_.barOpacity);
      else if (popup_) FillRounded(p, 0, th + 2 * bw, w, LabelH(), Y(t_.barRadius), t_.normalBar, 170);
      zv::STextLook look = t_.text;
      look.size = std::max(8, Y(t_.thumbTextSize));
      look.colour = s == 0 ? t_.text.colour : s == 1 ? t_.selectedText : t_.activatedText;
      if (!text_->Draw(p, item.label, look, 4, th + 2 * bw, w - 8, LabelH(), zv::TextAlign::kCentre, error))
        return false;
      if (!(looks[s] = Graphic(p, "T" + std::to_string(s) + ":" + std::to_string(nextGraphic_), error))) return false;
    }
    zv::CBog* bog = pg.AddBog();
    zv::CBdButton* b = NewButton(*bog, item.label, x, y, looks, error);
    if (!b) return false;
    zv::SelectButtonType(*b, *zv::FindButtonType("Chapter"));
    zv::SetButtonParameter(*b, 0, item.group);
    zv::SetButtonParameter(*b, 1, item.movie);
    zv::SetButtonParameter(*b, 2, item.choice);
    return true;
  }

  const SMenuTemplate& t_;
  zv::CTextDrawer* text_ = nullptr;  // the drawing thread's own
  double sx_, sy_;
  std::string folder_, tag_;
  bool popup_;
  zv::CIgObject model_;
  zv::CEpoch* epoch_ = nullptr;
  zv::CDisplaySet* ds_ = nullptr;
  int32_t nextGraphic_ = 0;
  int64_t bytes_ = 0;
  std::map<std::string, zv::CGraphicObject*> cache_;
  std::vector<std::string> files_;
};

// The menu's own settings stay; its design is replaced by `model`.
void HandOver(zv::CZvIgObject& menu, zv::CIgObject& model) {
  std::vector<std::string> names;
  for (size_t e = 0; e < menu.GetCount(); ++e) names.push_back(menu.GetAt(e)->m_strName);
  menu.TakeOver(model);
  for (size_t e = 0; e < names.size() && e < menu.GetCount(); ++e) menu.GetAt(e)->SetName(names[e]);
  menu.ClearSourcePath();
  menu.SetPopup(menu.m_bPopup, menu.m_nUserTimeout);
  menu.SetStreamModel(menu.m_bOutOfMux);
}

}  // namespace

std::string LanguageName(const std::string& code) {
  static const std::map<std::string, std::string> names = {
      {"eng", "English"},   {"fra", "Français"},  {"fre", "Français"},  {"deu", "Deutsch"},   {"ger", "Deutsch"},
      {"spa", "Español"},   {"ita", "Italiano"},  {"nld", "Nederlands"}, {"dut", "Nederlands"}, {"por", "Português"},
      {"swe", "Svenska"},   {"dan", "Dansk"},     {"nor", "Norsk"},     {"fin", "Suomi"},     {"pol", "Polski"},
      {"ces", "Čeština"},   {"cze", "Čeština"},   {"hun", "Magyar"},    {"tur", "Türkçe"},    {"ell", "Ελληνικά"},
      {"gre", "Ελληνικά"},  {"rus", "Русский"},   {"ukr", "Українська"}, {"heb", "עברית"},    {"ara", "العربية"},
      {"hin", "हिन्दी"},     {"jpn", "日本語"},    {"zho", "中文"},      {"chi", "中文"},      {"kor", "한국어"},
      {"cat", "Català"},    {"ron", "Română"},    {"rum", "Română"},    {"slk", "Slovenčina"}, {"slo", "Slovenčina"},
      {"hrv", "Hrvatski"},  {"srp", "Српски"},    {"bul", "Български"}, {"isl", "Íslenska"},  {"ice", "Íslenska"},
      {"tha", "ไทย"},       {"vie", "Tiếng Việt"}, {"ind", "Bahasa Indonesia"}};
  auto it = names.find(code);
  return it != names.end() ? it->second : code.empty() ? std::string("Unknown") : code;
}

bool ParseMenuPages(const std::string& list, SGenerateOptions& o, std::string& error) {
  o.titles = o.chapters = o.audio = o.subtitles = false;
  size_t start = 0;
  while (start <= list.size()) {
    const size_t comma = std::min(list.find(',', start), list.size());
    const std::string word = list.substr(start, comma - start);
    if (word == "titles") o.titles = true;
    else if (word == "chapters") o.chapters = true;
    else if (word == "audio") o.audio = true;
    else if (word == "subtitles") o.subtitles = true;
    else return error = "--pages takes titles, chapters, audio and subtitles, not \"" + word + "\"", false;
    start = comma + 1;
  }
  return true;
}

namespace {

struct SMenuPlan {
  zv::CZvIgObject* target = nullptr;
  std::unique_ptr<CMenuMaker> maker;
  std::vector<SList> lists;
  // This menu's own chapter pictures by index when its size differs from
  // the top menu's (only its movie's are filled); else the shared ones.
  std::vector<zv::CPicture> scaled;
};

// The chapter lists of `titles` (an index page first when several titles
// have chapters) appended to `lists`; returns the list "Chapters" opens,
// -1 when no title has two chapters or more.
int AddChapterLists(std::vector<SList>& lists, const std::vector<const STitle*>& titles,
                    const std::vector<int>& firstThumb, int back, bool thumbs) {
  std::vector<size_t> with;
  for (size_t i = 0; i < titles.size(); ++i)
    if (titles[i]->chapters.size() >= 2) with.push_back(i);
  if (with.empty()) return -1;
  int index = -1;
  if (with.size() > 1) {
    index = int(lists.size());
    lists.push_back({"Chapters", {}, back});
  }
  for (size_t i : with) {
    const STitle& t = *titles[i];
    SList l;
    l.name = with.size() > 1 ? "Chapters " + t.label : "Chapters";
    l.back = index >= 0 ? index : back;
    l.thumbs = thumbs && firstThumb[i] >= 0;
    for (size_t c = 0; c < t.chapters.size(); ++c) {
      SItem item{t.chapters[c].name, Kind::kChapter, t.group, t.movie, int32_t(c)};
      item.thumb = thumbs && firstThumb[i] >= 0 ? firstThumb[i] + int(c) : -1;
      l.items.push_back(item);
    }
    if (index >= 0) lists[size_t(index)].items.push_back({t.label, Kind::kPage, -1, -1, -1, int(lists.size())});
    lists.push_back(std::move(l));
  }
  return index >= 0 ? index : int(lists.size()) - 1;
}

void AddStreamLists(std::vector<SList>& lists, const SMovieStreams& s, int32_t group, const SGenerateOptions& o,
                    int& audio, int& subtitles) {
  audio = subtitles = -1;
  if (o.audio && s.audio.size() > 1) {
    audio = int(lists.size());
    SList l{"Audio", {}, 0};
    for (size_t i = 0; i < s.audio.size(); ++i) l.items.push_back({s.audio[i].label, Kind::kAudio, group, 0, int32_t(i)});
    lists.push_back(std::move(l));
  }
  if (o.subtitles && !s.subtitles.empty()) {
    subtitles = int(lists.size());
    SList l{"Subtitles", {}, 0};
    for (size_t i = 0; i < s.subtitles.size(); ++i)
      l.items.push_back({s.subtitles[i].label, Kind::kSubtitle, group, 0, int32_t(i)});
    l.items.push_back({"Off", Kind::kSubtitleOff});
    lists.push_back(std::move(l));
  }
}

// Estimated decoded bytes of the lists' objects.
int64_t Cost(const CMenuMaker& m, std::vector<SList>& lists) {
  int64_t sum = 0;
  for (SList& l : lists) {
    m.Plan(l);
    sum += m.Cost(l);
  }
  return sum;
}

// Keeps the menu within the decoder's object buffer: chapter pictures give
// way to plain chapter buttons, then chapter pages are left out from the
// last title on. Notes say what was given up.
void FitBudget(const CMenuMaker& m, std::vector<SList>& lists, const std::string& menu,
               std::vector<std::string>& notes) {
  if (Cost(m, lists) <= kObjectBudget) return;
  bool any = false;
  for (SList& l : lists) any = any || std::exchange(l.thumbs, false);
  if (any) notes.push_back(menu + ": chapter buttons show no picture, so that the menu fits the player's memory");
  while (Cost(m, lists) > kObjectBudget) {
    // The last chapter list goes; buttons that opened it go with it.
    int drop = -1;
    for (int i = int(lists.size()) - 1; i >= 0 && drop < 0; --i)
      if (!lists[size_t(i)].items.empty() && lists[size_t(i)].items.front().kind == Kind::kChapter) drop = i;
    if (drop < 0) return;  // the compiler will say what does not fit
    notes.push_back(menu + ": no chapter page for \"" + lists[size_t(drop)].name + "\", so that the menu fits the player's memory");
    lists[size_t(drop)].items.clear();
    lists[size_t(drop)].pages = 0;
    for (SList& l : lists)
      l.items.erase(std::remove_if(l.items.begin(), l.items.end(),
                                   [&](const SItem& it) { return it.kind == Kind::kPage && it.list == drop; }),
                    l.items.end());
  }
}

// Lists left empty by FitBudget are dropped, with the buttons that opened
// them (which may empty a titles' page in turn), and the links renumbered;
// "Back" to a list that is gone leads to the first page.
void Compact(std::vector<SList>& lists) {
  std::vector<bool> gone(lists.size(), false);
  for (bool changed = true; changed;) {
    changed = false;
    for (size_t i = 1; i < lists.size(); ++i)
      if (!gone[i] && lists[i].items.empty()) gone[i] = changed = true;
    for (SList& l : lists)
      l.items.erase(std::remove_if(l.items.begin(), l.items.end(),
                                   [&](const SItem& it) {
                                     return it.kind == Kind::kPage && it.list >= 0 && gone[size_t(it.list)];
                                   }),
                    l.items.end());
  }
  std::vector<int> to(lists.size(), -1);
  std::vector<SList> kept;
  for (size_t i = 0; i < lists.size(); ++i)
    if (!gone[i]) {
      to[i] = int(kept.size());
      kept.push_back(std::move(lists[i]));
    }
  for (SList& l : kept) {
    if (l.back >= 0) l.back = to[size_t(l.back)] >= 0 ? to[size_t(l.back)] : 0;
    for (SItem& it : l.items)
      if (it.kind == Kind::kPage && it.list >= 0) it.list = to[size_t(it.list)];
  }
  lists = std::move(kept);
}

// The top menu's background picture: the given file, else a picture of the
// first movie blurred and darkened, else the template colour.
bool MakeBackground(const SGenerateOptions& o, const SMenuTemplate& t, const std::vector<STitle>& titles,
                    zv::CPicture& out, std::vector<std::string>& notes, std::string& error) {
  if (!o.background.empty()) {
    zv::CPicture pic;
    if (!zv::DecodeImageFile(o.background, pic, error)) return false;
    zv::CPicture argb = Canvas(pic.width, pic.height);
    for (int y = 0; y < pic.height; ++y)
      for (int x = 0; x < pic.width; ++x) {
        const zv::SColor c = pic.At(x, y);
        uint8_t* d = argb.Row(y) + size_t(x) * 4;
        d[0] = 255;  // the background is opaque
        d[1] = uint8_t(c.r * c.a / 255);
        d[2] = uint8_t(c.g * c.a / 255);
        d[3] = uint8_t(c.b * c.a / 255);
      }
    out = Scaled(argb, 1920, 1080);
    return true;
  }
  for (const STitle& title : titles) {
    if (title.chapters.empty() || title.chapters.front().video.empty()) continue;
    // A picture a little into the movie: its very first is often black.
    const STitle::SChapter& c = title.chapters.size() > 1 ? title.chapters[1] : title.chapters.front();
    std::vector<zv::CPicture> pics;
    std::string why;
    if (zv::DecodeFramesAt(c.video, {c.frame}, 480, 270, pics, {}, why) == zv::kOk) {
      BlurAndDim(pics[0], std::max(1, t.backgroundBlur / 4), t.backgroundDim);
      out = Scaled(pics[0], 1920, 1080);
      return true;
    }
    notes.push_back("the background is the template's colour: " + why);
    break;
  }
  out = Canvas(1920, 1080);
  for (size_t i = 0; i < out.pixels.size(); i += 4) {
    out.pixels[i] = 255;
    out.pixels[i + 1] = uint8_t(t.background >> 16);
    out.pixels[i + 2] = uint8_t(t.background >> 8);
    out.pixels[i + 3] = uint8_t(t.background);
  }
  return true;
}

// Draws every menu, each on one thread (its own text renderer), menus
// taken in order by whichever thread is free: a menu's pictures, names and
// model depend on the menu alone. Progress and cancel go through this
// thread's menus; a cancel or a failure stops the others at their next
// button.
int DrawAll(std::vector<SMenuPlan>& plans, const std::vector<zv::CPicture>& thumbs, zv::CTextDrawer& text,
            int threads, const zv::Progress& progress, std::string& error) {
  const size_t width = std::min(plans.size(), threads > 0 ? size_t(threads) : zv::ParallelWidth(plans.size()));
  std::vector<std::unique_ptr<zv::CTextDrawer>> drawers;
  for (size_t t = 1; t < width; ++t) {
    auto d = std::make_unique<zv::CTextDrawer>();
    if (!d->Open(error)) return zv::kFailed;
    drawers.push_back(std::move(d));
  }
  std::atomic<bool> stop{false};
  const zv::Progress helperProgress{[](void* c, const zv::SProgressInfo*) {
                                      return static_cast<std::atomic<bool>*>(c)->load() ? 0 : 1;
                                    },
                                    &stop};
  std::atomic<size_t> next{0};
  std::vector<int> results(plans.size(), zv::kOk);
  std::vector<std::string> errors(plans.size());
  std::vector<std::exception_ptr> thrown(plans.size());
  auto work = [&](zv::CTextDrawer& drawer, const zv::Progress& shown) {
    for (size_t i; !stop && (i = next++) < plans.size();) {
      SMenuPlan& plan = plans[i];
      try {
        for (SList& l : plan.lists) plan.maker->Plan(l);
        if (!plan.maker->Build(plan.lists, plan.scaled.empty() ? thumbs : plan.scaled, drawer, shown, errors[i])) {
          results[i] = errors[i].empty() ? zv::kCancelled : zv::kFailed;
          stop = true;
        }
      } catch (...) {
        thrown[i] = std::current_exception();
        stop = true;
      }
    }
  };
  std::vector<std::thread> helpers;
  for (size_t t = 0; t < drawers.size(); ++t) {
    try {
      helpers.emplace_back(work, std::ref(*drawers[t]), std::cref(helperProgress));
    } catch (const std::system_error&) {
      break;  // the threads there are do the rest
    }
  }
  work(text, progress);
  for (std::thread& h : helpers) h.join();
  // The first menu that went wrong speaks; a cancel only where none failed.
  for (size_t i = 0; i < plans.size(); ++i)
    if (thrown[i]) std::rethrow_exception(thrown[i]);
  for (size_t i = 0; i < plans.size(); ++i)
    if (results[i] == zv::kFailed) return error = errors[i], zv::kFailed;
  for (size_t i = 0; i < plans.size(); ++i)
    if (results[i] != zv::kOk) return zv::kCancelled;
  return zv::kOk;
}

}  // namespace

int GenerateMenus(zv::CZvObject& project, const SGenerateOptions& o, ISourceDisplay& display, zv::IPrompt& prompt,
                  SGenerateReport& report, std::string& error) {
  report = SGenerateReport{};
  CStepClock clock(report.times);
  const zv::Progress progress = display.Callback();
  zv::CZvIgObject* top = o.topMenu ? o.topMenu : project.m_topMenu.m_menus.GetAt(0);
  if (!top) return error = "the project has no top menu", zv::kFailed;
  if (o.pictureFolder.empty()) return error = "no folder for the menu pictures", zv::kFailed;
  SMenuTemplate tmpl;
  if (!LoadMenuTemplate(o.templateName, TemplateFolders(o.templateFolders), tmpl, error)) return zv::kFailed;

  // The titles, their chapters and where each chapter's picture is.
  std::vector<STitle> titles;
  for (size_t g = 0; g < project.m_movies.GetCount(); ++g) {
    zv::CFilmObject& film = *project.m_movies.GetAt(g);
    int titled = 0;
    for (size_t m = 0; m < film.m_playlists.GetCount(); ++m) titled += film.m_playlists.GetAt(m)->m_bHasTitle;
    for (size_t m = 0; m < film.m_playlists.GetCount(); ++m) {
      const zv::CPlObject& pl = *film.m_playlists.GetAt(m);
      if (!pl.m_bHasTitle || pl.GetCount() == 0 || !pl.GetAt(0)->m_pStory || VideoOf(pl.GetAt(0)->m_pStory).empty())
        continue;
      STitle t{int32_t(g), int32_t(m), titled > 1 ? film.m_strName + " " + pl.m_strName : film.m_strName, {}};
      for (size_t i = 0; i < pl.GetCount(); ++i) {
        const zv::CPiObject& pi = *pl.GetAt(i);
        const std::string video = VideoOf(pi.m_pStory);
        for (const zv::CChapterPoint& p : pi.m_chapters.m_points)
          t.chapters.push_back({p.name.empty() ? "Chapter " + std::to_string(t.chapters.size() + 1) : p.name, video,
                                p.time < 0 ? int64_t{1} << 40 : p.time});
      }
      titles.push_back(std::move(t));
    }
  }
  if (titles.empty())
    return error = "the project has no title with a video to make menus for: add a movie's streams first", zv::kFailed;

  std::error_code ec;
  fs::create_directories(o.pictureFolder, ec);
  if (ec) return error = "\"" + o.pictureFolder + "\" cannot be made: " + ec.message(), zv::kFailed;
  zv::CTextDrawer text;
  if (!text.Open(error)) return zv::kFailed;
  clock.Mark("fonts");
  progress.Action("Drawing the menus");

  // Chapter pictures, each video file read once; thumbnails made at the
  // top menu's size and scaled for a pop-up of another.
  std::vector<int> firstThumb(titles.size(), -1);
  std::vector<zv::CPicture> thumbs;
  // The background depends on the titles alone: it is made and coded
  // beside the rest, and written once the menus compile.
  struct SBackground {
    std::vector<uint8_t> png;
    std::vector<std::string> notes;
    std::string error;
    bool ok = false;
  };
  auto makeBackground = [&o, &tmpl, &titles] {
    SBackground b;
    zv::CPicture picture;
    b.ok = MakeBackground(o, tmpl, titles, picture, b.notes, b.error) && zv::EncodePng(picture, b.png, b.error);
    return b;
  };
  std::future<SBackground> backgroundMade;
  try {
    backgroundMade = std::async(std::launch::async, makeBackground);
  } catch (const std::system_error&) {
    backgroundMade = std::async(std::launch::deferred, makeBackground);  // made here when needed
  }
  if (o.chapters && o.thumbnails) {
    std::map<std::string, std::vector<std::pair<size_t, int64_t>>> wanted;  // file: (thumb, frame)
    for (size_t i = 0; i < titles.size(); ++i) {
      if (titles[i].chapters.size() < 2) continue;
      firstThumb[i] = int(thumbs.size());
      for (const STitle::SChapter& c : titles[i].chapters) {
        wanted[c.video].push_back({thumbs.size(), c.frame});
        thumbs.emplace_back();
      }
    }
    // Files are decoded at once, each on one core; notes come in the
    // files' order.
    std::vector<zv::SFramesWanted> files;
    for (auto& [file, list] : wanted) {
      files.emplace_back();
      files.back().path = file;
      for (auto& w : list) files.back().frames.push_back(w.second);
    }
    if (zv::DecodeFramesOfFiles(files, tmpl.thumbWidth, tmpl.thumbHeight, o.threads, progress) != zv::kOk)
      return zv::kCancelled;
    size_t f = 0;
    for (auto& [file, list] : wanted) {
      zv::SFramesWanted& got = files[f++];
      if (got.result != zv::kOk) {
        // Named chapter buttons beat no menu: the titles of this file show
        // their chapters without pictures.
        report.notes.push_back("chapter buttons show names only where the pictures could not be made: " + got.error);
        for (auto& w : list) thumbs[w.first] = zv::CPicture{};
        continue;
      }
      for (size_t k = 0; k < list.size(); ++k) thumbs[list[k].first] = std::move(got.pictures[k]);
    }
    // A title with a chapter without its picture gets plain chapter buttons.
    for (size_t i = 0; i < titles.size(); ++i)
      for (size_t c = 0; firstThumb[i] >= 0 && c < titles[i].chapters.size(); ++c)
        if (thumbs[size_t(firstThumb[i]) + c].pixels.empty()) firstThumb[i] = -1;
  }
  clock.Mark("chapter pictures");

  std::vector<SMenuPlan> plans;
  // The top menu.
  {
    SMenuPlan plan;
    plan.target = top;
    zv::CIgObject& header = *top;
    if (!header.m_video.width) top->SetVideoFormat(kVideoFormat1080p23976);
    plan.maker = std::make_unique<CMenuMaker>(tmpl, top->m_video.width, top->m_video.height, o.pictureFolder,
                                              "top", false);
    plan.maker->Model().CopyHeader(*top);
    std::vector<SList>& lists = plan.lists;
    lists.push_back(SList{"Main", {}, -1});
    if (o.titles) {
      for (const STitle& t : titles) lists[0].items.push_back({t.label, Kind::kTitle, t.group, t.movie});
    } else {
      lists[0].items.push_back({"Play", Kind::kTitle, titles[0].group, titles[0].movie});
    }
    std::vector<const STitle*> all;
    for (const STitle& t : titles) all.push_back(&t);
    const int chapters = o.chapters ? AddChapterLists(lists, all, firstThumb, 0, o.thumbnails) : -1;
    int audio = -1, subtitles = -1;
    AddStreamLists(lists, StreamsOf(*project.m_movies.GetAt(size_t(titles[0].group))), titles[0].group, o, audio,
                   subtitles);
    if (chapters >= 0) lists[0].items.push_back({"Chapters", Kind::kPage, -1, -1, -1, chapters});
    if (audio >= 0) lists[0].items.push_back({"Audio", Kind::kPage, -1, -1, -1, audio});
    if (subtitles >= 0) lists[0].items.push_back({"Subtitles", Kind::kPage, -1, -1, -1, subtitles});
    FitBudget(*plan.maker, lists, top->m_strName, report.notes);
    Compact(lists);
    plans.push_back(std::move(plan));
  }
  // A pop-up menu for each movie, over its own video.
  for (size_t g = 0; o.popups && g < project.m_movies.GetCount(); ++g) {
    zv::CFilmObject& film = *project.m_movies.GetAt(g);
    std::vector<const STitle*> mine;
    std::vector<int> mineThumb;
    for (size_t i = 0; i < titles.size(); ++i)
      if (titles[i].group == int32_t(g)) {
        mine.push_back(&titles[i]);
        mineThumb.push_back(firstThumb[i]);
      }
    zv::CZvIgObject* menu = nullptr;
    for (size_t m = 0; m < film.m_playlists.GetCount() && !menu; ++m) menu = film.m_playlists.GetAt(m)->m_pMenu;
    if (!menu) menu = film.m_menus.GetAt(0);
    if (mine.empty() || !menu) continue;
    const std::string label = film.m_strName + "/" + menu->m_strName;
    std::string why;
    if (!zv::EnsureMenuVideoFormat(*menu, label, why)) {
      report.notes.push_back(label + ": no pop-up menu, " + why);
      continue;
    }
    SMenuPlan plan;
    plan.target = menu;
    plan.maker = std::make_unique<CMenuMaker>(tmpl, menu->m_video.width, menu->m_video.height, o.pictureFolder,
                                              "popup" + std::to_string(g + 1), true);
    plan.maker->Model().CopyHeader(*menu);
    std::vector<SList>& lists = plan.lists;
    lists.push_back(SList{"Main", {}, -1});
    lists[0].row = true;
    // A chapter button of a pop-up moves within the title that plays, so
    // the pop-up offers the chapters of the movie's first title.
    const std::vector<const STitle*> first(mine.begin(), mine.begin() + 1);
    const int chapters = o.chapters ? AddChapterLists(lists, first, {mineThumb[0]}, 0, o.thumbnails) : -1;
    int audio = -1, subtitles = -1;
    AddStreamLists(lists, StreamsOf(film), int32_t(g), o, audio, subtitles);
    if (chapters >= 0) lists[0].items.push_back({"Chapters", Kind::kPage, -1, -1, -1, chapters});
    if (audio >= 0) lists[0].items.push_back({"Audio", Kind::kPage, -1, -1, -1, audio});
    if (subtitles >= 0) lists[0].items.push_back({"Subtitles", Kind::kPage, -1, -1, -1, subtitles});
    lists[0].items.push_back({"Top menu", Kind::kTopMenu});
    lists[0].items.push_back({"Close", Kind::kPopUpOff});
    FitBudget(*plan.maker, lists, label, report.notes);
    Compact(lists);
    const int tw = plan.maker->X(tmpl.thumbWidth), th = plan.maker->Y(tmpl.thumbHeight);
    if (tw != tmpl.thumbWidth || th != tmpl.thumbHeight) {
      plan.scaled.resize(thumbs.size());
      for (const SList& l : lists)
        for (const SItem& it : l.items)
          if (it.thumb >= 0 && !thumbs[size_t(it.thumb)].pixels.empty())
            plan.scaled[size_t(it.thumb)] = Scaled(thumbs[size_t(it.thumb)], tw, th);
    }
    plans.push_back(std::move(plan));
  }

  clock.Mark("planning");
  // Draw, then compile each as the build will: the decoder's limits hold
  // before anything of the project changes.
  if (int rc = DrawAll(plans, thumbs, text, o.threads, progress, error); rc != zv::kOk) return rc;
  clock.Mark("drawing");
  // Each menu is compiled on its own, one on each core; the first that
  // fails in order speaks.
  std::vector<std::string> compileErrors(plans.size());
  std::vector<char> compiled(plans.size(), 0);
  zv::ParallelFor(
      plans.size(),
      [&](size_t i) {
        SMenuPlan& plan = plans[i];
        plan.maker->StandIns(true);
        zv::CZvIgObject probe;
        probe.TakeOver(plan.maker->Model());
        probe.SetPopup(plan.target->m_bPopup, plan.target->m_nUserTimeout);
        zv::CCompiledPage page;
        compiled[i] = zv::CompileMenuPages(probe, page, compileErrors[i]);
        plan.maker->Model().TakeOver(probe);
        plan.maker->StandIns(false);
      },
      o.threads > 0 ? size_t(o.threads) : 0);
  for (size_t i = 0; i < plans.size(); ++i)
    if (!compiled[i])
      return error = "the generated menu \"" + plans[i].target->m_strName + "\" does not compile: " + compileErrors[i],
             zv::kFailed;
  clock.Mark("compiling");

  // The background.
  SBackground background = backgroundMade.get();
  report.notes.insert(report.notes.end(), background.notes.begin(), background.notes.end());
  if (!background.ok) return error = background.error, zv::kFailed;
  report.backgroundPicture = (fs::path(o.pictureFolder) / "background.png").lexically_normal().string();
  if (!zv::WriteWholeFile(report.backgroundPicture, background.png.data(), background.png.size(), error))
    return zv::kFailed;
  clock.Mark("background picture");
  zv::CFilmObject& topFilm = project.m_topMenu;
  zv::CStoryObject* story = topFilm.m_stories.GetAt(0);
  if (story && story->TrackRefs().empty()) {
    SAddSources request;
    request.clipName = topFilm.m_strName + "/" + story->m_strName;
    request.files = {report.backgroundPicture};
    if (int rc = AddSources(*story, request, display, prompt); rc != zv::kOk) {
      if (rc == zv::kFailed) error = "the background picture cannot become the top menu's clip";
      return rc;
    }
    report.backgroundAdded = true;
    if (zv::CPlObject* pl = topFilm.m_playlists.GetAt(0); pl && pl->GetCount() > 0 && pl->GetAt(0)->m_nStillMode == 0)
      pl->GetAt(0)->m_nStillMode = 2;  // the menu stays up over the picture
  } else if (story) {
    report.notes.push_back("the top menu keeps its background clip; the generated picture is " +
                           report.backgroundPicture);
  }

  clock.Mark("background clip");
  report.pictures.push_back(report.backgroundPicture);
  for (SMenuPlan& plan : plans) {
    report.pictures.insert(report.pictures.end(), plan.maker->Files().begin(), plan.maker->Files().end());
    HandOver(*plan.target, plan.maker->Model());
    ++report.menus;
    const zv::CDisplaySet& ds = *plan.target->GetAt(0)->GetAt(0);
    report.pages += int(ds.GetCount());
    for (size_t p = 0; p < ds.GetCount(); ++p) report.buttons += int(ds.GetAt(p)->Buttons().size());
  }
  return zv::kOk;
}

}  // namespace zvedit
