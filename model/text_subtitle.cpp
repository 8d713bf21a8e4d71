#include "model/text_subtitle.h"

#include <cstdio>
#include <filesystem>

#include "platform/file.h"
#include "platform/paths.h"
#include "subtitles/pg_subtitles.h"

namespace zv {

namespace {

// Bumped when the drawing changes, so that older renderings are redone.
constexpr int kRenderVersion = 1;

uint64_t Fnv1a(const void* data, size_t n, uint64_t h = 0xcbf29ce484222325ull) {
  const auto* p = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 0x100000001b3ull;
  return h;
}

std::string StyleText(const SSubtitleStyle& s) {
  std::string t;
  auto add = [&](const char* k, const std::string& v) { t += std::string(k) + "=" + v + ";"; };
  if (s.font) add("font", *s.font);
  if (s.size) add("size", std::to_string(*s.size));
  if (s.colour) add("colour", std::to_string(*s.colour));
  if (s.outline) add("outline", std::to_string(*s.outline));
  if (s.shadow) add("shadow", std::to_string(*s.shadow));
  if (s.bottomMargin) add("margin", std::to_string(*s.bottomMargin));
  if (s.top) add("top", std::to_string(*s.top));
  return t;
}

bool VideoOf(const STrackVideoFormat& f, SSubtitleVideo& v) {
  static const struct {
    uint8_t code;
    uint32_t num, den;
  } kRates[] = {{1, 24000, 1001}, {2, 24, 1}, {3, 25, 1}, {4, 30000, 1001}, {6, 50, 1}, {7, 60000, 1001}};
  for (const auto& r : kRates)
    if (r.code == f.frameRate) {
      v.width = static_cast<int>(f.width);
      v.height = static_cast<int>(f.height);
      v.rateNum = r.num;
      v.rateDen = r.den;
      v.frameRateCode = r.code;
      return v.width > 0 && v.height > 0;
    }
  return false;
}

}  // namespace

bool IsTextSubtitlePath(const std::string& path) {
  const std::string e = ExtensionOf(path);
  return EqualsNoCase(e, ".srt") || EqualsNoCase(e, ".vtt") || EqualsNoCase(e, ".ass") || EqualsNoCase(e, ".ssa");
}

std::string RenderedSubtitlePath(const std::string& textPath) { return textPath + ".sup"; }

std::string LanguageFromFileName(const std::string& path) {
  std::string name = FileNameOf(path);
  const size_t dot = name.find_last_of('.');
  if (dot != std::string::npos) name.resize(dot);
  const size_t sep = name.find_last_of("_.-");
  if (sep == std::string::npos) return {};
  std::string code = name.substr(sep + 1);
  for (char& c : code) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return code.size() == 3 && LanguageIndexOf(code) >= 0 ? code : std::string();
}

int PrepareTextSubtitle(const std::string& textPath, const STrackVideoFormat& format, const SSubtitleStyle& style,
                        bool forced, const Progress& progress, IPrompt& prompt, bool* rendered) {
  if (rendered) *rendered = false;
  SSubtitleVideo video;
  if (!VideoOf(format, video)) {
    prompt.Message("\"" + textPath + "\": the clip's video has no frame rate a subtitle can be timed to");
    return kFailed;
  }
  std::vector<uint8_t> text;
  std::string error;
  if (!ReadWholeFile(textPath, text, error)) {
    prompt.Message(error);
    return kFailed;
  }
  // The key of what the stream was drawn from, kept beside it.
  char head[96];
  std::snprintf(head, sizeof head, "v%d %dx%d %u/%u ", kRenderVersion, video.width, video.height, video.rateNum,
                video.rateDen);
  // Unforced streams keep the key they always had.
  const std::string styleText = StyleText(style) + (forced ? "forced;" : "");
  uint64_t h = Fnv1a(text.data(), text.size());
  h = Fnv1a(styleText.data(), styleText.size(), h);
  const std::string key = std::string(head) + std::to_string(h) + "\n";
  const std::string sup = RenderedSubtitlePath(textPath), keyPath = sup + ".key";
  std::vector<uint8_t> stored;
  std::string ignored;
  std::error_code ec;
  if (std::filesystem::is_regular_file(sup, ec) && ReadWholeFile(keyPath, stored, ignored) &&
      std::string(stored.begin(), stored.end()) == key)
    return kOk;

  SSubtitleRenderOptions options;
  options.style = style;
  options.video = video;
  options.forced = forced;
  SSubtitleRenderStats stats;
  std::vector<std::string> warnings;
  progress.Action("Rendering " + textPath);
  const int rc = RenderSubtitleFile(textPath, sup, options, progress, stats, warnings, error);
  for (const std::string& w : warnings) prompt.Message("warning: " + w);
  if (rc != kOk) {
    if (rc == kFailed) prompt.Message(error);
    return rc;
  }
  if (!WriteFileAtomic(keyPath, key.data(), key.size(), error)) {
    prompt.Message(error);
    return kFailed;
  }
  if (rendered) *rendered = true;
  return kOk;
}

}  // namespace zv
