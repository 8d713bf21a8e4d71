// `zelvane set P.zvpj OBJECT KEY=VALUE...`: the property grid of the shell.
// Pairs are applied in order to the loaded project; the project is saved
// only when every pair applied, so a refused value leaves the file as it was.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/command.h"
#include "app/menu_tree.h"
#include "app/project_load.h"
#include "app/properties.h"
#include "app/sound_ids.h"
#include "app/terminal.h"
#include "model/object_path.h"
#include "model/project.h"
#include "bdnav/playlist_file.h"
#include "platform/paths.h"

namespace zvapp {

namespace {

int RunSet(const std::vector<std::string>& argv);

ZV_COMMAND("set", "change the settings (and names) of films, clips, tracks, menus and their pages, BOGs and buttons, titles and play items",
           "zelvane set P.zvpj OBJECT KEY=VALUE...\n"
           "  a film, a clip or a title:  name=NEW  (unique among its neighbours, no '/')\n"
           "  a track, e.g. \"Movie#1/Clip#1/Track#2\" (numbered as \"zelvane show\" lists them):\n"
           "    enabled=yes|no  primary=yes|no  language=CODE (ISO 639-2, e.g. fra)  delay=TICKS (90 kHz)\n"
           "  a menu, e.g. \"Movie#1/IG#1\":\n"
           "    name=NEW  popup=yes|no  timeout=SECONDS (0..186, pop-up menus only)  stream-model=own-clip  language=CODE\n"
           "    selected-sound|activated-sound=N|none (every button's; N a sound of the project's sound file)\n"
           "  a menu page, e.g. \"Movie#1/IG#1/Epoch#1/DisplaySet#1/Page#1\":\n"
           "    name=NEW  default-selected=BUTTON|none  default-activated=BUTTON|current|none  palette=NAME|none\n"
           "    neighbours=spatial|sequential (sets every button's up/down/left/right from the BOGs' defaults)\n"
           "    in-effect|out-effect=none|fade,GRAPHIC,X,Y,MS[,STEPS]|slide,left|right|top|bottom,GRAPHIC,X,Y,MS[,STEPS]\n"
           "      (GRAPHIC fades or slides in when the page opens, out when it closes; STEPS 1..64, default 8)\n"
           "    animation-frame-rate=0..255 (an animated button shows its next picture every N video frames)\n"
           "  a BOG, e.g. \".../Page#1/Bog#1\":  name=NEW  default=BUTTON|none\n"
           "  a button, e.g. \".../Page#1/Bog#1/Button#1\" (BUTTON values name buttons of the same page):\n"
           "    name=NEW  x=N  y=N  up|down|left|right=BUTTON|none  auto-action=yes|no  numeric=0..9999|none\n"
           "    type=NAME for every button of the BOG (a new type clears their commands and choices):\n"
           "      \"Image Only\" (own commands), TopMenu, \"Call TopMenu\", Title, \"Call Title\", Chapter, Page,\n"
           "      Audio, Subtitle, Trailer, \"Call Trailer\", Resume, TerminatePL, PopUpMenuOff (or a type code)\n"
           "    the type's choices by name, for every button of the BOG (none clears one):\n"
           "      Title, Call Title: movie-group=FILM movie=TITLE   Chapter: the same and chapter=NAME\n"
           "      Page: page=PAGE   Audio: audio=TRACK   Subtitle: subtitle=TRACK   Trailer: trailer=TITLE/PI#n\n"
           "    commands=\"CMD; CMD...\"|none (a typed button gets its commands when the menu is built)\n"
           "    normal|selected|activated=GRAPHIC[,END GRAPHIC]|none  selected-sound|activated-sound=N|none\n"
           "    normal-repeat|selected-repeat|activated-repeat=yes|no\n"
           "  a title, e.g. \"Movie#1/Title#1\":\n"
           "    mode=PlayAll|Separate|\"Separate and PlayAll\"  connection=1|5  title=yes|no\n"
           "    menu=IG#n|none  playback=Sequential|Random|Shuffle  playback-count=N (0..65535)\n"
           "    random-access=yes|no  audio-mix=yes|no  lossless-bypass=yes|no  uo.OPERATION=1|0\n"
           "  a play item, e.g. \"Movie#1/Title#1/PI#1\":\n"
           "    still=No|Finite|Infinite  still-time=SECONDS (0..65535)  angles=1..9  random-access=yes|no\n"
           "    track=N:on|off (whether the play item offers its clip's track N)  uo.OPERATION=1|0\n"
           "  uo.OPERATION=1 prohibits a user operation, e.g. uo.ChapterSearch=1; OPERATION is one of:\n"
           "    ChapterSearch TimeSearch SkipToNextPoint SkipBackToPreviousPoint Stop PauseOn StillOff\n"
           "    ForwardPlay BackwardPlay Resume MoveUpSelectedButton MoveDownSelectedButton\n"
           "    MoveLeftSelectedButton MoveRightSelectedButton SelectButton ActivateButton\n"
           "    SelectButtonAndActivate PrimaryAudioStreamNumberChange AngleNumberChange PopupOn PopupOff\n"
           "    PG_TextST_EnableDisable PG_TextST_StreamNumberChange SecondaryVideoEnableDisable\n"
           "    SecondaryVideoStreamNumberChange SecondaryAudioEnableDisable SecondaryAudioStreamNumberChange\n"
           "    PiP_PG_TextST_StreamNumberChange\n"
           "  (a title with a menu of its own always allows PopupOn and PopupOff)\n"
           "exit status: 0 set, 2 a value was refused (the project is unchanged), 64 usage error",
           "zelvane set disc.zvpj Movie#1/Clip#1/Track#3 language=fra", RunSet);

// The user-interface time-out of a menu is stored in 24 bits of 90 kHz.
constexpr long kMaxMenuTimeout = 0xFFFFFF / 90000;
constexpr size_t kMaxNameLength = 255;

bool ParseBool(const std::string& v, bool& out) {
  const std::string l = zv::ToLower(v);
  if (l == "yes" || l == "on" || l == "1" || l == "true") return out = true, true;
  if (l == "no" || l == "off" || l == "0" || l == "false") return out = false, true;
  return false;
}

bool ParseInt(const std::string& v, long lo, long hi, long& out) {
  char* end = nullptr;
  errno = 0;
  out = std::strtol(v.c_str(), &end, 10);
  return !v.empty() && *end == '\0' && errno == 0 && out >= lo && out <= hi;
}

// One KEY=VALUE pair being applied; `error` receives the reason of a refusal.
struct Pair {
  const std::string& key;
  const std::string& value;
  std::string& error;

