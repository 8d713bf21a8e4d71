#include "model/button_types.h"

#include <strings.h>

#include <cstdio>
#include <memory>
#include <stdexcept>

#include "model/menu.h"
#include "model/navigation.h"
#include "model/object_path.h"
#include "model/playlist.h"
#include "model/project.h"
#include "model/story.h"

namespace zv {

namespace {

// Generated texts are fixed forms with numbers filled in: one that does not
// assemble is a programming error, which ends the generation of the button.
struct ComposeError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

void Emit(CNavCmds& cmds, const std::string& text) {
  if (!cmds.Add(text)) throw ComposeError("cannot compose \"" + text + "\"");
}

std::string Num(const char* keyword, int64_t n) { return std::string(keyword) + " " + std::to_string(n); }

void EmitAudioRegister(CNavCmds& cmds) { Emit(cmds, "Set GPR2010 = PSR1"); }

// PSR2 holds the subtitle stream number in its low 12 bits and the display
// flag in bit 31; keep both, then the number when shown, else 0.
void EmitSubtitleRegister(CNavCmds& cmds) {
  Emit(cmds, "Set GPR2011 = PSR2");
  Emit(cmds, "Set GPR2011 & 2147487743");
  Emit(cmds, "If GPR2011 < 2147483648");
  Emit(cmds, "Set GPR2011 = 0");
  Emit(cmds, "If GPR2011 >= 2147483648");
  Emit(cmds, "Set GPR2011 & 4095");
}

void EmitChapterRegister(CNavCmds& cmds) { Emit(cmds, "Set GPR2024 = PSR5"); }

template <class F>
bool Composed(F&& f) {
  try {
    f();
    return true;
  } catch (const ComposeError&) {
    return false;
  }
}

// --- where choices point ----------------------------------------------------

CZvObject* ProjectOf(const CNamedObject* obj) {
  for (CNamedObject* o = obj ? obj->m_pParent : nullptr; o; o = o->m_pParent)
    if (auto* p = dynamic_cast<CZvObject*>(o)) return p;
  return nullptr;
}

CBog* BogOfButton(const CBdButton& b) { return dynamic_cast<CBog*>(b.m_pParent); }

CPage* PageOfButton(const CBdButton& b) {
  CBog* bog = BogOfButton(b);
  return bog ? bog->Page() : nullptr;
}

CIcData* DisplaySetOfButton(const CBdButton& b) {
  CPage* page = PageOfButton(b);
  return page ? dynamic_cast<CIcData*>(page->m_pParent) : nullptr;
}

template <class T>
T* At(const CNamedPtrArray<T>& list, int32_t i) {
  return i < 0 ? nullptr : list.GetAt(static_cast<size_t>(i));
}

// Parameters 1 and 2 of a title or chapter button: a film of the project's
// movies, then a title of that film.
CFilmObject* MovieGroup(const CBdButton& b) {
  CZvObject* project = ProjectOf(&b);
  return project ? At(project->m_movies, ButtonParameter(b, 0)) : nullptr;
}

CPlObject* Movie(const CBdButton& b) {
  CFilmObject* film = MovieGroup(b);
  return film ? At(film->m_playlists, ButtonParameter(b, 1)) : nullptr;
}

// The chapter marks of a title: the chapters of its play items in order.
std::vector<std::string> ChapterNames(const CPlObject& pl) {
  std::vector<std::string> names;
  for (size_t i = 0; i < pl.GetCount(); ++i)
    for (const CChapterPoint& p : pl.GetAt(i)->m_chapters.m_points)
      names.push_back(p.name.empty() ? "Chapter " + std::to_string(names.size() + 1) : p.name);
  return names;
}

// The trailers: the play items of the trailers film's titles, in order.
struct STrailer {
  CPlObject* folder = nullptr;
  CPiObject* item = nullptr;
  int32_t position = 0;  // within its folder
};

std::vector<STrailer> Trailers(const CBdButton& b) {
  std::vector<STrailer> out;
  CZvObject* project = ProjectOf(&b);
  if (!project) return out;
  for (size_t i = 0; i < project->m_trailers.m_playlists.GetCount(); ++i) {
    CPlObject* pl = project->m_trailers.m_playlists.GetAt(i);
    for (size_t k = 0; k < pl->GetCount(); ++k) out.push_back({pl, pl->GetAt(k), static_cast<int32_t>(k)});
  }
  return out;
}

// Names that are unique, so that a choice can be made by name: a repeated
// name gets " #n" with its 1-based position.
std::vector<std::string> Unique(const std::vector<std::string>& names) {
  std::vector<std::string> out = names;
  for (size_t i = 0; i < names.size(); ++i)
    for (size_t k = 0; k < names.size(); ++k)
      if (k != i && strcasecmp(names[i].c_str(), names[k].c_str()) == 0) {
        out[i] += " #" + std::to_string(i + 1);
        break;
      }
  return out;
}

// Whether `b` belongs to a menu of one of the project's movies (its pop-up
// menu) rather than to the top menu, the logos or the trailers.
bool InMovieMenu(const CBdButton& b) {
  CFilmObject* film = FilmOf(const_cast<CBdButton*>(&b));
  CZvObject* project = ProjectOf(&b);
  return film && project && project->m_movies.IndexOf(film) >= 0;
}

// Parameters 2 and 3 of an audio or subtitle button outside a movie's own
// menu: the movie whose streams it chooses, the first one when unchosen.
CFilmObject* StreamMovieGroup(const CBdButton& b) {
  CZvObject* project = ProjectOf(&b);
  const int32_t group = ButtonParameter(b, 1);
  return project ? At(project->m_movies, group == kNoChoice ? 0 : group) : nullptr;
}

CPlObject* StreamMovie(const CBdButton& b) {
  CFilmObject* film = StreamMovieGroup(b);
  const int32_t movie = ButtonParameter(b, 2);
  return film ? At(film->m_playlists, movie == kNoChoice ? 0 : movie) : nullptr;
}

// The story whose tracks a menu's audio and subtitle buttons choose from.
// In a movie's own menu: the one the film's first title showing the menu
// plays first, else the film's first story. Elsewhere (the top menu holds
// only its background): the first story of the movie the button names,
// else that movie group's first story.
CStoryObject* StoryOfMenu(const CBdButton& b) {
  if (!InMovieMenu(b)) {
    CFilmObject* group = StreamMovieGroup(b);
    if (!group) return nullptr;
    const CPlObject* pl = StreamMovie(b);
    if (ButtonParameter(b, 2) != kNoChoice && !pl) return nullptr;
    if (pl && pl->GetCount() > 0 && pl->GetAt(0)->m_pStory) return pl->GetAt(0)->m_pStory;
    return group->m_stories.GetAt(0);
  }
  CFilmObject* film = FilmOf(const_cast<CBdButton*>(&b));
  if (!film) return nullptr;
  const CZvIgObject* menu = nullptr;
  for (CNamedObject* o = b.m_pParent; o && !menu; o = o->m_pParent) menu = dynamic_cast<CZvIgObject*>(o);
  for (size_t i = 0; i < film->m_playlists.GetCount(); ++i) {
    const CPlObject* pl = film->m_playlists.GetAt(i);
    if (menu && pl->m_pMenu == menu && pl->GetCount() > 0 && pl->GetAt(0)->m_pStory) return pl->GetAt(0)->m_pStory;
  }
  return film->m_stories.GetAt(0);
}

// The group behaviour for `b` as the plain button of its own BOG, with the
// page's other groups (BOGs of more than one button holding b's type).
bool GenerateGroupOf(CBdButton& b, bool immediate) {
  CBog* bog = BogOfButton(b);
  CPage* page = bog ? bog->Page() : nullptr;
  std::vector<CBdButton*> others;
  for (size_t i = 0; bog && i < bog->GetCount(); ++i)
    if (bog->GetAt(i) != &b) others.push_back(bog->GetAt(i));
  std::vector<CBog*> same;
  if (page) same = SameTypeGroups(*page, bog, b.m_nButtonType);
  return GenerateGroupCommands(b, others, same, immediate);
}

// --- the types --------------------------------------------------------------

class CImageButton : public CButtonType {
 public:
  CImageButton() : CButtonType(kButtonImageOnly, "Image Only") {}
};

// Keyword-only commands: "Resume", "TerminatePlaylist", "PopUpMenuOff".
class CKeywordButton : public CButtonType {
 public:
  CKeywordButton(uint8_t code, const char* name, const char* keyword) : CButtonType(code, name), m_keyword(keyword) {}
  bool GenerateCommands(CBdButton& b, bool) const override {
    return Composed([&] { Emit(b.m_commands, m_keyword); });
  }

