// Building menus from the shell: `page add`, `bog add`, `button add` and
// `graphic add`, the menu tree of `show` and the page, BOG and button
// settings of `set`.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/command.h"
#include "app/json.h"
#include "app/menu_tree.h"
#include "app/project_load.h"
#include "app/sound_ids.h"
#include "app/terminal.h"
#include "bdnav/navcmd.h"
#include "graphics/effect_forms.h"
#include "graphics/ig_compiler.h"
#include "graphics/menu_model.h"
#include "model/button_types.h"
#include "model/object_path.h"
#include "model/project.h"
#include "platform/paths.h"

namespace zvapp {

namespace {

const char* RefName(const zv::CNamedObject* o) { return o ? o->m_strName.c_str() : "none"; }

std::string GraphicPair(const zv::CButtonStateInfo& s) {
  if (!s.m_start.p && !s.m_end.p) return "none";
  return std::string(RefName(s.m_start.p)) + " .. " + RefName(s.m_end.p);
}

void PrintSequence(const char* what, const zv::CEffectSequenceObject& seq, const std::string& in) {
  std::printf("%s%s: windows %zu, effects %zu\n", in.c_str(), what, seq.m_windows.GetCount(), seq.GetCount());
  for (size_t i = 0; i < seq.m_windows.GetCount(); ++i) {
    const zv::CWindowObject& w = *seq.m_windows.GetAt(i);
    std::printf("%s  %s  [id %d]  %d,%d %dx%d\n", in.c_str(), w.m_strName.c_str(), w.m_nId, w.m_rect.left, w.m_rect.top,
                w.m_rect.Width(), w.m_rect.Height());
  }
  for (size_t i = 0; i < seq.GetCount(); ++i) {
    const zv::CEffectObject& e = *seq.GetAt(i);
    std::printf("%s  %s  duration %u, palette %s\n", in.c_str(), e.m_strName.c_str(), e.m_nDuration, RefName(e.m_palette.p));
    for (size_t k = 0; k < e.GetCount(); ++k) {
      const zv::CCompositionObject& c = *e.GetAt(k);
      std::printf("%s    %s  graphic %s in %s at %d,%d%s%s\n", in.c_str(), c.m_strName.c_str(), RefName(c.m_graphic.p),
                  RefName(c.m_window.p), c.m_nX, c.m_nY, c.m_bCropped ? ", cropped" : "", c.m_bForcedOn ? ", forced on" : "");
    }
  }
}

void PrintGraphics(const zv::CGoFolder& f, const std::string& in) {
  for (size_t i = 0; i < f.GetCount(); ++i) {
    const zv::CGraphicObject& g = *f.GetAt(i);
    std::printf("%s%s  [id %d]  %dx%d  %s\n", in.c_str(), g.m_strName.c_str(), g.m_nId, g.m_nWidth, g.m_nHeight,
                g.m_strPath.empty() ? "(in memory)" : g.m_strPath.c_str());
  }
  for (size_t i = 0; i < f.GetFolderCount(); ++i) {
    std::printf("%s%s\n", in.c_str(), f.GetFolderAt(i)->m_strName.c_str());
    PrintGraphics(*f.GetFolderAt(i), in + "  ");
  }
}

// "movie-group Movie#1, movie Title#1": a typed button's choices by name.
std::string ChoicesText(const zv::CBdButton& b, const zv::CButtonType& type) {
  std::string text;
  for (int i = 0; i < type.ParameterCount(); ++i) {
    if (!type.ParameterApplies(b, i)) continue;
    const int32_t v = zv::ButtonParameter(b, i);
    const std::vector<std::string> names = type.FillParameterOptions(b, i);
    std::string value = v < 0 ? "none" : static_cast<size_t>(v) < names.size() ? names[static_cast<size_t>(v)]
                                                                               : "#" + std::to_string(v + 1) + " (missing)";
    text += std::string(text.empty() ? "" : ", ") + type.ParameterName(i) + " " + value;
  }
  return text;
}

void PrintButton(zv::CBdButton& b, const std::string& in) {
  const zv::CButtonType& type = zv::ButtonTypeOf(b.m_nButtonType);
  const bool known = type.Code() == b.m_nButtonType;
  const std::string kind = b.m_nButtonType == 0 ? " (own commands)" : known ? " (" + type.Name() + ")" : "";
  std::printf("%s%s  [id %d]  at %u,%u  size %dx%d  type %u%s  numeric %s  auto-action %s\n", in.c_str(),
              b.m_strName.c_str(), b.m_nId, b.m_nX, b.m_nY, b.Width(), b.Height(), b.m_nButtonType, kind.c_str(),
              b.m_nNumericValue == 0xFFFF ? "none" : std::to_string(b.m_nNumericValue).c_str(),
              b.m_bAutoAction ? "yes" : "no");
  if (b.m_nButtonType != 0 && known && type.ParameterCount() > 0)
    std::printf("%s  choices: %s\n", in.c_str(), ChoicesText(b, type).c_str());
  else if (b.m_nButtonType != 0 && !known)
    std::printf("%s  parameters %u %u %u %u\n", in.c_str(), b.m_params[0], b.m_params[1], b.m_params[2], b.m_params[3]);
  const char* states[3] = {"normal", "selected", "activated"};
  for (int s = 0; s < 3; ++s) {
    const zv::CButtonStateInfo& st = b.m_states[static_cast<size_t>(s)];
    std::printf("%s  %s: %s", in.c_str(), states[s], GraphicPair(st).c_str());
    if (s > 0) std::printf(", sound %s", st.m_nSoundId == 0xFF ? "none" : std::to_string(st.m_nSoundId).c_str());
    std::printf("%s\n", st.m_bRepeat ? ", repeat" : "");
  }
  std::printf("%s  neighbours: up %s, down %s, left %s, right %s\n", in.c_str(), RefName(b.m_neighbors.up.p),
              RefName(b.m_neighbors.down.p), RefName(b.m_neighbors.left.p), RefName(b.m_neighbors.right.p));
  for (size_t i = 0; i < b.m_commands.Count(); ++i)
    std::printf("%s  command %zu: %s\n", in.c_str(), i + 1, zv::CommandText(b.m_commands[i]).c_str());
}

bool ParseLong(const std::string& v, long lo, long hi, long& out) {
  char* end = nullptr;
  errno = 0;
  out = std::strtol(v.c_str(), &end, 10);
  return !v.empty() && *end == '\0' && errno == 0 && out >= lo && out <= hi;
}

bool ParseYesNo(const std::string& v, bool& out) {
  const std::string l = zv::ToLower(v);
  if (l == "yes" || l == "on" || l == "1" || l == "true") return out = true, true;
  if (l == "no" || l == "off" || l == "0" || l == "false") return out = false, true;
  return false;
}

struct Setter {
  const std::string& key;
  const std::string& value;
  std::string& error;
  bool Bad(const std::string& want) const {
    error = "\"" + key + "=" + value + "\": " + want;
    return false;
  }
  bool Unknown(const char* what, const char* keys) const {
    error = std::string(what) + " has no setting \"" + key + "\" (" + keys + ")";
    return false;
  }
};

// Names address the parts, so they stay unique among their siblings'
// kind on the page (buttons across all BOGs, since neighbours are named).
bool Rename(zv::CNamedObject& obj, const std::vector<zv::CNamedObject*>& others, const Setter& s) {
  const std::string& name = s.value;
  if (name.empty()) return s.Bad("a name cannot be empty");
  if (name.size() > 255) return s.Bad("a name has at most 255 bytes");
  for (unsigned char c : name)
    if (c == '/' || c == '\\' || c < 0x20 || c == 0x7F) return s.Bad("a name cannot contain '/', '\\' or control characters");
  for (const zv::CNamedObject* o : others)
    if (o != &obj && zv::EqualsNoCase(o->m_strName, name)) return s.Bad("\"" + o->m_strName + "\" already has that name");
  obj.m_strName = name;
  return true;
}

bool ButtonOfPage(zv::CPage& page, const Setter& s, bool allowNone, zv::CBdButton*& out) {
  if (allowNone && zv::EqualsNoCase(s.value, "none")) return out = nullptr, true;
  out = page.FindButton(s.value);
  if (!out) return s.Bad("expected a button of page \"" + page.m_strName + "\"" + (allowNone ? " or none" : ""));
  return true;
}

zv::CGraphicObject* FindGraphic(zv::CEpoch* epoch, const std::string& name) {
  if (!epoch) return nullptr;
  zv::CNamedPtrCollection all;
  zv::GatherGraphics(*epoch, all);
  for (size_t i = 0; i < all.GetCount(); ++i)
    if (zv::EqualsNoCase(all.GetAt(i)->m_strName, name)) return static_cast<zv::CGraphicObject*>(all.GetAt(i));
  return nullptr;
}

// none, fade,GRAPHIC,X,Y,MS[,STEPS] or slide,SIDE,GRAPHIC,X,Y,MS[,STEPS].
bool SetPageEffect(zv::CPage& page, bool in, const Setter& s) {
  if (zv::EqualsNoCase(s.value, "none")) return zv::ClearEffects(page, in), true;
  std::vector<std::string> f;
  for (size_t at = 0;;) {
    const size_t comma = s.value.find(',', at);
    f.push_back(s.value.substr(at, comma == std::string::npos ? std::string::npos : comma - at));
    if (comma == std::string::npos) break;
    at = comma + 1;
  }
  const char* form = "expected none, fade,GRAPHIC,X,Y,MS[,STEPS] or slide,left|right|top|bottom,GRAPHIC,X,Y,MS[,STEPS]";
  zv::SEffectForm fx;
  size_t i = 1;
  if (zv::EqualsNoCase(f[0], "fade")) {
    fx.kind = zv::SEffectForm::kFade;
  } else if (zv::EqualsNoCase(f[0], "slide") && f.size() > 1 && zv::ParseEffectSide(f[1], fx.side)) {
    fx.kind = zv::SEffectForm::kSlide;
    i = 2;
  } else {
    return s.Bad(form);
  }
  if (f.size() != i + 4 && f.size() != i + 5) return s.Bad(form);
  zv::CEpoch* epoch = zv::EpochOf(&page);
  if (epoch) zv::LoadGraphicSizes(*epoch);  // the project keeps only the pictures' paths
  fx.graphic = FindGraphic(epoch, f[i]);
  if (!fx.graphic) return s.Bad("\"" + f[i] + "\" is no graphic of the menu");
  long v[4] = {0, 0, 0, 8};
  const long hi[4] = {0xFFFF, 0xFFFF, 0xFFFFFF / 90, zv::kMaxFormSteps};
  for (size_t k = 0; k + i + 1 < f.size(); ++k) {
    char* end = nullptr;
    const std::string& t = f[i + 1 + k];
    v[k] = std::strtol(t.c_str(), &end, 10);
    if (t.empty() || *end || v[k] < (k == 3 ? 1 : 0) || v[k] > hi[k]) return s.Bad(form);
  }
  fx.x = static_cast<int32_t>(v[0]);
  fx.y = static_cast<int32_t>(v[1]);
  fx.duration = static_cast<uint32_t>(v[2]) * 90;
  fx.steps = static_cast<int32_t>(v[3]);
  std::string error;
  if (!zv::ApplyEffectForm(page, in, fx, error)) return s.Bad(error);
  return true;
}

bool SetPage(zv::CPage& page, const Setter& s) {
  if (s.key == "name") {
    std::vector<zv::CNamedObject*> others;
    if (auto* ds = dynamic_cast<zv::CDisplaySet*>(page.m_pParent))
      for (size_t i = 0; i < ds->GetCount(); ++i) others.push_back(ds->GetAt(i));
    return Rename(page, others, s);
  }
  zv::CBdButton* b = nullptr;
  if (s.key == "default-selected") {
    if (!ButtonOfPage(page, s, true, b)) return false;
    page.m_defaultSelected.Set(b);
    return true;
  }
  if (s.key == "default-activated") {
    if (zv::EqualsNoCase(s.value, "current")) return page.m_defaultActivated.Set(&page.m_currentSelected), true;
    if (!ButtonOfPage(page, s, true, b)) return false;
    page.m_defaultActivated.Set(b);
    return true;
  }
  if (s.key == "neighbours" || s.key == "neighbors") {
    int mode;
    if (zv::EqualsNoCase(s.value, "spatial")) mode = zv::kNeighboursSpatial;
    else if (zv::EqualsNoCase(s.value, "sequential")) mode = zv::kNeighboursSequential;
    else return s.Bad("expected spatial or sequential");
    size_t defaults = 0;
    for (size_t g = 0; g < page.GetCount(); ++g) defaults += page.GetAt(g)->m_defaultButton.p != nullptr;
    if (defaults < 2) return s.Bad("the page needs at least two BOGs with a default button");
    zv::ComputeNeighbours(page, mode);
    return true;
  }
  if (s.key == "palette") {
    zv::CEpoch* epoch = zv::EpochOf(&page);
    if (zv::EqualsNoCase(s.value, "none")) return page.m_palette.Clear(), true;
    for (size_t i = 0; epoch && i < epoch->m_palettes.GetCount(); ++i)
      if (zv::EqualsNoCase(epoch->m_palettes.GetAt(i)->m_strName, s.value))
        return page.m_palette.Set(epoch->m_palettes.GetAt(i)), true;
    return s.Bad("expected a palette of the epoch or none");
  }
  if (s.key == "animation-frame-rate") {
    long n = 0;
    char* end = nullptr;
    n = std::strtol(s.value.c_str(), &end, 10);
    if (s.value.empty() || *end || n < 0 || n > 255) return s.Bad("expected 0..255");
    page.m_nAnimationFrameRateCode = static_cast<uint8_t>(n);
    return true;
  }
  if (s.key == "in-effect" || s.key == "out-effect") return SetPageEffect(page, s.key == "in-effect", s);
  return s.Unknown("a page",
                   "name, default-selected, default-activated, neighbours, palette, in-effect, out-effect, "
                   "animation-frame-rate");
}

bool SetBog(zv::CBog& bog, const Setter& s) {
  if (s.key == "name") {
    std::vector<zv::CNamedObject*> others;
    if (zv::CPage* page = bog.Page())
      for (size_t i = 0; i < page->GetCount(); ++i) others.push_back(page->GetAt(i));
    return Rename(bog, others, s);
  }
  if (s.key == "default") {
    if (zv::EqualsNoCase(s.value, "none")) return bog.m_defaultButton.Clear(), true;
    for (size_t i = 0; i < bog.GetCount(); ++i)
      if (zv::EqualsNoCase(bog.GetAt(i)->m_strName, s.value)) return bog.m_defaultButton.Set(bog.GetAt(i)), true;
    return s.Bad("expected a button of this BOG or none");
  }
  return s.Unknown("a BOG", "name, default");
}

// "START" or "START,END" graphic names, or none.
bool SetState(zv::CBdButton& b, size_t state, const Setter& s) {
  zv::CButtonStateInfo& st = b.m_states[state];
  if (zv::EqualsNoCase(s.value, "none")) {
    st.m_start.Clear();
    st.m_end.Clear();
    return true;
  }
  zv::CEpoch* epoch = zv::EpochOf(&b);
  const size_t comma = s.value.find(',');
  const std::string first = s.value.substr(0, comma);
  const std::string last = comma == std::string::npos ? first : s.value.substr(comma + 1);
  zv::CGraphicObject* a = FindGraphic(epoch, first);
  zv::CGraphicObject* z = FindGraphic(epoch, last);
  if (!a || !z) return s.Bad("expected graphics of the epoch by name (START or START,END), or none");
  st.m_start.Set(a);
  st.m_end.Set(z);
  return true;
}

// Types by their names in the type list (or by code); a type applies to
// every button of the BOG.
bool SetType(zv::CBdButton& b, const Setter& s) {
  if (const zv::CButtonType* t = zv::FindButtonType(s.value)) return zv::SelectButtonType(b, *t), true;
  long n = 0;
  if (ParseLong(s.value, 0, 255, n)) {
    const zv::CButtonType& t = zv::ButtonTypeOf(static_cast<uint8_t>(n));
    // A code outside the list, as streams made elsewhere carry, is kept on
    // this button alone.
    if (t.Code() == n) zv::SelectButtonType(b, t);
    else b.SetButtonType(static_cast<uint8_t>(n));
    return true;
  }
  std::string names;
  for (const zv::CButtonType* t : zv::ButtonTypeRegistry()) names += std::string(names.empty() ? "" : ", ") + "\"" + t->Name() + "\"";
  return s.Bad("no button type of that name; the types are " + names);
}

bool IsParameterName(const std::string& key) {
  for (const zv::CButtonType* t : zv::ButtonTypeRegistry())
    for (int i = 0; i < t->ParameterCount(); ++i)
      if (t->ParameterName(i) && key == t->ParameterName(i)) return true;
  return false;
}

// A choice of the button's type by the name of what it chooses (none clears
// it), for every button of the BOG.
bool SetTypeParameter(zv::CBdButton& b, const Setter& s) {
  const zv::CButtonType& type = zv::ButtonTypeOf(b.m_nButtonType);
  int index = -1;
  std::string own;
  for (int i = 0; i < type.ParameterCount(); ++i) {
    if (!type.ParameterApplies(b, i)) continue;
    own += std::string(own.empty() ? "" : ", ") + type.ParameterName(i);
    if (s.key == type.ParameterName(i)) index = i;
  }
  if (type.Code() != b.m_nButtonType || index < 0)
    return s.Bad("a button of type \"" + (type.Code() == b.m_nButtonType ? type.Name() : std::to_string(b.m_nButtonType)) +
                 "\" has " + (own.empty() ? std::string("no choices") : "the choices " + own) +
                 " (set type=NAME first)");
  if (zv::EqualsNoCase(s.value, "none")) return type.ApplyParameter(b, index, zv::kNoChoice), true;
  const std::vector<std::string> names = type.FillParameterOptions(b, index);
  for (int i = 0; i < index; ++i)
    if (names.empty() && type.ParameterActive(i) == type.ParameterActive(index) && zv::ButtonParameter(b, i) < 0)
      return s.Bad(std::string("choose ") + type.ParameterName(i) + " first");
  int found = -1;
  for (size_t i = 0; i < names.size() && found < 0; ++i)
    if (names[i] == s.value) found = static_cast<int>(i);
  for (size_t i = 0; i < names.size() && found < 0; ++i)
    if (zv::EqualsNoCase(names[i], s.value)) found = static_cast<int>(i);
  if (found < 0) {
    if (names.empty()) return s.Bad(std::string("there is no ") + type.ParameterName(index) + " to choose");
    std::string list;
    for (const std::string& n : names) list += std::string(list.empty() ? "" : ", ") + "\"" + n + "\"";
    return s.Bad(std::string("no ") + type.ParameterName(index) + " of that name; there are " + list);
  }
  type.ApplyParameter(b, index, found);
  return true;
}

bool SetButton(zv::CBdButton& b, const Setter& s) {
  zv::CBog* bog = dynamic_cast<zv::CBog*>(b.m_pParent);
  zv::CPage* page = bog ? bog->Page() : nullptr;
  const std::string& k = s.key;
  long n = 0;
  bool yes = false;
  if (k == "name") {
    std::vector<zv::CNamedObject*> others;
    if (page)
      for (zv::CBdButton* o : page->Buttons()) others.push_back(o);
    return Rename(b, others, s);
  }
  if (k == "x" || k == "y") {
    if (!ParseLong(s.value, 0, 0xFFFF, n)) return s.Bad("expected a position, 0 to 65535");
    (k == "x" ? b.m_nX : b.m_nY) = static_cast<uint16_t>(n);
    return true;
  }
  if (k == "up" || k == "down" || k == "left" || k == "right") {
    if (!page) return s.Bad("the button is not on a page");
    zv::CBdButton* t = nullptr;
    if (!ButtonOfPage(*page, s, true, t)) return false;
    zv::CModelRef<zv::CBdButton>& r =
        k == "up" ? b.m_neighbors.up : k == "down" ? b.m_neighbors.down : k == "left" ? b.m_neighbors.left : b.m_neighbors.right;
    r.Set(t);
    return true;
  }
  if (k == "auto-action") {
    if (!ParseYesNo(s.value, yes)) return s.Bad("expected yes or no");
    b.m_bAutoAction = yes;
    return true;
  }
  if (k == "numeric") {
    if (zv::EqualsNoCase(s.value, "none")) return b.m_nNumericValue = 0xFFFF, true;
    if (!ParseLong(s.value, 0, 9999, n)) return s.Bad("expected a number, 0 to 9999, or none");
    b.m_nNumericValue = static_cast<uint16_t>(n);
    return true;
  }
  if (k == "type") return SetType(b, s);
  if (IsParameterName(k)) return SetTypeParameter(b, s);
  if (k == "commands") {
    // Lines separated by ';'; each goes through the command assembler.
    zv::CNavCmds cmds;
    if (!zv::EqualsNoCase(s.value, "none")) {
      size_t start = 0;
      while (start <= s.value.size()) {
        size_t semi = s.value.find(';', start);
        std::string line = s.value.substr(start, semi == std::string::npos ? std::string::npos : semi - start);
        while (!line.empty() && line.front() == ' ') line.erase(line.begin());
        while (!line.empty() && line.back() == ' ') line.pop_back();
        if (!line.empty() && !cmds.Add(line)) return s.Bad("\"" + line + "\" is not a navigation command");
        if (semi == std::string::npos) break;
        start = semi + 1;
      }
      if (cmds.Count() > 0xFFFF) return s.Bad("a button has at most 65535 commands");
    }
    if (b.m_nButtonType != 0 && b.m_nButtonType != 1 && !cmds.Empty())
      return s.Bad("a typed button gets its commands from its type (set type=0 first)");
    b.m_commands = cmds;
    return true;
  }
  if (k == "normal" || k == "selected" || k == "activated")
    return SetState(b, k == "normal" ? 0 : k == "selected" ? 1 : 2, s);
  if (k == "selected-sound" || k == "activated-sound") {
    uint8_t& sound = b.m_states[k == "selected-sound" ? 1 : 2].m_nSoundId;
    int32_t id = -1;
    std::string why;
    if (!ParseSoundId(b, s.value, id, why)) return s.Bad(why);
    sound = id < 0 ? 0xFF : static_cast<uint8_t>(id);
    return true;
  }
  if (k == "normal-repeat" || k == "selected-repeat" || k == "activated-repeat") {
    if (!ParseYesNo(s.value, yes)) return s.Bad("expected yes or no");
    b.m_states[k[0] == 'n' ? 0 : k[0] == 's' ? 1 : 2].m_bRepeat = yes;
    return true;
  }
  return s.Unknown("a button",
                   "name, x, y, up, down, left, right, auto-action, numeric, type, the type's choices (movie-group, "
                   "movie, chapter, page, audio, subtitle, trailer), commands, normal, selected, "
                   "activated, selected-sound, activated-sound, normal-repeat, selected-repeat, activated-repeat");
}

// --- commands --------------------------------------------------------------

const CommandInfo& Self(const char* name) { return *Registry::Get().Find(name); }

int FailIn(const CommandInfo& self, const std::string& message) {
  std::fprintf(stderr, "zelvane %s: %s\n", self.name, message.c_str());
  return kExitFailed;
}

// P.zvpj OBJECT [FILE]: loads the project and finds OBJECT.
int Prepare(const CommandInfo& self, const std::vector<std::string>& argv, size_t count, zv::CZvObject& project,
            zv::CNamedObject*& obj, std::vector<std::string>& pos) {
  if (int rc = CheckOptions(self, argv, {})) return rc;
  Args args;
  std::string err;
  if (!args.Parse(argv, {}, err)) return UsageError(self, err);
  if (args.Count() != count) return UsageError(self, args.Count() < count ? "missing arguments" : "too many arguments");
  pos = args.Pos();
  TerminalPrompt prompt(false);
  if (!LoadProjectFor(self.name, args[0], project, prompt, true)) return kExitFailed;
  obj = zv::FindObject(project, args[1], err);
  if (!obj) return FailIn(self, err);
  return 0;
}

int Finish(const CommandInfo& self, const std::string& path, zv::CZvObject& project, const std::string& made) {
  std::string message;
  if (zv::SaveProjectFile(path, project, message) != zv::kOk) return FailIn(self, message);
  std::printf("%s\n", made.c_str());
  return kExitOk;
}

zv::CEpoch* FirstEpoch(zv::CIgObject& menu) {
  if (menu.GetCount() == 0) menu.AddEpoch();
  zv::CEpoch* e = menu.GetAt(0);
  if (e->GetCount() == 0) e->AddDisplaySet();
  return e;
}

int RunPageAdd(const std::vector<std::string>& argv) {
  const CommandInfo& self = Self("page add");
  zv::CZvObject project;
  zv::CNamedObject* obj = nullptr;
  std::vector<std::string> pos;
  if (int rc = Prepare(self, argv, 2, project, obj, pos)) return rc;
  zv::CDisplaySet* ds = dynamic_cast<zv::CDisplaySet*>(obj);
  std::string where = pos[1];
  if (auto* menu = dynamic_cast<zv::CZvIgObject*>(obj)) {
    zv::CEpoch* epoch = FirstEpoch(*menu);
    ds = epoch->GetAt(0);
    where += "/" + epoch->m_strName + "/" + ds->m_strName;
  }
  if (!ds) return FailIn(self, "\"" + pos[1] + "\" is not a menu or a display set");
  if (ds->GetCount() >= 255) return FailIn(self, "a display set holds at most 255 pages");
  zv::CPage* page = ds->AddPage();
  return Finish(self, pos[0], project, where + "/" + page->m_strName);
}

int RunBogAdd(const std::vector<std::string>& argv) {
  const CommandInfo& self = Self("bog add");
  zv::CZvObject project;
  zv::CNamedObject* obj = nullptr;
  std::vector<std::string> pos;
  if (int rc = Prepare(self, argv, 2, project, obj, pos)) return rc;
  auto* page = dynamic_cast<zv::CPage*>(obj);
  if (!page) return FailIn(self, "\"" + pos[1] + "\" is not a page");
  if (page->GetCount() >= 255) return FailIn(self, "a page holds at most 255 BOGs");
  return Finish(self, pos[0], project, pos[1] + "/" + page->AddBog()->m_strName);
}

int RunButtonAdd(const std::vector<std::string>& argv) {
  const CommandInfo& self = Self("button add");
  zv::CZvObject project;
  zv::CNamedObject* obj = nullptr;
  std::vector<std::string> pos;
  if (int rc = Prepare(self, argv, 2, project, obj, pos)) return rc;
  auto* bog = dynamic_cast<zv::CBog*>(obj);
  if (!bog) return FailIn(self, "\"" + pos[1] + "\" is not a BOG");
  if (bog->GetCount() >= 255) return FailIn(self, "a BOG holds at most 255 buttons");
  zv::CBdButton* b = bog->AddButton();
  if (!b) return FailIn(self, "all 8160 button ids of the page are in use");
  return Finish(self, pos[0], project, pos[1] + "/" + b->m_strName);
}

int RunGraphicAdd(const std::vector<std::string>& argv) {
  const CommandInfo& self = Self("graphic add");
  zv::CZvObject project;
  zv::CNamedObject* obj = nullptr;
  std::vector<std::string> pos;
  if (int rc = Prepare(self, argv, 3, project, obj, pos)) return rc;
  auto* menu = dynamic_cast<zv::CZvIgObject*>(obj);
  if (!menu) return FailIn(self, "\"" + pos[1] + "\" is not a menu");
  zv::CEpoch* epoch = FirstEpoch(*menu);
  zv::CNamedPtrCollection all;
  zv::GatherGraphics(*epoch, all);
  int32_t id = 0;
  for (size_t i = 0; i < all.GetCount(); ++i) id = std::max(id, all.GetAt(i)->m_nId + 1);
  if (id > 0xFFFE) return FailIn(self, "the epoch has no graphic id left");
  auto g = std::make_unique<zv::CGraphicObject>();
  const std::string path = zv::AbsolutePath(pos[2]);
  std::string lengthError;
  if (!zv::CheckPathLength(path, lengthError)) return FailIn(self, lengthError);
  if (std::string why; !g->SetImageFile(path, &why))
    return FailIn(self, "\"" + pos[2] + "\" is not a picture that can be read: " + why);
  g->m_nId = id;
  std::string name = zv::FileNameOf(path);
  for (int n = 2; FindGraphic(epoch, name); ++n) name = zv::FileNameOf(path) + "#" + std::to_string(n);
  g->SetName(name);
  zv::CGraphicObject* added = epoch->m_graphics.Add(std::move(g));
  return Finish(self, pos[0], project, added->m_strName + "  " + std::to_string(added->m_nWidth) + "x" +
                                           std::to_string(added->m_nHeight));
}

ZV_COMMAND("page add", "add a page to a menu (its first display set) or to a display set",
           "zelvane page add P.zvpj MENU\n  MENU  a menu, e.g. \"Movie#1/IG#1\", or a display set in it",
           "zelvane page add disc.zvpj Movie#1/IG#1", RunPageAdd);
ZV_COMMAND("bog add", "add a button overlap group to a page",
           "zelvane bog add P.zvpj PAGE\n  PAGE  e.g. \"Movie#1/IG#1/Epoch#1/DisplaySet#1/Page#1\"",
           "zelvane bog add disc.zvpj Movie#1/IG#1/Epoch#1/DisplaySet#1/Page#1", RunBogAdd);
ZV_COMMAND("button add", "add a button to a BOG (the BOG's first button becomes its default)",
           "zelvane button add P.zvpj BOG\n  BOG  e.g. \"Movie#1/IG#1/Epoch#1/DisplaySet#1/Page#1/Bog#1\"",
           "zelvane button add disc.zvpj Movie#1/IG#1/Epoch#1/DisplaySet#1/Page#1/Bog#1", RunButtonAdd);
ZV_COMMAND("graphic add", "add a picture to a menu's graphics, for buttons to show",
           "zelvane graphic add P.zvpj MENU FILE\n  FILE  a PNG, JPEG, GIF or BMP picture; it is named by its file name",
           "zelvane graphic add disc.zvpj Movie#1/IG#1 play.png", RunGraphicAdd);

}  // namespace

bool IsMenuPart(const zv::CNamedObject& obj) {
  return dynamic_cast<const zv::CPage*>(&obj) || dynamic_cast<const zv::CBog*>(&obj) ||
         dynamic_cast<const zv::CBdButton*>(&obj);
}

bool SetMenuPart(zv::CNamedObject& obj, const std::string& key, const std::string& value, std::string& error) {
  const Setter s{key, value, error};
  if (auto* page = dynamic_cast<zv::CPage*>(&obj)) {
    // Spatial neighbours need the buttons' sizes, which come from the pictures.
    if (key == "neighbours" || key == "neighbors")
      if (zv::CEpoch* e = zv::EpochOf(page))
        if (auto* ig = dynamic_cast<zv::CIgObject*>(e->m_pParent)) LoadGraphicSizes(*ig);
    return SetPage(*page, s);
  }
  if (auto* bog = dynamic_cast<zv::CBog*>(&obj)) return SetBog(*bog, s);
  if (auto* b = dynamic_cast<zv::CBdButton*>(&obj)) return SetButton(*b, s);
  error = "not a page, BOG or button";
  return false;
}

void LoadGraphicSizes(zv::CIgObject& menu) {
  for (size_t e = 0; e < menu.GetCount(); ++e) {
    zv::CNamedPtrCollection all;
    zv::GatherGraphics(*menu.GetAt(e), all);
    for (size_t i = 0; i < all.GetCount(); ++i) {
      auto* g = static_cast<zv::CGraphicObject*>(all.GetAt(i));
      if (g->m_nWidth != 0 || g->m_strPath.empty()) continue;
      zv::CPicture pic;
      std::string error;
      if (g->LoadPicture(pic, error)) {
        g->m_nWidth = pic.width;
        g->m_nHeight = pic.height;
      }
    }
  }
}

namespace {

void RefJson(Json& j, const char* key, const zv::CNamedObject* o) {
  j.Key(key);
  if (o) j.Str(o->m_strName);
  else j.Null();
}

void ButtonJson(Json& j, zv::CBdButton& b) {
  j.BeginObject().Key("name").Str(b.m_strName).Key("id").Int(b.m_nId).Key("x").Int(b.m_nX).Key("y").Int(b.m_nY);
  j.Key("width").Int(b.Width()).Key("height").Int(b.Height()).Key("type").Int(b.m_nButtonType);
  j.Key("parameters").BeginArray();
  for (uint32_t v : b.m_params) j.Int(v);
  j.EndArray().Key("numericValue");
  if (b.m_nNumericValue == 0xFFFF) j.Null();
  else j.Int(b.m_nNumericValue);
  j.Key("autoAction").Bool(b.m_bAutoAction).Key("states").BeginObject();
  const char* states[3] = {"normal", "selected", "activated"};
  for (size_t s = 0; s < 3; ++s) {
    const zv::CButtonStateInfo& st = b.m_states[s];
    j.Key(states[s]).BeginObject();
    RefJson(j, "start", st.m_start.p);
    RefJson(j, "end", st.m_end.p);
    j.Key("sound");
    if (st.m_nSoundId == 0xFF) j.Null();
    else j.Int(st.m_nSoundId);
    j.Key("repeat").Bool(st.m_bRepeat).EndObject();
  }
  j.EndObject().Key("neighbours").BeginObject();
  RefJson(j, "up", b.m_neighbors.up.p);
  RefJson(j, "down", b.m_neighbors.down.p);
  RefJson(j, "left", b.m_neighbors.left.p);
  RefJson(j, "right", b.m_neighbors.right.p);
  j.EndObject().Key("commands").BeginArray();
  for (const zv::CNavCmd& c : b.m_commands) j.Str(zv::CommandText(c));
  j.EndArray().EndObject();
}

}  // namespace

void MenuTreeJson(zv::CZvIgObject& menu, Json& j) {
  LoadGraphicSizes(menu);
  j.BeginArray();
  for (size_t e = 0; e < menu.GetCount(); ++e) {
    zv::CEpoch& epoch = *menu.GetAt(e);
    j.BeginObject().Key("name").Str(epoch.m_strName).Key("id").Int(epoch.m_nId).Key("graphics").BeginArray();
    zv::CNamedPtrCollection all;
    zv::GatherGraphics(epoch, all);
    for (size_t i = 0; i < all.GetCount(); ++i) {
      auto* g = static_cast<zv::CGraphicObject*>(all.GetAt(i));
      j.BeginObject().Key("name").Str(g->m_strName).Key("id").Int(g->m_nId).Key("path").Str(g->m_strPath);
      j.Key("width").Int(g->m_nWidth).Key("height").Int(g->m_nHeight).EndObject();
    }
    j.EndArray().Key("palettes").BeginArray();
    for (size_t i = 0; i < epoch.m_palettes.GetCount(); ++i)
      j.BeginObject().Key("name").Str(epoch.m_palettes.GetAt(i)->m_strName).Key("id").Int(epoch.m_palettes.GetAt(i)->m_nId)
          .Key("entries").Int(static_cast<int64_t>(epoch.m_palettes.GetAt(i)->GetCount())).EndObject();
    j.EndArray().Key("displaySets").BeginArray();
    for (size_t d = 0; d < epoch.GetCount(); ++d) {
      zv::CDisplaySet& ds = *epoch.GetAt(d);
      j.BeginObject().Key("name").Str(ds.m_strName).Key("id").Int(ds.m_nId);
      j.Key("userInterfaceModel").Int(ds.m_nUserInterfaceModel).Key("userTimeOutDuration").Int(ds.m_nUserTimeoutDuration);
      j.Key("pages").BeginArray();
      for (size_t p = 0; p < ds.GetCount(); ++p) {
        zv::CPage& page = *ds.GetAt(p);
        j.BeginObject().Key("name").Str(page.m_strName).Key("id").Int(page.m_nId);
        RefJson(j, "defaultSelected", page.m_defaultSelected.p);
        RefJson(j, "defaultActivated", page.m_defaultActivated.p);
        RefJson(j, "palette", page.m_palette.p);
        j.Key("inEffects").Int(static_cast<int64_t>(page.m_inEffects.GetCount()));
        j.Key("outEffects").Int(static_cast<int64_t>(page.m_outEffects.GetCount()));
        j.Key("bogs").BeginArray();
        for (size_t g = 0; g < page.GetCount(); ++g) {
          zv::CBog& bog = *page.GetAt(g);
          j.BeginObject().Key("name").Str(bog.m_strName).Key("id").Int(bog.m_nId);
          RefJson(j, "default", bog.m_defaultButton.p);
          j.Key("buttons").BeginArray();
          for (size_t b = 0; b < bog.GetCount(); ++b) ButtonJson(j, *bog.GetAt(b));
          j.EndArray().EndObject();
        }
        j.EndArray().EndObject();
      }
      j.EndArray().EndObject();
    }
    j.EndArray().EndObject();
  }
  j.EndArray();
}

void PrintMenuTree(zv::CZvIgObject& menu, const std::string& in) {
  LoadGraphicSizes(menu);
  for (size_t e = 0; e < menu.GetCount(); ++e) {
    zv::CEpoch& epoch = *menu.GetAt(e);
    std::printf("%s%s  [id %d]\n", in.c_str(), epoch.m_strName.c_str(), epoch.m_nId);
    const std::string i1 = in + "  ";
    if (epoch.m_graphics.TotalCount() > 0) {
      std::printf("%s%s\n", i1.c_str(), epoch.m_graphics.m_strName.c_str());
      PrintGraphics(epoch.m_graphics, i1 + "  ");
    }
    if (epoch.m_palettes.GetCount() > 0) {
      std::printf("%s%s\n", i1.c_str(), epoch.m_palettes.m_strName.c_str());
      for (size_t i = 0; i < epoch.m_palettes.GetCount(); ++i)
        std::printf("%s  %s  [id %d]  %zu entries\n", i1.c_str(), epoch.m_palettes.GetAt(i)->m_strName.c_str(),
                    epoch.m_palettes.GetAt(i)->m_nId, epoch.m_palettes.GetAt(i)->GetCount());
    }
    for (size_t d = 0; d < epoch.GetCount(); ++d) {
      zv::CDisplaySet& ds = *epoch.GetAt(d);
      std::printf("%s%s  [id %d]  %s, user time-out %u, start frame %d, state %u\n", i1.c_str(), ds.m_strName.c_str(),
                  ds.m_nId, ds.m_nUserInterfaceModel ? "pop-up" : "always-on", ds.m_nUserTimeoutDuration,
                  ds.m_nStartFrame, ds.m_nCompositionState);
      const std::string i2 = i1 + "  ";
      for (size_t p = 0; p < ds.GetCount(); ++p) {
        zv::CPage& page = *ds.GetAt(p);
        std::printf("%s%s  [id %d]  default selected %s, default activated %s, palette %s\n", i2.c_str(),
                    page.m_strName.c_str(), page.m_nId, RefName(page.m_defaultSelected.p),
                    RefName(page.m_defaultActivated.p), RefName(page.m_palette.p));
        const std::string i3 = i2 + "  ";
        if (page.m_inEffects.GetCount() || page.m_inEffects.m_windows.GetCount())
          PrintSequence(page.m_inEffects.m_strName.c_str(), page.m_inEffects, i3);
        if (page.m_outEffects.GetCount() || page.m_outEffects.m_windows.GetCount())
          PrintSequence(page.m_outEffects.m_strName.c_str(), page.m_outEffects, i3);
        for (size_t g = 0; g < page.GetCount(); ++g) {
          zv::CBog& bog = *page.GetAt(g);
          std::printf("%s%s  [id %d]  default %s\n", i3.c_str(), bog.m_strName.c_str(), bog.m_nId,
                      RefName(bog.m_defaultButton.p));
          for (size_t b = 0; b < bog.GetCount(); ++b) PrintButton(*bog.GetAt(b), i3 + "  ");
        }
      }
    }
  }
}

}  // namespace zvapp
