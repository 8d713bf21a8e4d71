#include "edit/menu_template.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

namespace zvedit {

namespace {

namespace fs = std::filesystem;

std::string Trim(const std::string& s) {
  size_t a = 0, b = s.size();
  while (a < b && std::isspace(static_cast<unsigned char>(s[a]))) ++a;
  while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1]))) --b;
  return s.substr(a, b - a);
}

bool Colour(const std::string& v, uint32_t& out) {
  if (v.size() != 7 || v[0] != '#') return false;
  for (size_t i = 1; i < 7; ++i)
    if (!std::isxdigit(static_cast<unsigned char>(v[i]))) return false;
  out = static_cast<uint32_t>(std::stoul(v.substr(1), nullptr, 16));
  return true;
}

bool Int(const std::string& v, int lo, int hi, int& out) {
  if (v.empty() || v.size() > 6) return false;
  for (size_t i = 0; i < v.size(); ++i)
    if (!std::isdigit(static_cast<unsigned char>(v[i])) && !(i == 0 && v[i] == '-')) return false;
  const int n = std::stoi(v);
  if (n < lo || n > hi) return false;
  out = n;
  return true;
}

bool Box(const std::string& v, SBox& out) {
  std::istringstream in(v);
  std::string p[4], rest;
  if (!(in >> p[0] >> p[1] >> p[2] >> p[3]) || (in >> rest)) return false;
  return Int(p[0], 0, 1920, out.x) && Int(p[1], 0, 1080, out.y) && Int(p[2], 1, 1920, out.w) &&
         Int(p[3], 1, 1080, out.h) && out.x + out.w <= 1920 && out.y + out.h <= 1080;
}

bool Bool(const std::string& v, bool& out) {
  if (v == "yes" || v == "true" || v == "1") return out = true, true;
  if (v == "no" || v == "false" || v == "0") return out = false, true;
  return false;
}

}  // namespace