  bool Bad(const std::string& want) const {
    error = "\"" + key + "=" + value + "\": " + want;
    return false;
  }
  bool Bool(bool& target) const {
    bool b = false;
    if (!ParseBool(value, b)) return Bad("expected yes or no");
    target = b;
    return true;
  }
  template <class T>
  bool Int(T& target, long lo, long hi, const std::string& want) const {
    long n = 0;
    if (!ParseInt(value, lo, hi, n)) return Bad(want);
    target = static_cast<T>(n);
    return true;
  }
  bool UnknownKey(const char* what, const char* keys) const {
    error = std::string(what) + " has no setting \"" + key + "\" (" + keys + ")";
    return false;
  }
};

bool IsUoKey(const std::string& key) { return key.size() > 3 && zv::ToLower(key.substr(0, 3)) == "uo."; }

bool SetUo(uint8_t (&mask)[8], const Pair& p) {
  const std::string label = p.key.substr(3);
  const int bit = UoBitOfLabel(label);
  if (bit < 0) {
    for (int fixed = 0; fixed < zv::kNamedUoBits; ++fixed)
      if (IsFixedUoBit(fixed) && zv::EqualsNoCase(label, zv::UoBitLabel(fixed)))
        return p.Bad("this user operation cannot be changed");
    return p.Bad("no user operation \"" + label + "\" (\"zelvane set --help\" lists them)");
  }
  bool on = false;
  if (!ParseBool(p.value, on)) return p.Bad("expected 1 (prohibited) or 0 (allowed)");
  SetUoBit(mask, bit, on);
  return true;
}

// Names address objects, so they must stay unique among the names a lookup
// compares at the object's level, and free of the path separator.
bool SetName(zv::CZvObject& project, zv::CNamedObject& obj, const Pair& p) {
  const std::string& name = p.value;
  if (name.empty()) return p.Bad("a name cannot be empty");
  if (name.size() > kMaxNameLength) return p.Bad("a name has at most " + std::to_string(kMaxNameLength) + " bytes");
  for (unsigned char c : name)
    if (c == '/' || c == '\\' || c < 0x20 || c == 0x7F)
      return p.Bad("a name cannot contain '/', '\\' or control characters");
  if (name == obj.m_strName) return true;
  if (zv::EqualsNoCase(name, obj.m_strName)) return p.Bad("the name differs from the current one only in letter case");
  zv::CNamedObject* level = dynamic_cast<zv::CFilmObject*>(&obj) ? nullptr : zv::FilmOf(&obj);
  for (const auto& [sibling, other] : zv::ChildrenOf(project, level))
    if (other != &obj && zv::EqualsNoCase(sibling, name)) return p.Bad("\"" + sibling + "\" already has that name");
  obj.m_strName = name;
  return true;
}

bool SetTrack(zv::CStoryObject& story, size_t index, const Pair& p) {
  zv::STrackSettings s;
  bool b = false;
  if (p.key == "enabled") {
    if (!p.Bool(b)) return false;
    s.enabled = b;
  } else if (p.key == "primary") {
    if (!p.Bool(b)) return false;
    s.primary = b;
  } else if (p.key == "language") {
    if (p.value.empty()) return p.Bad("expected an ISO 639-2 code such as eng or fra");
    s.language = p.value;
  } else if (p.key == "delay") {
    if (!p.Int(s.delay, -2147483647L, 2147483647L, "expected 90 kHz ticks")) return false;
    s.setDelay = true;
  } else {
    return p.UnknownKey("a track", "enabled, primary, language, delay");
  }
  if (story.ChangeTrack(index, s, p.error)) return true;
  p.error = "\"" + p.key + "=" + p.value + "\": " + p.error;
  return false;
}

bool SetMenu(zv::CZvObject& project, zv::CZvIgObject& menu, const Pair& p) {
  if (p.key == "name") return SetName(project, menu, p);
  if (p.key == "popup") {
    bool popup = false;
    if (!p.Bool(popup)) return false;
    menu.SetPopup(popup, menu.m_nUserTimeout);
    return true;
  }
  if (p.key == "timeout") {
    if (!menu.m_bPopup) return p.Bad("an always-on menu has no time-out (set popup=yes first)");
    long seconds = 0;
    if (!ParseInt(p.value, 0, kMaxMenuTimeout, seconds))
      return p.Bad("expected seconds, 0 (none) to " + std::to_string(kMaxMenuTimeout));
    menu.SetPopup(true, static_cast<int>(seconds));
    return true;
  }
  if (p.key == "stream-model") {
    if (p.value == "own-clip") return menu.SetStreamModel(true), true;
    if (p.value == "with-video")
      return p.Bad("a menu multiplexed into its video's clip is not built; menus get a clip of their own (own-clip)");
    return p.Bad("expected own-clip");
  }
  if (p.key == "language") {
    const int index = zv::LanguageIndexOf(zv::ToLower(p.value));
    if (index < 0) return p.Bad("expected an ISO 639-2 code such as eng or fra");
    menu.m_nLanguage = index;
    return true;
  }
  if (p.key == "selected-sound" || p.key == "activated-sound") {
    int32_t id = -1;
    std::string why;
    if (!ParseSoundId(menu, p.value, id, why)) return p.Bad(why);
    p.key == "selected-sound" ? menu.SetSelectSound(id) : menu.SetActivateSound(id);
    return true;
  }
  return p.UnknownKey("a menu", "name, popup, timeout, stream-model, language, selected-sound, activated-sound");
}

bool SetPlaylist(zv::CZvObject& project, zv::CPlObject& pl, const Pair& p) {
  const std::string& key = p.key;
  const std::string& value = p.value;
  if (key == "name") return SetName(project, pl, p);
  if (IsUoKey(key)) return SetUo(pl.m_uoMask, p);
  if (key == "mode") {
    for (uint8_t m = 0; m <= 2; ++m)
      if (zv::EqualsNoCase(value, zv::PlayModeName(m)) || value == std::to_string(m)) return pl.m_nPlayMode = m, true;
    return p.Bad("expected PlayAll, Separate or \"Separate and PlayAll\"");
  }
  if (key == "connection") {
    long n = 0;
    if (ParseInt(value, 6, 6, n)) return p.Bad("only 1 and 5 are supported");
    if (!ParseInt(value, 1, 5, n) || (n != 1 && n != 5))
      return p.Bad("expected 1 (NonSeamless) or 5 (seamless with clean break)");
    pl.m_nConnection = static_cast<uint8_t>(n);
    return true;
  }
  if (key == "menu") {
    if (zv::EqualsNoCase(value, "none")) return pl.SetMenu(nullptr), true;
    zv::CFilmObject* film = zv::FilmOf(&pl);
    for (size_t i = 0; film && i < film->m_menus.GetCount(); ++i)
      if (zv::EqualsNoCase(film->m_menus.GetAt(i)->m_strName, value)) return pl.SetMenu(film->m_menus.GetAt(i)), true;
    return p.Bad("expected a menu of the same film, or none");
  }
  if (key == "playback") {
    for (uint8_t t = 1; t <= 3; ++t)
      if (zv::EqualsNoCase(value, PlaybackTypeName(t)) || value == std::to_string(t)) return pl.m_nPlaybackType = t, true;
    return p.Bad("expected Sequential, Random or Shuffle");
  }
  if (key == "playback-count") return p.Int(pl.m_nPlaybackCount, 0, 65535, "expected a count, 0 to 65535");
  if (key == "title") return p.Bool(pl.m_bHasTitle);
  if (key == "random-access") return p.Bool(pl.m_bRandomAccess);
  if (key == "audio-mix") return p.Bool(pl.m_bAudioMix);
  if (key == "lossless-bypass") return p.Bool(pl.m_bLosslessBypass);
  return p.UnknownKey("a title",
                      "name, mode, connection, title, menu, playback, playback-count, random-access, audio-mix, "
                      "lossless-bypass, uo.OPERATION");
}

bool SetPlayItem(zv::CPiObject& pi, const Pair& p) {
  const std::string& key = p.key;
  const std::string& value = p.value;
  if (IsUoKey(key)) return SetUo(pi.m_uoMask, p);
  if (key == "still") {
    for (uint8_t m = 0; m < 3; ++m)
      if (zv::EqualsNoCase(value, StillModeName(m))) return pi.m_nStillMode = m, true;
    return p.Bad("expected No, Finite or Infinite");
  }
  if (key == "still-time") return p.Int(pi.m_nStillTime, 0, 65535, "expected seconds, 0 to 65535");
  if (key == "angles") return p.Int(pi.m_nAngles, 1, 9, "expected 1 to 9 angles");
  if (key == "random-access") return p.Bool(pi.m_bRandomAccess);
  if (key == "track") {
    const size_t colon = value.find(':');
    long n = 0;
    bool on = false;
    if (colon == std::string::npos || !ParseInt(value.substr(0, colon), 1, 100000, n) ||
        !ParseBool(value.substr(colon + 1), on))
      return p.Bad("expected N:on or N:off");
    if (!pi.m_pStory || static_cast<size_t>(n) > pi.m_pStory->m_vecTracks.size())
      return p.Bad("the clip of this play item has no track " + std::to_string(n));
    const int32_t number = pi.m_pStory->TrackRefs()[static_cast<size_t>(n - 1)].number;
    for (auto& e : pi.m_streamSel)
      if (e.track == number) return e.selected = on ? 1 : 0, true;
    return p.Bad("the play item does not list that track");
  }
  if (key == "name") return p.Bad("a play item is addressed by its number (PI#n) and has no name");
  return p.UnknownKey("a play item", "still, still-time, angles, random-access, track, uo.OPERATION");
}

int Failed(const std::string& message) {
  std::fprintf(stderr, "zelvane set: %s\n", message.c_str());
  return kExitFailed;
}

int RunSet(const std::vector<std::string>& argv) {
  const CommandInfo& self = *Registry::Get().Find("set");
  for (const auto& a : argv) {
    if (a == "--") break;
    if (a.size() > 2 && a.compare(0, 2, "--") == 0) return UsageError(self, "unknown option " + a.substr(0, a.find('=')));
  }
  Args args;
  std::string err;
  if (!args.Parse(argv, {}, err)) return UsageError(self, err);
  if (args.Count() < 3) return UsageError(self, "expected P.zvpj, OBJECT and at least one KEY=VALUE");
  std::vector<std::pair<std::string, std::string>> pairs;
  for (size_t i = 2; i < args.Count(); ++i) {
    const size_t eq = args[i].find('=');
    if (eq == std::string::npos || eq == 0) return UsageError(self, "\"" + args[i] + "\" is not KEY=VALUE");
    pairs.emplace_back(args[i].substr(0, eq), args[i].substr(eq + 1));
  }

  TerminalPrompt prompt(false);
  zv::CFileLock lock;
  zv::CZvObject project;
  if (!LoadProjectFor("set", args[0], project, prompt, true, &lock)) return kExitFailed;

  // "CLIP/Track#N" addresses a track, which is not an object of the tree.
  std::string objectPath = args[1];
  size_t trackIndex = 0;
  bool isTrack = false;
  const size_t slash = objectPath.rfind('/');
  const std::string last = slash == std::string::npos ? objectPath : objectPath.substr(slash + 1);
  if (zv::ToLower(last).rfind("track#", 0) == 0) {
    long n = 0;
    if (!ParseInt(last.substr(6), 1, 100000, n)) return Failed("\"" + args[1] + "\": a track is numbered from 1");
    isTrack = true;
    trackIndex = static_cast<size_t>(n - 1);
    objectPath = slash == std::string::npos ? std::string() : objectPath.substr(0, slash);
  }
  std::string error;
  zv::CNamedObject* obj = zv::FindObject(project, objectPath, error);
  if (!obj) return Failed(error);
  auto* story = dynamic_cast<zv::CStoryObject*>(obj);
  if (isTrack && !story) return Failed("\"" + objectPath + "\" is not a clip, so it has no tracks");

  for (const auto& [key, value] : pairs) {
    const Pair p{key, value, error};
    bool ok = false;
    if (isTrack) {
      ok = SetTrack(*story, trackIndex, p);
    } else if (auto* pl = dynamic_cast<zv::CPlObject*>(obj)) {
      ok = SetPlaylist(project, *pl, p);
    } else if (auto* pi = dynamic_cast<zv::CPiObject*>(obj)) {
      ok = SetPlayItem(*pi, p);
    } else if (auto* menu = dynamic_cast<zv::CZvIgObject*>(obj)) {
      ok = SetMenu(project, *menu, p);
    } else if (IsMenuPart(*obj)) {
      ok = SetMenuPart(*obj, key, value, error);
    } else if (story || dynamic_cast<zv::CFilmObject*>(obj)) {
      ok = key == "name" ? SetName(project, *obj, p)
                         : p.UnknownKey(story ? "a clip" : "a film", story ? "name; its tracks are CLIP/Track#N"
                                                                            : "name");
    } else {
      return Failed("\"" + args[1] +
                    "\" has no settings (films, clips, tracks, menus, pages, BOGs, buttons, titles and play items have)");
    }
    if (!ok) return Failed("\"" + args[1] + "\": " + error);
  }
  // A track's enabled flag is mirrored in the play items that play its clip.
  if (isTrack) {
    if (zv::CFilmObject* film = zv::FilmOf(story))
      for (size_t i = 0; i < film->m_playlists.GetCount(); ++i)
        for (size_t k = 0; k < film->m_playlists.GetAt(i)->GetCount(); ++k)
          if (film->m_playlists.GetAt(i)->GetAt(k)->m_pStory == story)
            zv::LinkStory(*film->m_playlists.GetAt(i)->GetAt(k), story);
  }
  std::string message;
  if (zv::SaveProjectFile(args[0], project, message) != zv::kOk) return Failed(message);
  return kExitOk;
}

}  // namespace

}  // namespace zvapp
