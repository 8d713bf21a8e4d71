// `zelvane set P.zvpj OBJECT KEY=VALUE...`: the settings of tracks, titles
// (playlist objects) and play items. Every pair is checked before anything
// is changed; the project is saved only when all of them apply.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/command.h"
#include "app/terminal.h"
#include "model/object_path.h"
#include "model/project.h"
#include "platform/paths.h"

namespace zvapp {

namespace {

int RunSet(const std::vector<std::string>& argv);

ZV_COMMAND("set", "change the settings of a track, a title or a play item",
           "zelvane set P.zvpj OBJECT KEY=VALUE...\n"
           "  a track, e.g. \"Movie#1/Clip#1/Track#2\" (numbered as \"zelvane show\" lists them):\n"
           "    enabled=yes|no  primary=yes|no  language=CODE (ISO 639-2, e.g. fra)  delay=TICKS (90 kHz)\n"
           "  a title, e.g. \"Movie#1/Title#1\":\n"
           "    mode=PlayAll|Separate|\"Separate and PlayAll\"  connection=1|5|6  title=yes|no\n"
           "    menu=IG#n|none  random-access=yes|no  audio-mix=yes|no  lossless-bypass=yes|no\n"
           "  a play item, e.g. \"Movie#1/Title#1/PI#1\":\n"
           "    still=No|Finite|Infinite  still-time=SECONDS  random-access=yes|no\n"
           "    track=N:on|off  (whether the play item offers the clip's track N)",
           "zelvane set disc.zvpj Movie#1/Clip#1/Track#2 language=fra", RunSet);

int Failed(const std::string& message) {
  std::fprintf(stderr, "zelvane set: %s\n", message.c_str());
  return kExitFailed;
}

bool ParseBool(const std::string& v, bool& out) {
  const std::string l = zv::ToLower(v);
  if (l == "yes" || l == "on" || l == "1" || l == "true") return out = true, true;
  if (l == "no" || l == "off" || l == "0" || l == "false") return out = false, true;
  return false;
}

bool ParseInt(const std::string& v, long lo, long hi, long& out) {
  char* end = nullptr;
  out = std::strtol(v.c_str(), &end, 10);
  return !v.empty() && *end == '\0' && out >= lo && out <= hi;
}

std::string BadValue(const std::string& key, const std::string& value, const std::string& want) {
  return "\"" + key + "=" + value + "\": " + want;
}

// Applies one pair to a track; false with `error`.
bool SetTrack(zv::CStoryObject& story, size_t index, const std::string& key, const std::string& value,
              std::string& error) {
  zv::STrackSettings s;
  bool b = false;
  long n = 0;
  if (key == "enabled") {
    if (!ParseBool(value, b)) return error = BadValue(key, value, "yes or no"), false;
    s.enabled = b;
  } else if (key == "primary") {
    if (!ParseBool(value, b)) return error = BadValue(key, value, "yes or no"), false;
    s.primary = b;
  } else if (key == "language") {
    s.language = value;
  } else if (key == "delay") {
    if (!ParseInt(value, -2147483647L, 2147483647L, n)) return error = BadValue(key, value, "90 kHz ticks"), false;
    s.setDelay = true;
    s.delay = static_cast<int32_t>(n);
  } else {
    return error = "a track has no setting \"" + key + "\" (enabled, primary, language, delay)", false;
  }
  return story.ChangeTrack(index, s, error);
}

bool SetPlaylist(zv::CPlObject& pl, const std::string& key, const std::string& value, std::string& error) {
  bool b = false;
  long n = 0;
  if (key == "mode") {
    for (uint8_t m = 0; m <= 2; ++m)
      if (zv::EqualsNoCase(value, zv::PlayModeName(m)) || value == std::to_string(m)) return pl.m_nPlayMode = m, true;
    return error = BadValue(key, value, "PlayAll, Separate or \"Separate and PlayAll\""), false;
  }
  if (key == "connection") {
    if (!ParseInt(value, 1, 6, n) || (n != 1 && n != 5 && n != 6))
      return error = BadValue(key, value, "1 (NonSeamless), 5 (seamless with clean break) or 6"), false;
    pl.m_nConnection = static_cast<uint8_t>(n);
    return true;
  }
  if (key == "menu") {
    if (zv::EqualsNoCase(value, "none")) return pl.SetMenu(nullptr), true;
    zv::CFilmObject* film = zv::FilmOf(&pl);
    for (size_t i = 0; film && i < film->m_menus.GetCount(); ++i)
      if (film->m_menus.GetAt(i)->m_strName == value) return pl.SetMenu(film->m_menus.GetAt(i)), true;
    return error = BadValue(key, value, "a menu of the same film, or none"), false;
  }
  bool* flag = key == "title"             ? &pl.m_bHasTitle
               : key == "random-access"   ? &pl.m_bRandomAccess
               : key == "audio-mix"       ? &pl.m_bAudioMix
               : key == "lossless-bypass" ? &pl.m_bLosslessBypass
                                          : nullptr;
  if (!flag)
    return error = "a title has no setting \"" + key +
                   "\" (mode, connection, title, menu, random-access, audio-mix, lossless-bypass)",
           false;
  if (!ParseBool(value, b)) return error = BadValue(key, value, "yes or no"), false;
  *flag = b;
  return true;
}

bool SetPlayItem(zv::CPiObject& pi, const std::string& key, const std::string& value, std::string& error) {
  bool b = false;
  long n = 0;
  if (key == "still") {
    const char* names[] = {"No", "Finite", "Infinite"};
    for (uint8_t m = 0; m < 3; ++m)
      if (zv::EqualsNoCase(value, names[m])) return pi.m_nStillMode = m, true;
    return error = BadValue(key, value, "No, Finite or Infinite"), false;
  }
  if (key == "still-time") {
    if (!ParseInt(value, 0, 65535, n)) return error = BadValue(key, value, "seconds, 0 to 65535"), false;
    pi.m_nStillTime = static_cast<uint16_t>(n);
    return true;
  }
  if (key == "random-access") {
    if (!ParseBool(value, b)) return error = BadValue(key, value, "yes or no"), false;
    pi.m_bRandomAccess = b;
    return true;
  }
  if (key == "track") {
    const size_t colon = value.find(':');
    if (colon == std::string::npos || !ParseInt(value.substr(0, colon), 1, 100000, n) ||
        !ParseBool(value.substr(colon + 1), b))
      return error = BadValue(key, value, "N:on or N:off"), false;
    if (!pi.m_pStory || static_cast<size_t>(n) > pi.m_pStory->m_vecTracks.size())
      return error = BadValue(key, value, "the clip of this play item has no such track"), false;
    const int32_t number = pi.m_pStory->TrackRefs()[static_cast<size_t>(n - 1)].number;
    for (auto& e : pi.m_streamSel)
      if (e.track == number) return e.selected = b ? 1 : 0, true;
    return error = BadValue(key, value, "the play item does not list that track"), false;
  }
  return error = "a play item has no setting \"" + key + "\" (still, still-time, random-access, track)", false;
}

int RunSet(const std::vector<std::string>& argv) {
  const CommandInfo& self = *Registry::Get().Find("set");
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
  zv::CZvObject project;
  bool modified = false;
  std::string message;
  if (zv::OpenProjectFile(args[0], project, prompt, zv::Progress{}, modified, message) != zv::kOk)
    return Failed("cannot load \"" + args[0] + "\": " + message);

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

  for (const auto& [key, value] : pairs) {
    bool ok = false;
    if (isTrack) {
      auto* story = dynamic_cast<zv::CStoryObject*>(obj);
      if (!story) return Failed("\"" + objectPath + "\" is not a clip, so it has no tracks");
      ok = SetTrack(*story, trackIndex, key, value, error);
    } else if (auto* pl = dynamic_cast<zv::CPlObject*>(obj)) {
      ok = SetPlaylist(*pl, key, value, error);
    } else if (auto* pi = dynamic_cast<zv::CPiObject*>(obj)) {
      ok = SetPlayItem(*pi, key, value, error);
    } else {
      return Failed("\"" + args[1] + "\" has no settings here (a track, a title or a play item has)");
    }
    if (!ok) return Failed("\"" + args[1] + "\": " + error);
  }
  // A track's enabled flag is mirrored in the play items that play its clip.
  if (isTrack) {
    auto* story = static_cast<zv::CStoryObject*>(obj);
    if (zv::CFilmObject* film = zv::FilmOf(story))
      for (size_t i = 0; i < film->m_playlists.GetCount(); ++i)
        for (size_t k = 0; k < film->m_playlists.GetAt(i)->GetCount(); ++k)
          if (film->m_playlists.GetAt(i)->GetAt(k)->m_pStory == story)
            zv::LinkStory(*film->m_playlists.GetAt(i)->GetAt(k), story);
  }
  if (zv::SaveProjectFile(args[0], project, message) != zv::kOk) return Failed(message);
  return kExitOk;
}

}  // namespace

}  // namespace zvapp