 private:
  const char* m_keyword;
};

class CResumeButton : public CKeywordButton {
 public:
  CResumeButton() : CKeywordButton(kButtonResume, "Resume", "Resume") {}
};

class CTerminateButton : public CKeywordButton {
 public:
  CTerminateButton() : CKeywordButton(kButtonTerminate, "TerminatePL", "TerminatePlaylist") {}
};

class CPopUpMenuOff : public CKeywordButton {
 public:
  CPopUpMenuOff() : CKeywordButton(kButtonPopUpMenuOff, "PopUpMenuOff", "PopUpMenuOff") {}
};

class CTopButton : public CButtonType {
 public:
  explicit CTopButton(bool call)
      : CButtonType(call ? kButtonCallTopMenu : kButtonTopMenu, call ? "Call TopMenu" : "TopMenu"), m_bCall(call) {}
  bool GenerateCommands(CBdButton& b, bool) const override {
    return Composed([&] { Emit(b.m_commands, m_bCall ? "CallTitle 0" : "JumpTitle 0"); });
  }

 private:
  bool m_bCall;
};

// Starts title n from its beginning, returning to the menu afterwards with
// the call form.
bool StartTitle(CBdButton& b, int32_t n, bool call) {
  if (n < 0) return false;
  return Composed([&] {
    Emit(b.m_commands, "Set GPR2020 = 0");
    Emit(b.m_commands, Num(call ? "CallTitle" : "JumpTitle", n));
  });
}

class CZvFilmButton : public CButtonType {
 public:
  explicit CZvFilmButton(bool call)
      : CButtonType(call ? kButtonCallTitle : kButtonTitle, call ? "Call Title" : "Title", {1, 1, 0}), m_bCall(call) {}
  const char* ParameterName(int i) const override {
    static const char* const names[] = {"movie-group", "movie"};
    return i >= 0 && i < 2 ? names[i] : nullptr;
  }
  bool ResolveLink(CBdButton& b) const override { return ResolveMovie(b); }
  bool GenerateCommands(CBdButton& b, bool) const override {
    ResolveLink(b);
    auto* pl = dynamic_cast<CPlObject*>(b.m_pTypeLink);
    return pl && StartTitle(b, pl->m_nTitleNumber, m_bCall);
  }
  std::vector<std::string> FillParameterOptions(const CBdButton& b, int i) const override {
    std::vector<std::string> names;
    if (i == 0) {
      if (CZvObject* project = ProjectOf(&b))
        for (size_t k = 0; k < project->m_movies.GetCount(); ++k) names.push_back(project->m_movies.GetAt(k)->m_strName);
    } else if (i == 1) {
      if (CFilmObject* film = MovieGroup(b))
        for (size_t k = 0; k < film->m_playlists.GetCount(); ++k) names.push_back(film->m_playlists.GetAt(k)->m_strName);
    }
    return names;
  }

