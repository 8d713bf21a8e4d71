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
#include "app/terminal.h"
#include "edit/commands.h"
#include "edit/properties.h"
#include "edit/rows.h"
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

using zvedit::Facts;
using zvedit::RowNumber;
using zvedit::RowValue;

// "A .. B" from the description's "A", "A,B" or "none".
std::string GraphicPair(const std::string& value) {
  if (value == "none") return value;
  const auto [start, end] = zvedit::StatePair(value);
  return start + " .. " + end;
}

void PrintSequence(zv::CEffectSequenceObject& seq, const std::string& in) {
  const auto facts = Facts(seq);
  std::printf("%s%s: windows %ld, effects %ld\n", in.c_str(), seq.m_strName.c_str(), RowNumber(facts, "windows"),
              RowNumber(facts, "effects"));
  for (size_t i = 0; i < seq.m_windows.GetCount(); ++i) {
    zv::CWindowObject& w = *seq.m_windows.GetAt(i);
    const auto f = Facts(w);
    std::printf("%s  %s  [id %ld]  %ld,%ld %ldx%ld\n", in.c_str(), w.m_strName.c_str(), RowNumber(f, "id"), RowNumber(f, "x"),
                RowNumber(f, "y"), RowNumber(f, "width"), RowNumber(f, "height"));
  }
  for (size_t i = 0; i < seq.GetCount(); ++i) {
    zv::CEffectObject& e = *seq.GetAt(i);
    const auto f = Facts(e);
    std::printf("%s  %s  duration %ld, palette %s\n", in.c_str(), e.m_strName.c_str(), RowNumber(f, "duration"),
                RowValue(f, "palette").c_str());
    for (size_t k = 0; k < e.GetCount(); ++k) {
      zv::CCompositionObject& c = *e.GetAt(k);
      const auto cf = Facts(c);
      std::printf("%s    %s  graphic %s in %s at %ld,%ld%s%s\n", in.c_str(), c.m_strName.c_str(),
                  RowValue(cf, "graphic").c_str(), RowValue(cf, "window").c_str(), RowNumber(cf, "x"), RowNumber(cf, "y"),
                  zvedit::RowYes(cf, "cropped") ? ", cropped" : "", zvedit::RowYes(cf, "forced-on") ? ", forced on" : "");
    }
  }
}

void PrintGraphics(const zv::CGoFolder& f, const std::string& in) {
  for (size_t i = 0; i < f.GetCount(); ++i) {
    zv::CGraphicObject& g = *f.GetAt(i);
    const auto facts = Facts(g);
    const std::string path = RowValue(facts, "path");
    std::printf("%s%s  [id %ld]  %ldx%ld  %s\n", in.c_str(), g.m_strName.c_str(), RowNumber(facts, "id"),
                RowNumber(facts, "width"), RowNumber(facts, "height"), path.empty() ? "(in memory)" : path.c_str());
  }
  for (size_t i = 0; i < f.GetFolderCount(); ++i) {
    std::printf("%s%s\n", in.c_str(), f.GetFolderAt(i)->m_strName.c_str());
    PrintGraphics(*f.GetFolderAt(i), in + "  ");
  }
}

// "movie-group Movie#1, movie Title#1": a typed button's choices by name.

// The object's rows of the shared description; its project gives the ids
// of the sound file.
std::vector<zvedit::PropertyInfo> RowsOf(zv::CNamedObject& obj) {
  zv::CNamedObject* top = &obj;
  while (top->m_pParent) top = top->m_pParent;
  if (auto* project = dynamic_cast<zv::CZvObject*>(top)) return zvedit::DescribeObject(*project, obj);
  zv::CZvObject alone;
  return zvedit::DescribeObject(alone, obj);
}

// The type's choices as the description gives them; a choice whose object
// is gone has no value there and is shown by its number.
std::string ChoicesText(const zv::CBdButton& b, const zv::CButtonType& type,
                        const std::vector<zvedit::PropertyInfo>& rows) {
  std::string text;
  for (int i = 0; i < type.ParameterCount(); ++i) {
    if (!type.ParameterApplies(b, i)) continue;
    std::string value = zvedit::RowValue(rows, type.ParameterName(i));
    if (value.empty()) value = "#" + std::to_string(zv::ButtonParameter(b, i) + 1) + " (missing)";
    text += std::string(text.empty() ? "" : ", ") + type.ParameterName(i) + " " + value;
  }
  return text;
}

