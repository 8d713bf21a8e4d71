#include "subtitles/text_draw.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "subtitles/ass_handles.h"

namespace zv {

namespace {

// ASS colours are &HAABBGGRR with alpha 0 opaque.
std::string AssColour(uint32_t rgb) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "&H00%02X%02X%02X", rgb & 0xFF, (rgb >> 8) & 0xFF, (rgb >> 16) & 0xFF);
  return buf;
}

// Override blocks and line breaks of the script syntax are not the
// author's: braces become parentheses, a backslash cannot start a tag.
std::string PlainText(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '{') out += '(';
    else if (c == '}') out += ')';
    else if (c == '\\') out += '/';
    else if (c == '\n' || c == '\r') out += ' ';
    else out += c;
  }
  return out;
}

}  // namespace

struct CTextDrawer::Impl {
  ass::Library library;
  ass::Renderer renderer;
};

CTextDrawer::CTextDrawer() : impl_(std::make_unique<Impl>()) {}
CTextDrawer::~CTextDrawer() = default;

bool CTextDrawer::Open(std::string& error) {
  impl_->library.reset(ass_library_init());
  if (impl_->library) {
    ass_set_message_cb(impl_->library.get(), ass::QuietMessages, nullptr);
    impl_->renderer.reset(ass_renderer_init(impl_->library.get()));
  }
  if (!impl_->renderer) return error = "the text renderer (libass) cannot be started", false;
  ass_set_fonts(impl_->renderer.get(), nullptr, "DejaVu Sans", ASS_FONTPROVIDER_AUTODETECT, nullptr, 1);
  return true;
}

bool CTextDrawer::Draw(CPicture& canvas, const std::string& text, const STextLook& look, int x, int y, int w, int h,
                       TextAlign align, std::string& error) {
  if (!impl_->renderer) return error = "the text renderer is not started", false;
  if (canvas.format != PixelFormat::Argb32 || w <= 0 || h <= 0) return error = "no room for the text", false;
  ASS_Renderer* r = impl_->renderer.get();
  const int cw = canvas.width, ch = canvas.height;
  ass_set_frame_size(r, cw, ch);
  ass_set_storage_size(r, cw, ch);
  double size = look.size;
  for (int attempt = 0; attempt < 3; ++attempt) {
    const int px = align == TextAlign::kCentre ? x + w / 2 : x;
    const int py = y + h / 2;
    char pos[96];
    std::snprintf(pos, sizeof pos, "{\\an%d\\pos(%d,%d)}", align == TextAlign::kCentre ? 5 : 4, px, py);
    std::string script = "[Script Info]\nScriptType: v4.00+\nPlayResX: " + std::to_string(cw) +
                         "\nPlayResY: " + std::to_string(ch) +
                         "\nWrapStyle: 2\nScaledBorderAndShadow: yes\n\n[V4+ Styles]\n"
                         "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, BackColour, "
                         "Bold, Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, BorderStyle, Outline, "
                         "Shadow, Alignment, MarginL, MarginR, MarginV, Encoding\n";
    char style[512];
    std::snprintf(style, sizeof style, "Style: M,%s,%.1f,%s,%s,%s,&H00000000,%d,0,0,0,100,100,0,0,1,%.1f,0,5,0,0,0,1\n",
                  look.font.c_str(), size, AssColour(look.colour).c_str(), AssColour(look.colour).c_str(),
                  AssColour(look.outlineColour).c_str(), look.bold ? -1 : 0, look.outline);
    script += style;
    script += "\n[Events]\nFormat: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n"
              "Dialogue: 0,0:00:00.00,0:00:10.00,M,,0,0,0,," + std::string(pos) + PlainText(text) + "\n";
    ass::Track track(
        ass_read_memory(impl_->library.get(), script.data(), script.size(), const_cast<char*>("UTF-8")));
    if (!track) return error = "the text renderer cannot read \"" + text + "\"", false;
    int changed = 0;
    ASS_Image* images = ass_render_frame(r, track.get(), 1000, &changed);
    int x0 = cw, x1 = 0;
    for (ASS_Image* img = images; img; img = img->next) {
      x0 = std::min(x0, img->dst_x);
      x1 = std::max(x1, img->dst_x + img->w);
    }
    const int extent = x1 - x0;
    if (extent > w && attempt < 2 && size > 8) {
      size = std::max(8.0, size * w / (extent + 2));
      continue;
    }
    for (ASS_Image* img = images; img; img = img->next) {
      const uint8_t cr = static_cast<uint8_t>(img->color >> 24), cg = static_cast<uint8_t>(img->color >> 16),
                    cb = static_cast<uint8_t>(img->color >> 8);
      const int opacity = 255 - static_cast<int>(img->color & 0xFF);
      for (int yy = 0; yy < img->h; ++yy) {
        const int ty = img->dst_y + yy;
        if (ty < y || ty >= y + h || ty < 0 || ty >= ch) continue;
        const uint8_t* m = img->bitmap + static_cast<size_t>(yy) * img->stride;
        for (int xx = 0; xx < img->w; ++xx) {
          const int tx = img->dst_x + xx;
          if (tx < x || tx >= x + w || tx < 0 || tx >= cw || m[xx] == 0) continue;
          BlendPixel(canvas.Row(ty) + static_cast<size_t>(tx) * 4, cr, cg, cb, m[xx] * opacity / 255);
        }
      }
    }
    return true;
  }
  return true;
}

}  // namespace zv