 protected:
  CZvFilmButton(uint8_t code, const char* name, std::array<uint8_t, 3> flags)
      : CButtonType(code, name, flags), m_bCall(false) {}
  // Link: the title chosen by parameters 1 and 2; an unchosen one is no
  // link, an index past the lists is broken.
  static bool ResolveMovie(CBdButton& b) {
    b.m_pTypeLink = nullptr;
    const int32_t group = ButtonParameter(b, 0), movie = ButtonParameter(b, 1);
    if (group < 0 || movie < 0) return false;
    CZvObject* project = ProjectOf(&b);
    CFilmObject* film = project ? At(project->m_movies, group) : nullptr;
    CPlObject* pl = film ? At(film->m_playlists, movie) : nullptr;
    b.m_pTypeLink = pl;
    return pl == nullptr;
  }

 private:
  bool m_bCall;
};

class CZvTrailerButton : public CButtonType {
 public:
  explicit CZvTrailerButton(bool call)
      : CButtonType(call ? kButtonCallTrailer : kButtonTrailer, call ? "Call Trailer" : "Trailer", {1, 0, 0}),
        m_bCall(call) {}
  const char* ParameterName(int i) const override { return i == 0 ? "trailer" : nullptr; }
  bool ResolveLink(CBdButton& b) const override {
    b.m_pTypeLink = nullptr;
    const int32_t t = ButtonParameter(b, 0);
    if (t < 0) return false;
    std::vector<STrailer> all = Trailers(b);
    if (static_cast<size_t>(t) >= all.size()) return true;
    b.m_pTypeLink = all[static_cast<size_t>(t)].item;
    return false;
  }
  bool GenerateCommands(CBdButton& b, bool) const override {
    ResolveLink(b);
    if (!b.m_pTypeLink) return false;
    auto* item = static_cast<CPiObject*>(b.m_pTypeLink);
    auto* folder = dynamic_cast<CPlObject*>(item->m_pParent);
    if (!folder || folder->m_nTitleNumber < 0) return false;
    const int32_t p = folder->IndexOf(item);
    // Separate titles count from the folder's first title; with "Separate
    // and PlayAll" that first title plays them all. A PlayAll folder has
    // the one title, which plays every trailer.
    int32_t n = folder->m_nTitleNumber;
    if (folder->m_nPlayMode == kSeparate) n += p;
    else if (folder->m_nPlayMode == kSeparateAndPlayAll) n += p + 1;
    return StartTitle(b, n, m_bCall);
  }
  std::vector<std::string> FillParameterOptions(const CBdButton& b, int i) const override {
    std::vector<std::string> names;
    if (i == 0)
      for (const STrailer& t : Trailers(b)) names.push_back(t.folder->m_strName + "/PI#" + std::to_string(t.position + 1));
    return names;
  }