void PrintButton(zv::CBdButton& b, const std::string& in) {
  const std::vector<zvedit::PropertyInfo> rows = RowsOf(b), facts = Facts(b);
  const long code = RowNumber(facts, "type-code");
  const std::string typeName = RowValue(facts, "type-name");  // empty for a code of no known type
  const std::string kind = typeName.empty() ? "" : " (" + typeName + ")";
  const zv::CButtonType& type = zv::ButtonTypeOf(static_cast<uint8_t>(code));
  std::printf("%s%s  [id %ld]  at %s,%s  size %ldx%ld  type %ld%s  numeric %s  auto-action %s\n", in.c_str(),
              b.m_strName.c_str(), RowNumber(facts, "id"), zvedit::RowValue(rows, "x").c_str(),
              zvedit::RowValue(rows, "y").c_str(), RowNumber(facts, "width"), RowNumber(facts, "height"),
              code, kind.c_str(), zvedit::RowValue(rows, "numeric").c_str(),
              zvedit::RowValue(rows, "auto-action").c_str());
  if (code != 0 && !typeName.empty() && type.ParameterCount() > 0)
    std::printf("%s  choices: %s\n", in.c_str(), ChoicesText(b, type, rows).c_str());
  else if (typeName.empty()) {
    std::string params;
    for (const std::string& v : zvedit::RowValues(facts, "parameter")) params += " " + v;
    std::printf("%s  parameters%s\n", in.c_str(), params.c_str());
  }
  const char* states[3] = {"normal", "selected", "activated"};
  for (int s = 0; s < 3; ++s) {
    std::printf("%s  %s: %s", in.c_str(), states[s], GraphicPair(RowValue(rows, states[s])).c_str());
    if (s > 0) std::printf(", sound %s", zvedit::RowValue(rows, std::string(states[s]) + "-sound").c_str());
    std::printf("%s\n", zvedit::RowYes(rows, std::string(states[s]) + "-repeat") ? ", repeat" : "");
  }
  std::printf("%s  neighbours: up %s, down %s, left %s, right %s\n", in.c_str(), zvedit::RowValue(rows, "up").c_str(),
              zvedit::RowValue(rows, "down").c_str(), zvedit::RowValue(rows, "left").c_str(),
              zvedit::RowValue(rows, "right").c_str());
  const std::vector<std::string> commands = zvedit::RowValues(facts, "command");
  for (size_t i = 0; i < commands.size(); ++i) std::printf("%s  command %zu: %s\n", in.c_str(), i + 1, commands[i].c_str());
}

}  // namespace

