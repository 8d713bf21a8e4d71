// `zelvane menu render`: one page of a menu as the player draws it, from
// the objects and palette the build compiles, written as a PNG.
#include <cstdio>
#include <string>
#include <vector>

#include "app/command.h"
#include "app/menu_compile.h"
#include "graphics/page_render.h"
#include "model/menu_render.h"
#include "platform/file.h"
#include "platform/image.h"
#include "platform/settings.h"

namespace zvapp {

namespace {

int FailIn(const CommandInfo& self, const std::string& message) {
  std::fprintf(stderr, "zelvane %s: %s\n", self.name, message.c_str());
  return kExitFailed;
}

int RunMenuRender(const std::vector<std::string>& argv) {
  const CommandInfo& self = *Registry::Get().Find("menu render");
  if (int rc = CheckOptions(self, argv, {"--state", "--button", "--transparent"})) return rc;
  Args args;
  std::string err;
  if (!args.Parse(argv, {"--state", "--button"}, err)) return UsageError(self, err);
  if (args.Count() != 4) return UsageError(self, args.Count() < 4 ? "missing arguments" : "too many arguments");
  const std::string stateName = args.Value("--state");
  int state = zv::CBdButton::kSelected;
  if (stateName == "normal") state = zv::CBdButton::kNormal;
  else if (stateName == "activated") state = zv::CBdButton::kActivated;
  else if (!stateName.empty() && stateName != "selected")
    return UsageError(self, "--state is normal, selected or activated, not \"" + stateName + "\"");

  zv::CZvObject project;
  int rc = kExitFailed;
  zv::CZvIgObject* menu = MenuToCompile(self, args, project, "render", rc);
  if (!menu) return rc;
  zv::CPage* page = zv::FindMenuPage(*menu, args[2]);
  if (!page) return FailIn(self, "\"" + args[1] + "\" has no page \"" + args[2] + "\"");
  // The page opens with its default button selected; --button names
  // another.
  const zv::CBdButton* button = page->m_defaultSelected.p;
  if (args.Values("--button").size() > 0) {
    button = page->FindButton(args.Value("--button"));
    if (!button) return FailIn(self, "page \"" + args[2] + "\" has no button \"" + args.Value("--button") + "\"");
  }

  zv::CCompiledPage compiled;
  if (!zv::CompileMenuPages(*menu, compiled, err)) return FailIn(self, err);
  zv::SPageView view;
  view.page = zv::CompiledPageId(*menu, *page);
  view.button = button ? button->m_nId : -1;
  view.state = state;
  if (!args.Has("--transparent")) {
    zv::Settings settings;
    settings.Load();
    if (!settings.Warning().empty()) std::fprintf(stderr, "zelvane %s: %s\n", self.name, settings.Warning().c_str());
    const uint32_t rgb = settings.BgColor();
    view.background = zv::SColor{static_cast<uint8_t>(rgb >> 16), static_cast<uint8_t>(rgb >> 8),
                                 static_cast<uint8_t>(rgb), 255};
  }
  zv::CPicture pic;
  std::vector<uint8_t> png;
  if (!compiled.Draw(view, pic, err) || !zv::EncodePng(pic, png, err)) return FailIn(self, err);
  if (!zv::WriteFileAtomic(args[3], png.data(), png.size(), err)) return FailIn(self, err);
  std::printf("%s\n", args[3].c_str());
  return kExitOk;
}

ZV_COMMAND("menu render", "draw a menu page as the player shows it, as a PNG",
           "zelvane menu render P.zvpj MENU PAGE OUT.png [--state normal|selected|activated] [--button NAME]\n"
           "                   [--transparent]\n"
           "  PAGE           a page of the menu by name, e.g. \"Page#1\"\n"
           "  --button NAME  the button shown in --state (default: the page's default selected button);\n"
           "                 every other button is drawn normal; a BOG shows its default button unless\n"
           "                 it holds this one (the page's commands are not run)\n"
           "  --state        the state of that button (default: selected)\n"
           "  --transparent  leave the plane transparent instead of putting it over \"BG Color\"",
           "zelvane menu render disc.zvpj \"Top Menu/IG#1\" Main main.png --button chapters", RunMenuRender);

}  // namespace

}  // namespace zvapp