 private:
  bool m_bCall;
};

class CPageButton : public CButtonType {
 public:
  CPageButton() : CButtonType(kButtonPage, "Page", {1, 0, 0}) {}
  const char* ParameterName(int i) const override { return i == 0 ? "page" : nullptr; }
  bool ResolveLink(CBdButton& b) const override {
    b.m_pTypeLink = nullptr;
    CIcData* ds = DisplaySetOfButton(b);
    CPage* page = ds ? At(*ds, ButtonParameter(b, 0)) : nullptr;
    b.m_pTypeLink = page;
    return page == nullptr;
  }
  // The link is used as it stands: the build copy links pages of the copy.
  bool GenerateCommands(CBdButton& b, bool) const override {
    CIcData* ds = DisplaySetOfButton(b);
    CPage* page = nullptr;
    for (size_t i = 0; ds && i < ds->GetCount() && !page; ++i)
      if (ds->GetAt(i) == b.m_pTypeLink) page = ds->GetAt(i);
    if (!page) return false;
    const std::string button = page->m_defaultSelected.p ? std::to_string(page->m_defaultSelected.p->m_nId) : "X";
    // The flag skips the out effect of the page left behind: set only when
    // that page has none, so an authored one plays.
    const CBog* bog = dynamic_cast<const CBog*>(b.m_pParent);
    const CPage* from = bog ? bog->Page() : nullptr;
    const char* skipOut = from && from->m_outEffects.GetCount() > 0 ? " 0" : " 1";
    return Composed(
        [&] { Emit(b.m_commands, "SetButtonPage " + button + " " + std::to_string(page->m_nId) + skipOut); });
  }
  std::vector<std::string> FillParameterOptions(const CBdButton& b, int i) const override {
    std::vector<std::string> names;
    if (CIcData* ds = DisplaySetOfButton(b); ds && i == 0)
      for (size_t k = 0; k < ds->GetCount(); ++k) names.push_back(ds->GetAt(k)->m_strName);
    return names;
  }
};

// "Audio" and "Subtitle": a stream of the menu's movie.
class CZvStreamButton : public CButtonType {
 public:
  CZvStreamButton(uint8_t code, const char* name, StreamKind kind) : CButtonType(code, name, {1, 0, 0}), m_kind(kind) {}
  // Outside a movie's own menu the movie whose streams are offered is a
  // choice too; it only says where the streams come from.
  const char* ParameterName(int i) const override {
    static const char* const context[] = {"movie-group", "movie"};
    return i == 0 ? (m_kind == StreamKind::kAudio ? "audio" : "subtitle") : i < 3 ? context[i - 1] : nullptr;
  }
  bool ParameterApplies(const CBdButton& b, int i) const override { return i == 0 || (i < 3 && !InMovieMenu(b)); }
  bool GenerateCommands(CBdButton& b, bool immediate) const override {
    return GenerateGroupOf(b, immediate);
  }
  // Each stream by its track description; a track of a reused clip by its
  // packet identifier. Video is not offered.
  std::vector<std::string> FillParameterOptions(const CBdButton& b, int i) const override {
    std::vector<std::string> names;
    if (i > 0) {
      CZvObject* project = ProjectOf(&b);
      if (!project || !ParameterApplies(b, i)) return names;
      if (i == 1)
        for (size_t k = 0; k < project->m_movies.GetCount(); ++k) names.push_back(project->m_movies.GetAt(k)->m_strName);
      else if (CFilmObject* film = StreamMovieGroup(b))
        for (size_t k = 0; k < film->m_playlists.GetCount(); ++k) names.push_back(film->m_playlists.GetAt(k)->m_strName);
      return names;
    }
    CStoryObject* story = StoryOfMenu(b);
    if (!story) return names;
    for (const STrackRef& t : story->TrackRefs()) {
      if (t.kind != m_kind || !t.enabled || !t.primary) continue;
      char pid[16];
      std::snprintf(pid, sizeof pid, "0x%04X", t.pid);
      names.push_back(!story->m_strClipPath.empty() ? std::string(pid)
                      : t.description.empty()       ? "Track#" + std::to_string(t.number + 1)
                                                    : t.description);
    }
    return Unique(names);
  }