namespace {

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

int RunPageAdd(const std::vector<std::string>& argv) {
  const CommandInfo& self = Self("page add");
  zv::CZvObject project;
  zv::CNamedObject* obj = nullptr;
  std::vector<std::string> pos;
  if (int rc = Prepare(self, argv, 2, project, obj, pos)) return rc;
  std::string where, error;
  zv::CPage* page = zvedit::AddPage(*obj, pos[1], where, error);
  if (!page) return FailIn(self, error);
  return Finish(self, pos[0], project, where + "/" + page->m_strName);
}

int RunBogAdd(const std::vector<std::string>& argv) {
  const CommandInfo& self = Self("bog add");
  zv::CZvObject project;
  zv::CNamedObject* obj = nullptr;
  std::vector<std::string> pos;
  if (int rc = Prepare(self, argv, 2, project, obj, pos)) return rc;
  std::string error;
  zv::CBog* bog = zvedit::AddBog(*obj, pos[1], error);
  if (!bog) return FailIn(self, error);
  return Finish(self, pos[0], project, pos[1] + "/" + bog->m_strName);
}

int RunButtonAdd(const std::vector<std::string>& argv) {
  const CommandInfo& self = Self("button add");
  zv::CZvObject project;
  zv::CNamedObject* obj = nullptr;
  std::vector<std::string> pos;
  if (int rc = Prepare(self, argv, 2, project, obj, pos)) return rc;
  std::string error;
  zv::CBdButton* b = zvedit::AddButton(*obj, pos[1], error);
  if (!b) return FailIn(self, error);
  return Finish(self, pos[0], project, pos[1] + "/" + b->m_strName);
}

int RunGraphicAdd(const std::vector<std::string>& argv) {
  const CommandInfo& self = Self("graphic add");
  zv::CZvObject project;
  zv::CNamedObject* obj = nullptr;
  std::vector<std::string> pos;
  if (int rc = Prepare(self, argv, 3, project, obj, pos)) return rc;
  std::string error;
  zv::CGraphicObject* added = zvedit::AddGraphic(*obj, pos[1], pos[2], error);
  if (!added) return FailIn(self, error);
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




namespace {

// A reference row: its name, or null for "none".
void RefJson(Json& j, const char* key, const std::string& value) {
  j.Key(key);
  if (value == "none") j.Null();
  else j.Str(value);
}

void ButtonJson(Json& j, zv::CBdButton& b) {
  const std::vector<zvedit::PropertyInfo> rows = RowsOf(b), facts = Facts(b);
  j.BeginObject().Key("name").Str(b.m_strName).Key("id").Int(RowNumber(facts, "id")).Key("x").Int(RowNumber(rows, "x"));
  j.Key("y").Int(zvedit::RowNumber(rows, "y"));
  j.Key("width").Int(RowNumber(facts, "width")).Key("height").Int(RowNumber(facts, "height"))
      .Key("type").Int(RowNumber(facts, "type-code"));
  j.Key("parameters").BeginArray();
  for (const std::string& v : zvedit::RowValues(facts, "parameter")) j.Int(std::stoll(v));
  j.EndArray().Key("numericValue");
  if (zvedit::RowValue(rows, "numeric") == "none") j.Null();
  else j.Int(zvedit::RowNumber(rows, "numeric"));
  j.Key("autoAction").Bool(zvedit::RowYes(rows, "auto-action")).Key("states").BeginObject();
  const char* states[3] = {"normal", "selected", "activated"};
  for (size_t s = 0; s < 3; ++s) {
    j.Key(states[s]).BeginObject();
    const auto [start, end] = zvedit::StatePair(RowValue(rows, states[s]));
    RefJson(j, "start", start);
    RefJson(j, "end", end);
    j.Key("sound");
    // The normal state has no sound to set: its stored id is shown as it is.
    const std::string sound = RowValue(s > 0 ? rows : facts, std::string(states[s]) + "-sound");
    if (sound == "none") j.Null();
    else j.Int(std::stol(sound));
    j.Key("repeat").Bool(zvedit::RowYes(rows, std::string(states[s]) + "-repeat")).EndObject();
  }
  j.EndObject().Key("neighbours").BeginObject();
  for (const char* side : {"up", "down", "left", "right"}) RefJson(j, side, RowValue(rows, side));
  j.EndObject().Key("commands").BeginArray();
  for (const std::string& c : zvedit::RowValues(facts, "command")) j.Str(c);
  j.EndArray().EndObject();
}

}  // namespace

void MenuTreeJson(zv::CZvIgObject& menu, Json& j) {
  LoadGraphicSizes(menu);
  j.BeginArray();
  for (size_t e = 0; e < menu.GetCount(); ++e) {
    zv::CEpoch& epoch = *menu.GetAt(e);
    j.BeginObject().Key("name").Str(epoch.m_strName).Key("id").Int(RowNumber(Facts(epoch), "id")).Key("graphics").BeginArray();
    zv::CNamedPtrCollection all;
    zv::GatherGraphics(epoch, all);
    for (size_t i = 0; i < all.GetCount(); ++i) {
      auto* g = static_cast<zv::CGraphicObject*>(all.GetAt(i));
      const auto facts = Facts(*g);
      j.BeginObject().Key("name").Str(g->m_strName).Key("id").Int(RowNumber(facts, "id")).Key("path").Str(RowValue(facts, "path"));
      j.Key("width").Int(RowNumber(facts, "width")).Key("height").Int(RowNumber(facts, "height")).EndObject();
    }
    j.EndArray().Key("palettes").BeginArray();
    for (size_t i = 0; i < epoch.m_palettes.GetCount(); ++i) {
      const auto facts = Facts(*epoch.m_palettes.GetAt(i));
      j.BeginObject().Key("name").Str(epoch.m_palettes.GetAt(i)->m_strName).Key("id").Int(RowNumber(facts, "id"))
          .Key("entries").Int(RowNumber(facts, "entries")).EndObject();
    }
    j.EndArray().Key("displaySets").BeginArray();
    for (size_t d = 0; d < epoch.GetCount(); ++d) {
      zv::CDisplaySet& ds = *epoch.GetAt(d);
      const auto dsFacts = Facts(ds);
      j.BeginObject().Key("name").Str(ds.m_strName).Key("id").Int(RowNumber(dsFacts, "id"));
      j.Key("userInterfaceModel").Int(RowNumber(dsFacts, "user-interface-model"))
          .Key("userTimeOutDuration").Int(RowNumber(dsFacts, "user-timeout"));
      j.Key("pages").BeginArray();
      for (size_t p = 0; p < ds.GetCount(); ++p) {
        zv::CPage& page = *ds.GetAt(p);
        const auto rows = RowsOf(page), facts = Facts(page);
        j.BeginObject().Key("name").Str(page.m_strName).Key("id").Int(RowNumber(facts, "id"));
        RefJson(j, "defaultSelected", RowValue(rows, "default-selected"));
        RefJson(j, "defaultActivated", RowValue(facts, "default-activated-button"));
        RefJson(j, "palette", RowValue(rows, "palette"));
        j.Key("inEffects").Int(RowNumber(facts, "in-effects"));
        j.Key("outEffects").Int(RowNumber(facts, "out-effects"));
        j.Key("bogs").BeginArray();
        for (size_t g = 0; g < page.GetCount(); ++g) {
          zv::CBog& bog = *page.GetAt(g);
          j.BeginObject().Key("name").Str(bog.m_strName).Key("id").Int(RowNumber(Facts(bog), "id"));
          RefJson(j, "default", RowValue(RowsOf(bog), "default"));
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
    std::printf("%s%s  [id %ld]\n", in.c_str(), epoch.m_strName.c_str(), RowNumber(Facts(epoch), "id"));
    const std::string i1 = in + "  ";
    if (epoch.m_graphics.TotalCount() > 0) {
      std::printf("%s%s\n", i1.c_str(), epoch.m_graphics.m_strName.c_str());
      PrintGraphics(epoch.m_graphics, i1 + "  ");
    }
    if (epoch.m_palettes.GetCount() > 0) {
      std::printf("%s%s\n", i1.c_str(), epoch.m_palettes.m_strName.c_str());
      for (size_t i = 0; i < epoch.m_palettes.GetCount(); ++i) {
        const auto facts = Facts(*epoch.m_palettes.GetAt(i));
        std::printf("%s  %s  [id %ld]  %ld entries\n", i1.c_str(), epoch.m_palettes.GetAt(i)->m_strName.c_str(),
                    RowNumber(facts, "id"), RowNumber(facts, "entries"));
      }
    }
    for (size_t d = 0; d < epoch.GetCount(); ++d) {
      zv::CDisplaySet& ds = *epoch.GetAt(d);
      const auto dsFacts = Facts(ds);
      std::printf("%s%s  [id %ld]  %s, user time-out %ld, start frame %ld, state %ld\n", i1.c_str(), ds.m_strName.c_str(),
                  RowNumber(dsFacts, "id"), RowNumber(dsFacts, "user-interface-model") ? "pop-up" : "always-on",
                  RowNumber(dsFacts, "user-timeout"), RowNumber(dsFacts, "start-frame"), RowNumber(dsFacts, "state"));
      const std::string i2 = i1 + "  ";
      for (size_t p = 0; p < ds.GetCount(); ++p) {
        zv::CPage& page = *ds.GetAt(p);
        const std::vector<zvedit::PropertyInfo> rows = RowsOf(page), facts = Facts(page);
        // The setting calls the pseudo-button "current"; this prints its name.
        std::printf("%s%s  [id %ld]  default selected %s, default activated %s, palette %s\n", i2.c_str(),
                    page.m_strName.c_str(), RowNumber(facts, "id"), zvedit::RowValue(rows, "default-selected").c_str(),
                    RowValue(facts, "default-activated-button").c_str(), zvedit::RowValue(rows, "palette").c_str());
        const std::string i3 = i2 + "  ";
        for (zv::CEffectSequenceObject* seq : {&page.m_inEffects, &page.m_outEffects}) {
          const auto seqFacts = Facts(*seq);
          if (RowNumber(seqFacts, "effects") || RowNumber(seqFacts, "windows")) PrintSequence(*seq, i3);
        }
        for (size_t g = 0; g < page.GetCount(); ++g) {
          zv::CBog& bog = *page.GetAt(g);
          std::printf("%s%s  [id %ld]  default %s\n", i3.c_str(), bog.m_strName.c_str(), RowNumber(Facts(bog), "id"),
                      zvedit::RowValue(RowsOf(bog), "default").c_str());
          for (size_t b = 0; b < bog.GetCount(); ++b) PrintButton(*bog.GetAt(b), i3 + "  ");
        }
      }
    }
  }
}

}  // namespace zvapp