bool ParseMenuTemplate(const std::string& text, SMenuTemplate& t, std::string& error) {
  using Setter = std::function<bool(const std::string&)>;
  auto colour = [](uint32_t& f) { return Setter([&f](const std::string& v) { return Colour(v, f); }); };
  auto number = [](int& f, int lo, int hi) {
    return Setter([&f, lo, hi](const std::string& v) { return Int(v, lo, hi, f); });
  };
  auto flag = [](bool& f) { return Setter([&f](const std::string& v) { return Bool(v, f); }); };
  auto box = [](SBox& f) { return Setter([&f](const std::string& v) { return Box(v, f); }); };
  const std::map<std::string, std::pair<Setter, const char*>> keys = {
      {"background", {colour(t.background), "a colour #RRGGBB"}},
      {"background-dim", {number(t.backgroundDim, 0, 100), "a percentage"}},
      {"background-blur", {number(t.backgroundBlur, 0, 64), "0 to 64 pixels"}},
      {"font", {[&t](const std::string& v) { return !v.empty() && (t.text.font = v, true); }, "a font family"}},
      {"bold", {flag(t.text.bold), "yes or no"}},
      {"text-size", {number(t.text.size, 8, 200), "8 to 200 pixels"}},
      {"text-colour", {colour(t.text.colour), "a colour #RRGGBB"}},
      {"outline", {[&t](const std::string& v) {
                     int n = 0;
                     return Int(v, 0, 10, n) && (t.text.outline = n, true);
                   },
                   "0 to 10 pixels"}},
      {"outline-colour", {colour(t.text.outlineColour), "a colour #RRGGBB"}},
      {"selected-text-colour", {colour(t.selectedText), "a colour #RRGGBB"}},
      {"activated-text-colour", {colour(t.activatedText), "a colour #RRGGBB"}},
      {"normal-bar-colour", {colour(t.normalBar), "a colour #RRGGBB"}},
      {"normal-bar-opacity", {number(t.normalBarOpacity, 0, 255), "0 to 255"}},
      {"selected-bar-colour", {colour(t.selectedBar), "a colour #RRGGBB"}},
      {"activated-bar-colour", {colour(t.activatedBar), "a colour #RRGGBB"}},
      {"bar-opacity", {number(t.barOpacity, 0, 255), "0 to 255"}},
      {"bar-radius", {number(t.barRadius, 0, 100), "0 to 100 pixels"}},
      {"chosen-colour", {colour(t.chosenMark), "a colour #RRGGBB"}},
      {"button-width", {number(t.buttonWidth, 64, 1920), "64 to 1920 pixels"}},
      {"button-height", {number(t.buttonHeight, 24, 400), "24 to 400 pixels"}},
      {"gap", {number(t.gap, 0, 200), "0 to 200 pixels"}},
      {"columns", {number(t.columns, 1, 8), "1 to 8"}},
      {"align-left", {flag(t.alignLeft), "yes or no"}},
      {"area", {box(t.area), "x y width height within 1920x1080"}},
      {"popup-area", {box(t.popupArea), "x y width height within 1920x1080"}},
      {"nav-y", {number(t.navY, 0, 1040), "0 to 1040"}},
      {"nav-width", {number(t.navWidth, 64, 600), "64 to 600 pixels"}},
      {"thumb-width", {number(t.thumbWidth, 64, 640), "64 to 640 pixels"}},
      {"thumb-height", {number(t.thumbHeight, 36, 360), "36 to 360 pixels"}},
      {"thumb-top", {number(t.thumbTop, 0, 1000), "0 to 1000"}},
      {"thumb-columns", {number(t.thumbColumns, 1, 8), "1 to 8"}},
      {"thumb-rows", {number(t.thumbRows, 1, 6), "1 to 6"}},
      {"thumb-border", {number(t.thumbBorder, 1, 20), "1 to 20 pixels"}},
      {"thumb-text-size", {number(t.thumbTextSize, 8, 100), "8 to 100 pixels"}},
      {"thumb-frame-colour", {colour(t.thumbFrame), "a colour #RRGGBB"}},
  };
  std::istringstream in(text);
  std::string line;
  for (int n = 1; std::getline(in, line); ++n) {
    // Whole-line comments start with '#' or ';', a comment after a value
    // with ';' ('#' starts a colour).
    if (const size_t semi = line.find(';'); semi != std::string::npos) line.resize(semi);
    if (Trim(line).rfind('#', 0) == 0) continue;
    line = Trim(line);
    if (line.empty()) continue;
    const size_t eq = line.find('=');
    if (eq == std::string::npos) return error = "line " + std::to_string(n) + ": \"key = value\" expected", false;
    const std::string key = Trim(line.substr(0, eq)), value = Trim(line.substr(eq + 1));
    if (key == "name") {
      t.name = value;
      continue;
    }
    auto it = keys.find(key);
    if (it == keys.end()) return error = "line " + std::to_string(n) + ": unknown key \"" + key + "\"", false;
    if (!it->second.first(value))
      return error = "line " + std::to_string(n) + ": " + key + " is " + it->second.second + ", not \"" + value + "\"",
             false;
  }
  const int listNeed = t.buttonHeight + t.gap;
  if (t.area.h < listNeed || t.area.w < t.buttonWidth)
    return error = "the area holds no button of " + std::to_string(t.buttonWidth) + "x" + std::to_string(t.buttonHeight),
           false;
  if (t.navY + t.buttonHeight > 1080) return error = "nav-y puts the Back row below the picture", false;
  return true;
}

std::vector<std::string> TemplateFolders(const std::vector<std::string>& extra) {
  std::vector<std::string> out = extra;
#ifdef ZV_TEMPLATE_DIR
  out.push_back(ZV_TEMPLATE_DIR);
#endif
  return out;
}

std::vector<std::string> TemplateNames(const std::vector<std::string>& folders) {
  std::vector<std::string> names;
  for (const std::string& f : folders) {
    std::error_code ec;
    for (fs::directory_iterator it(f, ec), end; !ec && it != end; it.increment(ec))
      if (it->path().extension() == ".ini") names.push_back(it->path().stem().string());
  }
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  return names;
}

bool LoadMenuTemplate(const std::string& name, const std::vector<std::string>& folders, SMenuTemplate& out,
                      std::string& error) {
  const bool plain = !name.empty() && name.find_first_of("/\\") == std::string::npos && name[0] != '.';
  for (const std::string& f : folders) {
    const fs::path path = fs::path(f) / (name + ".ini");
    std::error_code ec;
    if (!plain || !fs::is_regular_file(path, ec)) continue;
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in.good() && !in.eof()) return error = "\"" + path.string() + "\" cannot be read", false;
    out = SMenuTemplate{};
    out.name = name;
    if (!ParseMenuTemplate(text.str(), out, error)) return error = "\"" + path.string() + "\": " + error, false;
    return true;
  }
  std::string list;
  for (const std::string& n : TemplateNames(folders)) list += (list.empty() ? "" : ", ") + n;
  error = "no template \"" + name + "\"" + (list.empty() ? std::string(" (no templates found)") : " (there are: " + list + ")");
  return false;
}

}  // namespace zvedit
