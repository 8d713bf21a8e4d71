// The menus of the sample disc, made the way a user makes them: pictures
// added to the menu, pages, button groups and buttons placed on the page,
// and button types chosen instead of hand-written commands.
//
// Top menu (over a still background): "Play movie", "Chapters" (a page of
// four chapter buttons), "Audio" (a page choosing the movie's language, the
// language in use marked) and "Trailer". The movie's pop-up menu, "Top
// menu" and "Close", is a layered design (menu/popup.psd) imported whole.
#include "app/demo_menus.h"

#include <memory>

#include "bdnav/sound_bdmv.h"
#include "model/button_types.h"
#include "model/menu.h"
#include "model/menu_import.h"
#include "model/project.h"

namespace zvapp {

namespace {

namespace fs = std::filesystem;

constexpr int kButtonWidth = 400;
constexpr int kVideoFormat1080p23976 = 5;

class MenuMaker {
 public:
  MenuMaker(zv::CZvIgObject& menu, const fs::path& pictures) : menu_(menu), pictures_(pictures) {
    menu_.SetVideoFormat(kVideoFormat1080p23976);
    epoch_ = menu_.GetAt(0);
    ds_ = epoch_->GetAt(0);
  }

  zv::CPage* Page(const std::string& name) {
    zv::CPage* page = ds_->AddPage();
    page->SetName(name);
    return page;
  }

  // A BOG with one button showing NAME_n/_s/_a at (x, y); with `chosen`,
  // a second button in the same place shows the chosen look CHOSEN_n/_s/_a.
  zv::CBdButton* Button(zv::CPage& page, const std::string& name, int x, int y, const std::string& chosen = {}) {
    zv::CBog* bog = page.AddBog();
    zv::CBdButton* b = Add(*bog, name, x, y);
    if (b && !chosen.empty()) Add(*bog, chosen, x, y);
    return b;
  }

  // The first button selected when the page opens; neighbours from the
  // positions.
  void Finish(zv::CPage& page) {
    const std::vector<zv::CBdButton*> buttons = page.Buttons();
    if (!buttons.empty()) page.m_defaultSelected.Set(buttons.front());
    zv::ComputeNeighbours(page, zv::kNeighboursSpatial);
  }

  bool ok() const { return ok_; }
  const std::string& error() const { return error_; }

 private:
  zv::CBdButton* Add(zv::CBog& bog, const std::string& name, int x, int y) {
    zv::CBdButton* b = bog.AddButton();
    if (!b) return Fail("no button id left on the page");
    b->SetName(name);
    b->m_nX = static_cast<uint16_t>(x);
    b->m_nY = static_cast<uint16_t>(y);
    const char* suffix[3] = {"_n.png", "_s.png", "_a.png"};
    for (int s = 0; s < 3; ++s) {
      zv::CGraphicObject* g = Graphic(name + suffix[s]);
      if (!g) return nullptr;
      // One picture: the state starts and ends with it.
      b->m_states[static_cast<size_t>(s)].m_start.Set(g);
      b->m_states[static_cast<size_t>(s)].m_end.Set(g);
    }
    return b;
  }

  zv::CGraphicObject* Graphic(const std::string& file) {
    for (size_t i = 0; i < epoch_->m_graphics.GetCount(); ++i)
      if (epoch_->m_graphics.GetAt(i)->m_strName == file) return epoch_->m_graphics.GetAt(i);
    auto g = std::make_unique<zv::CGraphicObject>();
    const std::string path = (pictures_ / file).lexically_normal().generic_string();
    if (std::string why; !g->SetImageFile(path, &why))
      return Fail("\"" + path + "\" is not a picture that can be read: " + why);
    g->m_nId = nextGraphic_++;
    g->SetName(file);
    return epoch_->m_graphics.Add(std::move(g));
  }

  std::nullptr_t Fail(const std::string& error) {
    if (ok_) error_ = error;
    ok_ = false;
    return nullptr;
  }

  zv::CZvIgObject& menu_;
  fs::path pictures_;
  zv::CEpoch* epoch_ = nullptr;
  zv::CDisplaySet* ds_ = nullptr;
  int32_t nextGraphic_ = 0;
  bool ok_ = true;
  std::string error_;
};

// Chooses the type named `type` and its parameters, in order.
void Type(zv::CBdButton* b, const char* type, std::initializer_list<int32_t> params = {}) {
  if (!b) return;
  const zv::CButtonType* t = zv::FindButtonType(type);
  if (!t) return;
  zv::SelectButtonType(*b, *t);
  int i = 0;
  for (int32_t p : params) t->ApplyParameter(*b, i++, p);
}

}  // namespace

bool AddDemoMenus(zv::CZvObject& project, const fs::path& pictures, std::string& error, std::string& warning) {
  const int x = (1920 - kButtonWidth) / 2;
  {
    MenuMaker top(*project.m_topMenu.m_menus.GetAt(0), pictures);
    zv::CPage* main = top.Page("Main");
    zv::CPage* chapters = top.Page("Chapters");
    zv::CPage* audio = top.Page("Audio");

    Type(top.Button(*main, "play", x, 520), "Title", {0, 0});
    Type(top.Button(*main, "chapters", x, 620), "Page", {1});
    Type(top.Button(*main, "audio", x, 720), "Page", {2});
    Type(top.Button(*main, "trailer", x, 820), "Trailer", {0});

    for (int c = 0; c < 4; ++c)
      Type(top.Button(*chapters, "chapter" + std::to_string(c + 1), x, 420 + 100 * c), "Chapter", {0, 0, c});
    Type(top.Button(*chapters, "back", x, 840), "Page", {0});

    Type(top.Button(*audio, "english", x, 520, "english_on"), "Audio", {0});
    Type(top.Button(*audio, "french", x, 620, "french_on"), "Audio", {1});
    Type(top.Button(*audio, "back", x, 840), "Page", {0});

    for (zv::CPage* p : {main, chapters, audio}) top.Finish(*p);
    if (!top.ok()) return error = top.error(), false;
  }
  {
    // The pop-up menu comes from a layered design, as "menu import-psd"
    // makes it: its button names give the types. Converted on every run, so
    // that the disc never depends on a stream left by an earlier demo.
    zv::CZvIgObject& popup = *project.m_movies.GetAt(0)->m_menus.GetAt(0);
    popup.SetVideoFormat(kVideoFormat1080p23976);
    const std::string design = (pictures / "popup.psd").lexically_normal().string();
    if (zv::ImportPsdIntoMenu(popup, design, true, {}, error, warning) != zv::kOk) return false;
  }
  return true;
}

bool AddDemoSounds(zv::CZvObject& project, const fs::path& media, zv::IPrompt& prompt, std::string& error) {
  zv::CSoundList sounds;
  for (const char* name : {"select.wav", "activate.wav"}) {
    std::string why;
    const std::string path = (media / "menu" / name).string();
    if (sounds.Add(path, &why) != zv::CSoundList::kAdded) return error = "\"" + path + "\": " + why, false;
  }
  const std::string file = (media / "Sound.bdmv").string();
  if (sounds.Build(file, error) != zv::CSoundList::kBuilt) return false;
  if (!project.LoadSoundFile(file, prompt)) return error = "\"" + file + "\" is not a sound file", false;
  for (zv::CZvIgObject* menu : {project.m_topMenu.m_menus.GetAt(0), project.m_movies.GetAt(0)->m_menus.GetAt(0)}) {
    menu->SetSelectSound(0);
    menu->SetActivateSound(1);
  }
  return true;
}

}  // namespace zvapp