 private:
  StreamKind m_kind;
};

class CZvAudioButton : public CZvStreamButton {
 public:
  CZvAudioButton() : CZvStreamButton(kButtonAudio, "Audio", StreamKind::kAudio) {}
};

class CZvSubtitleButton : public CZvStreamButton {
 public:
  CZvSubtitleButton() : CZvStreamButton(kButtonSubtitle, "Subtitle", StreamKind::kPg) {}
};

class CZvChapterButton : public CZvFilmButton {
 public:
  CZvChapterButton() : CZvFilmButton(kButtonChapter, "Chapter", {1, 1, 1}) {}
  const char* ParameterName(int i) const override { return i == 2 ? "chapter" : CZvFilmButton::ParameterName(i); }
  bool ResolveLink(CBdButton& b) const override {
    if (ResolveMovie(b)) return true;
    const int32_t c = ButtonParameter(b, 2);
    auto* pl = dynamic_cast<CPlObject*>(b.m_pTypeLink);
    return pl && c >= 0 && static_cast<size_t>(c) >= ChapterNames(*pl).size();
  }
  bool GenerateCommands(CBdButton& b, bool immediate) const override {
    return GenerateGroupOf(b, immediate);
  }
  std::vector<std::string> FillParameterOptions(const CBdButton& b, int i) const override {
    if (i < 2) return CZvFilmButton::FillParameterOptions(b, i);
    CPlObject* pl = i == 2 ? Movie(b) : nullptr;
    return pl ? Unique(ChapterNames(*pl)) : std::vector<std::string>{};
  }
};

}  // namespace

// --- the registry -------------------------------------------------------------

int CButtonType::LastActiveParameter() const {
  for (int i = 2; i >= 0; --i)
    if (ParameterActive(i)) return i;
  return -1;
}

int CButtonType::ParameterCount() const {
  for (int i = 2; i >= 0; --i)
    if (ParameterActive(i) || ParameterName(i)) return i + 1;
  return 0;
}

void CButtonType::ApplyParameter(CBdButton& b, int i, int32_t choice) const {
  CBog* bog = BogOfButton(b);
  std::vector<CBdButton*> buttons;
  if (bog)
    for (size_t k = 0; k < bog->GetCount(); ++k) buttons.push_back(bog->GetAt(k));
  else
    buttons.push_back(&b);
  for (CBdButton* x : buttons) {
    SetButtonParameter(*x, i, choice);
    // Later choices were made within this one (a title of the group, a
    // chapter of the title); a choice of where the streams come from (the
    // movie of a group) within that one.
    for (int k = i + 1; k < 3; ++k)
      if (ParameterActive(k) == ParameterActive(i)) SetButtonParameter(*x, k, kNoChoice);
    ResolveLink(*x);
  }
}

const std::vector<const CButtonType*>& ButtonTypeRegistry() {
  static const CImageButton image;
  static const CTopButton top(false), callTop(true);
  static const CZvFilmButton title(false), callTitle(true);
  static const CZvChapterButton chapter;
  static const CPageButton page;
  static const CZvAudioButton audio;
  static const CZvSubtitleButton subtitle;
  static const CZvTrailerButton trailer(false), callTrailer(true);
  static const CResumeButton resume;
  static const CTerminateButton terminate;
  static const CPopUpMenuOff popUpOff;
  static const std::vector<const CButtonType*> registry = {&image,    &top,      &callTop, &title,   &callTitle,
                                                           &chapter,  &page,     &audio,   &subtitle, &trailer,
                                                           &callTrailer, &resume, &terminate, &popUpOff};
  return registry;
}

const CButtonType& ButtonTypeOf(uint8_t code) {
  const auto& all = ButtonTypeRegistry();
  for (const CButtonType* t : all)
    if (t->Code() == code) return *t;
  return *all.front();
}

const CButtonType* FindButtonType(std::string_view name) {
  for (const CButtonType* t : ButtonTypeRegistry())
    if (t->Name().size() == name.size() && strncasecmp(t->Name().c_str(), name.data(), name.size()) == 0) return t;
  return nullptr;
}

void SelectButtonType(CBdButton& b, const CButtonType& type) {
  CBog* bog = BogOfButton(b);
  std::vector<CBdButton*> buttons;
  if (bog)
    for (size_t k = 0; k < bog->GetCount(); ++k) buttons.push_back(bog->GetAt(k));
  else
    buttons.push_back(&b);
  for (CBdButton* x : buttons) {
    if (x->m_nButtonType != type.Code()) {
      x->SetButtonType(type.Code());
      x->m_commands.Clear();
    }
    for (int i = 0; i < 3; ++i) SetButtonParameter(*x, i, kNoChoice);
    x->m_pTypeLink = nullptr;
  }
}

bool GenerateGroupCommands(CBdButton& d, const std::vector<CBdButton*>& others, const std::vector<CBog*>& sameType,
                           bool immediate) {
  const uint8_t type = d.m_nButtonType;
  if (type != kButtonAudio && type != kButtonSubtitle && type != kButtonChapter) return false;
  int32_t choice = ButtonParameter(d, 0);
  int32_t titleNumber = -1;
  if (type == kButtonChapter) {
    ButtonTypeOf(type).ResolveLink(d);
    if (ButtonParameter(d, 0) < 0) return false;
    if (auto* pl = dynamic_cast<CPlObject*>(d.m_pTypeLink)) titleNumber = pl->m_nTitleNumber;
    choice = ButtonParameter(d, 2);
  } else if (choice < 0) {
    return false;  // no stream chosen: nothing to select
  }
  const size_t start = d.m_commands.Count();
  const bool ok = Composed([&] {
    CNavCmds& c = d.m_commands;
    // The chosen look of this group, the plain look of the others.
    if (!others.empty()) Emit(c, Num("EnableButton", others.front()->m_nId));
    for (CBog* g : sameType)
      if (g->m_defaultButton.p) Emit(c, Num("EnableButton", g->m_defaultButton.p->m_nId));
    if (type == kButtonAudio) {
      Emit(c, Num("Set GPR2010 =", choice + 1));
      if (immediate && !SetStreamSnippet(c, true)) throw ComposeError("cannot compose the stream snippet");
    } else if (type == kButtonSubtitle) {
      Emit(c, Num("Set GPR2011 =", choice + 1));
      if (immediate) Emit(c, "SetStream GPR2010 GPR2011 1 X X");
    } else if (choice >= 0) {
      if (!immediate && titleNumber >= 0) {
        Emit(c, "Set GPR2020 = 2");
        Emit(c, Num("Set GPR2024 =", choice));
        Emit(c, Num("CallTitle", titleNumber));
      } else {
        Emit(c, Num("LinkMark", choice));
      }
    }
  });
  if (!ok) {
    d.m_commands.Items().resize(start);
    return false;
  }
  // A chapter button without its chapter leaves its group as it is.
  if (type == kButtonChapter && choice < 0) return true;
  for (CBdButton* o : others) {
    o->SetButtonType(kButtonImageOnly);
    o->m_commands.Clear();
    for (int i = 0; i < 4; ++i) SetButtonParameter(*o, i, kNoChoice);
    o->m_pTypeLink = nullptr;
  }
  return true;
}

std::vector<CBog*> SameTypeGroups(const CPage& page, const CBog* except, uint8_t type) {
  std::vector<CBog*> same;
  for (size_t g = 0; g < page.GetCount(); ++g) {
    CBog* o = page.GetAt(g);
    if (o == except || o->GetCount() < 2) continue;
    for (size_t i = 0; i < o->GetCount(); ++i)
      if (o->GetAt(i)->m_nButtonType == type) {
        same.push_back(o);
        break;
      }
  }
  return same;
}

bool AddAudioRegisterSnippet(CNavCmds& cmds) { return Composed([&] { EmitAudioRegister(cmds); }); }
bool AddSubtitleRegisterSnippet(CNavCmds& cmds) { return Composed([&] { EmitSubtitleRegister(cmds); }); }
bool AddChapterRegisterSnippet(CNavCmds& cmds) { return Composed([&] { EmitChapterRegister(cmds); }); }

bool AppendCommand(CNavCmds& cmds, const std::string& text) { return cmds.Add(text); }

}  // namespace zv
