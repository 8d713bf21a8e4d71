// Project commands: new, show, movie/title/clip/ig add, delete, chapters.
// Every command that changes a project loads it, changes it in memory and
// saves it only when everything succeeded, so a failed command leaves the
// file as it was.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/command.h"
#include "app/dump.h"
#include "app/json.h"
#include "app/menu_tree.h"
#include "app/project_load.h"
#include "app/terminal.h"
#include "edit/chapter_import.h"
#include "edit/commands.h"
#include "edit/rows.h"
#include "edit/values.h"
#include "chapters/chapters.h"
#include "model/object_path.h"
#include "model/project.h"
#include "model/story.h"
#include "mux/pipe.h"
#include "platform/paths.h"

namespace zvapp {

namespace {

using zvedit::ChapterTime;
using zvedit::RowNumber;
using zvedit::RowValue;
using zvedit::RowValues;

// A reference row: its name, or null for "none".
void RefJson(Json& j, const std::string& value) {
  if (value == "none") j.Null();
  else j.Str(value);
}

// A play item's chapters from its fact rows, in order.
struct ChapterRow {
  std::string time, name;
  long type, frames;
};
std::vector<ChapterRow> ChapterRows(const std::vector<zvedit::PropertyInfo>& facts) {
  const std::vector<std::string> times = RowValues(facts, "chapter"), names = RowValues(facts, "chapter-name"),
                                 types = RowValues(facts, "chapter-type"), frames = RowValues(facts, "chapter-frames");
  std::vector<ChapterRow> out;
  for (size_t i = 0; i < times.size(); ++i) out.push_back({times[i], names[i], std::stol(types[i]), std::stol(frames[i])});
  return out;
}

// The prohibited user operations of a title's or play item's facts, or "none".
std::string UoText(const std::vector<zvedit::PropertyInfo>& facts) {
  std::string out;
  for (const std::string& label : RowValues(facts, "prohibited")) out += (out.empty() ? "" : " ") + label;
  return out.empty() ? "none" : out;
}

void UoJson(Json& j, const std::vector<zvedit::PropertyInfo>& facts) {
  j.Key("prohibited").BeginArray();
  for (const std::string& label : RowValues(facts, "prohibited")) j.Str(label);
  j.EndArray();
}

// A play item's stream selection with tracks numbered as the clip lists
// them (Track#N), from its `track=N:on|off` rows.
struct Offered {
  int shown;
  bool selected;
};
std::vector<Offered> OfferedTracks(const std::vector<zvedit::PropertyInfo>& rows) {
  std::vector<Offered> out;
  for (const std::string& v : zvedit::RowValues(rows, "track")) {
    const size_t colon = v.find(':');
    out.push_back({std::stoi(v.substr(0, colon)), v.compare(colon + 1, std::string::npos, "on") == 0});
  }
  return out;
}

// Loads `path`; prints the reason and returns false when it cannot. A
// command that saves afterwards passes the lock it holds until then.
bool Load(const CommandInfo& self, const std::string& path, zv::CZvObject& project, zv::CFileLock* lock) {
  TerminalPrompt prompt(false);
  return LoadProjectFor(self.name, path, project, prompt, lock != nullptr, lock);
}

int Save(const CommandInfo& self, const std::string& path, zv::CZvObject& project) {
  std::string message;
  if (zv::SaveProjectFile(path, project, message) != zv::kOk) {
    std::fprintf(stderr, "zelvane %s: %s\n", self.name, message.c_str());
    return kExitFailed;
  }
  return kExitOk;
}

int FailIn(const CommandInfo& self, const std::string& message) {
  std::fprintf(stderr, "zelvane %s: %s\n", self.name, message.c_str());
  return kExitFailed;
}

// Parses the arguments and checks the positional count; 0 when fine,
// otherwise the usage exit code.
int ParseArgs(const CommandInfo& self, const std::vector<std::string>& argv, const std::set<std::string>& valued,
              size_t minPos, size_t maxPos, Args& args, const std::set<std::string>& flags = {}) {
  for (const auto& a : argv) {
    if (a == "--") break;
    if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
      std::string name = a.substr(0, a.find('='));
      if (!valued.count(name) && !flags.count(name)) return UsageError(self, "unknown option " + name);
    }
  }
  std::string err;
  if (!args.Parse(argv, valued, err)) return UsageError(self, err);
  if (args.Count() < minPos) return UsageError(self, "missing arguments");
  if (args.Count() > maxPos) return UsageError(self, "too many arguments");
  return 0;
}

const CommandInfo& Self(const char* name) { return *Registry::Get().Find(name); }

// ---------------------------------------------------------------------------

int RunNew(const std::vector<std::string>& argv) {
  const CommandInfo& self = Self("new");
  Args args;
  if (int rc = ParseArgs(self, argv, {}, 1, 1, args, {"--force"})) return rc;
  const std::string& path = args[0];
  zv::CFileLock lock;
  if (zv::PathExists(path)) {
    if (!args.Has("--force")) return FailIn(self, "\"" + path + "\" exists; use --force to replace it");
    // Only a project file is replaced: a named pipe or a device is not ours.
    if (!LockProject(self.name, path, lock)) return kExitFailed;
  }
  zv::CZvObject project;
  project.InitNew();
  if (int rc = Save(self, path, project)) return rc;
  std::printf("created \"%s\"\n", path.c_str());
  return kExitOk;
}

// --- show ------------------------------------------------------------------

void ShowText(zv::CZvObject& project) {
  std::printf("%s\n", project.m_strName.c_str());
  const std::string sound = RowValue(zvedit::Facts(project), "sound-file");
  std::printf("  sound file: %s\n", sound.empty() ? "none" : sound.c_str());
  for (zv::CFilmObject* film : project.Films()) {
    const auto filmFacts = zvedit::Facts(*film);
    std::printf("  %s  [%s, id %ld]\n", film->m_strName.c_str(), RowValue(filmFacts, "type").c_str(),
                RowNumber(filmFacts, "id"));
    std::printf("    %s\n", film->m_stories.m_strName.c_str());
    for (size_t i = 0; i < film->m_stories.GetCount(); ++i) {
      zv::CStoryObject* s = film->m_stories.GetAt(i);
      const auto facts = zvedit::Facts(*s);
      std::printf("      %s  [id %ld]\n", s->m_strName.c_str(), RowNumber(facts, "id"));
      for (const auto& src : RowValues(facts, "source")) std::printf("        source %s\n", src.c_str());
      const size_t tracks = s->TrackRefs().size();
      for (size_t t = 0; t < tracks; ++t) {
        const auto rows = zvedit::DescribeTrackOf(project, *s, t);
        std::printf("        Track#%zu  %s  [%s, %s, language %s, delay %ld]\n", t + 1,
                    RowValue(zvedit::TrackFacts(*s, t), "description").c_str(),
                    zvedit::RowYes(rows, "enabled") ? "enabled" : "disabled",
                    zvedit::RowYes(rows, "primary") ? "primary" : "secondary",
                    zvedit::RowValue(rows, "language").c_str(), zvedit::RowNumber(rows, "delay"));
      }
    }
    std::printf("    %s\n", film->m_menus.m_strName.c_str());
    for (size_t i = 0; i < film->m_menus.GetCount(); ++i) {
      zv::CZvIgObject* m = film->m_menus.GetAt(i);
      const auto rows = zvedit::DescribeObject(project, *m);
      const auto facts = zvedit::Facts(*m);
      const bool popup = zvedit::RowYes(rows, "popup");
      std::printf("      %s  [id %ld]  %s", m->m_strName.c_str(), RowNumber(facts, "id"), popup ? "pop-up" : "always-on");
      if (popup) std::printf(", time-out %ld s", zvedit::RowNumber(rows, "timeout"));
      std::printf(", epochs %ld%s\n", RowNumber(facts, "epochs"), zvedit::RowYes(facts, "empty") ? ", empty" : "");
      PrintMenuTree(*m, "        ");
    }
    std::printf("    %s\n", film->m_playlists.m_strName.c_str());
    for (size_t i = 0; i < film->m_playlists.GetCount(); ++i) {
      zv::CPlObject* pl = film->m_playlists.GetAt(i);
      const auto rows = zvedit::DescribeObject(project, *pl), titleFacts = zvedit::Facts(*pl);
      std::printf("      %s  [id %ld]  title: %s, play mode: %s, connection: %s, menu: %s\n", pl->m_strName.c_str(),
                  RowNumber(titleFacts, "id"), zvedit::RowValue(rows, "title").c_str(), zvedit::RowValue(rows, "mode").c_str(),
                  zv::ConnectionName(static_cast<uint8_t>(zvedit::RowNumber(rows, "connection"))),
                  zvedit::RowValue(rows, "menu").c_str());
      std::printf("        playback: %s, count %ld, random access: %s, audio mix: %s, lossless bypass: %s, "
                  "prohibited: %s\n",
                  zvedit::RowValue(rows, "playback").c_str(), zvedit::RowNumber(rows, "playback-count"),
                  zvedit::RowValue(rows, "random-access").c_str(), zvedit::RowValue(rows, "audio-mix").c_str(),
                  zvedit::RowValue(rows, "lossless-bypass").c_str(), UoText(titleFacts).c_str());
      for (size_t k = 0; k < pl->GetCount(); ++k) {
        zv::CPiObject* pi = pl->GetAt(k);
        const auto facts = zvedit::Facts(*pi);
        std::printf("        PI#%zu  story: %s, chapters: %ld", k + 1, RowValue(facts, "story").c_str(),
                    RowNumber(facts, "chapters"));
        if (!RowValue(facts, "fps").empty()) std::printf(" at %s fps", RowValue(facts, "fps").c_str());
        std::printf("\n");
        const auto rows = zvedit::DescribeObject(project, *pi);
        std::printf("          angles: %ld, still: %s, still time: %ld s, random access: %s, prohibited: %s, tracks:",
                    zvedit::RowNumber(rows, "angles"), zvedit::RowValue(rows, "still").c_str(),
                    zvedit::RowNumber(rows, "still-time"), zvedit::RowValue(rows, "random-access").c_str(),
                    UoText(facts).c_str());
        if (RowNumber(facts, "stream-selections") == 0) std::printf(" none");
        for (const Offered& o : OfferedTracks(rows)) std::printf(" %d %s", o.shown, o.selected ? "on" : "off");
        std::printf("\n");
        const std::vector<ChapterRow> chapters = ChapterRows(facts);
        for (size_t c = 0; c < chapters.size(); ++c)
          std::printf("          #%zu  %s  %s\n", c + 1, chapters[c].time.c_str(), chapters[c].name.c_str());
      }
    }
  }
}

void ShowJson(zv::CZvObject& project, const std::string& dumpPath = {}) {
  Json j;
  // `dump` wraps the tree in the frame every dump uses.
  if (!dumpPath.empty()) j.BeginObject().Key("file").Str(dumpPath).Key("type").Str("project").Key("content");
  j.BeginObject().Key("name").Str(project.m_strName).Key("soundPath").Str(RowValue(zvedit::Facts(project), "sound-file"));
  j.Key("films").BeginArray();
  for (zv::CFilmObject* film : project.Films()) {
    const auto filmFacts = zvedit::Facts(*film);
    j.BeginObject().Key("name").Str(film->m_strName).Key("id").Int(RowNumber(filmFacts, "id"));
    j.Key("type").Int(RowNumber(filmFacts, "type-code")).Key("typeName").Str(RowValue(filmFacts, "type"));
    j.Key("stories").BeginArray();
    for (size_t i = 0; i < film->m_stories.GetCount(); ++i) {
      zv::CStoryObject* s = film->m_stories.GetAt(i);
      const auto facts = zvedit::Facts(*s);
      j.BeginObject().Key("name").Str(s->m_strName).Key("id").Int(RowNumber(facts, "id")).Key("sources").BeginArray();
      for (const auto& src : RowValues(facts, "source")) j.Str(src);
      j.EndArray().Key("tracks").BeginArray();
      const size_t tracks = s->TrackRefs().size();
      for (size_t k = 0; k < tracks; ++k) {
        const auto rows = zvedit::DescribeTrackOf(project, *s, k), facts = zvedit::TrackFacts(*s, k);
        j.BeginObject().Key("number").Int(RowNumber(facts, "number")).Key("description").Str(RowValue(facts, "description"))
            .Key("path").Str(RowValue(facts, "path")).Key("codingType").Int(RowNumber(facts, "coding-type"))
            .Key("enabled").Bool(zvedit::RowYes(rows, "enabled"))
            .Key("primary").Bool(zvedit::RowYes(rows, "primary")).Key("language").Str(zvedit::RowValue(rows, "language"))
            .Key("delay").Int(zvedit::RowNumber(rows, "delay"));
        // A reused track names its stream in the existing clip.
        if (!RowValue(facts, "source-pid").empty()) j.Key("sourcePid").Int(RowNumber(facts, "source-pid"));
        j.EndObject();
      }
      j.EndArray().EndObject();
    }
    j.EndArray().Key("menus").BeginArray();
    for (size_t i = 0; i < film->m_menus.GetCount(); ++i) {
      zv::CZvIgObject* m = film->m_menus.GetAt(i);
      // The setting is offered for pop-ups only; JSON has the stored time-out always.
      const auto facts = zvedit::Facts(*m);
      j.BeginObject().Key("name").Str(m->m_strName).Key("id").Int(RowNumber(facts, "id"))
          .Key("popup").Bool(zvedit::RowYes(zvedit::DescribeObject(project, *m), "popup"));
      j.Key("userTimeout").Int(RowNumber(facts, "user-timeout")).Key("epochs").Int(RowNumber(facts, "epochs"));
      j.Key("empty").Bool(zvedit::RowYes(facts, "empty")).Key("epochList");
      MenuTreeJson(*m, j);
      j.EndObject();
    }
    j.EndArray().Key("playlists").BeginArray();
    for (size_t i = 0; i < film->m_playlists.GetCount(); ++i) {
      zv::CPlObject* pl = film->m_playlists.GetAt(i);
      const auto rows = zvedit::DescribeObject(project, *pl), titleFacts = zvedit::Facts(*pl);
      j.BeginObject().Key("name").Str(pl->m_strName).Key("id").Int(RowNumber(titleFacts, "id"))
          .Key("hasTitle").Bool(zvedit::RowYes(rows, "title"));
      j.Key("playMode").Str(zvedit::RowValue(rows, "mode")).Key("connection").Int(zvedit::RowNumber(rows, "connection"));
      j.Key("menu");
      RefJson(j, zvedit::RowValue(rows, "menu"));
      j.Key("playbackType").Str(zvedit::RowValue(rows, "playback")).Key("playbackCount").Int(zvedit::RowNumber(rows, "playback-count"));
      j.Key("randomAccess").Bool(zvedit::RowYes(rows, "random-access")).Key("audioMix").Bool(zvedit::RowYes(rows, "audio-mix"));
      j.Key("losslessBypass").Bool(zvedit::RowYes(rows, "lossless-bypass"));
      UoJson(j, titleFacts);
      j.Key("items").BeginArray();
      for (size_t k = 0; k < pl->GetCount(); ++k) {
        zv::CPiObject* pi = pl->GetAt(k);
        const auto facts = zvedit::Facts(*pi);
        j.BeginObject().Key("name").Str("PI#" + std::to_string(k + 1)).Key("story");
        RefJson(j, RowValue(facts, "story"));
        const auto rows = zvedit::DescribeObject(project, *pi);
        j.Key("angles").Int(zvedit::RowNumber(rows, "angles")).Key("still").Str(zvedit::RowValue(rows, "still"));
        j.Key("stillTime").Int(zvedit::RowNumber(rows, "still-time")).Key("randomAccess").Bool(zvedit::RowYes(rows, "random-access"));
        UoJson(j, facts);
        j.Key("tracks").BeginArray();
        for (const Offered& o : OfferedTracks(rows))
          j.BeginObject().Key("track").Int(o.shown).Key("selected").Bool(o.selected).EndObject();
        j.EndArray();
        j.Key("fpsCode").Int(RowNumber(facts, "fps-code")).Key("chapters").BeginArray();
        for (const ChapterRow& c : ChapterRows(facts))
          j.BeginObject().Key("name").Str(c.name).Key("type").Int(c.type).Key("frames").Int(c.frames)
              .Key("timecode").Str(c.time).EndObject();
        j.EndArray().EndObject();
      }
      j.EndArray().EndObject();
    }
    j.EndArray().EndObject();
  }
  j.EndArray().EndObject();
  if (!dumpPath.empty()) j.EndObject();
  std::printf("%s\n", j.Text().c_str());
}

int RunShow(const std::vector<std::string>& argv) {
  const CommandInfo& self = Self("show");
  Args args;
  if (int rc = ParseArgs(self, argv, {}, 1, 1, args, {"--json"})) return rc;
  zv::CZvObject project;
  if (!Load(self, args[0], project, nullptr)) return kExitFailed;
  if (args.Has("--json")) ShowJson(project);
  else ShowText(project);
  return kExitOk;
}

// `zelvane dump P.zvpj` shows the project tree, the same as `show`.
bool MatchProject(const std::string& path, const std::vector<uint8_t>& head) {
  if (head.size() >= 4) {
    const uint32_t magic = head[0] | (head[1] << 8) | (head[2] << 16) | (static_cast<uint32_t>(head[3]) << 24);
    if (magic == zv::kProjectMagic) return true;
  }
  return zv::EqualsNoCase(zv::ExtensionOf(path), ".zvpj");
}

int DumpProject(const std::string& path, bool json) {
  zv::CZvObject project;
  if (!Load(*Registry::Get().Find("dump"), path, project, nullptr)) return kExitFailed;
  if (json) ShowJson(project, path);
  else ShowText(project);
  return kExitOk;
}

// --- add -------------------------------------------------------------------

int RunMovieAdd(const std::vector<std::string>& argv) {
  const CommandInfo& self = Self("movie add");
  Args args;
  if (int rc = ParseArgs(self, argv, {}, 1, 1, args)) return rc;
  zv::CFileLock lock;
  zv::CZvObject project;
  if (!Load(self, args[0], project, &lock)) return kExitFailed;
  zv::CFilmObject* movie = zvedit::AddMovie(project);
  if (int rc = Save(self, args[0], project)) return rc;
  std::printf("%s\n", movie->m_strName.c_str());
  return kExitOk;
}

// Loads the project and finds FILM; the shared start of the add commands.
zv::CFilmObject* LoadFilm(const CommandInfo& self, const Args& args, zv::CZvObject& project, zv::CFileLock& lock,
                          int& rc) {
  rc = kExitFailed;
  if (!Load(self, args[0], project, &lock)) return nullptr;
  std::string error;
  zv::CNamedObject* obj = zv::FindObject(project, args[1], error);
  if (!obj) {
    FailIn(self, error);
    return nullptr;
  }
  auto* film = dynamic_cast<zv::CFilmObject*>(obj);
  if (!film) FailIn(self, "\"" + args[1] + "\" is not a film");
  return film;
}

int RunChildAdd(const char* name, const std::vector<std::string>& argv) {
  const CommandInfo& self = Self(name);
  Args args;
  if (int rc = ParseArgs(self, argv, {}, 2, 2, args)) return rc;
  zv::CFileLock lock;
  zv::CZvObject project;
  int rc;
  zv::CFilmObject* film = LoadFilm(self, args, project, lock, rc);
  if (!film) return rc;
  std::string made;
  std::string what = name;
  if (what == "title add") made = zvedit::AddTitle(*film)->m_strName;
  else if (what == "clip add") made = zvedit::AddClip(*film)->m_strName;
  else made = zvedit::AddMenu(*film)->m_strName;
  if ((rc = Save(self, args[0], project))) return rc;
  std::printf("%s/%s\n", film->m_strName.c_str(), made.c_str());
  return kExitOk;
}

// A title may play a clip more than once (a repeated logo, say), so the
// item is appended even when the clip is already played.
int RunItemAdd(const std::vector<std::string>& argv) {
  const CommandInfo& self = Self("item add");
  Args args;
  if (int rc = ParseArgs(self, argv, {}, 3, 3, args)) return rc;
  zv::CFileLock lock;
  zv::CZvObject project;
  if (!Load(self, args[0], project, &lock)) return kExitFailed;
  std::string error;
  zv::CNamedObject* obj = zv::FindObject(project, args[1], error);
  if (!obj) return FailIn(self, error);
  auto* pl = dynamic_cast<zv::CPlObject*>(obj);
  if (!pl) return FailIn(self, "\"" + args[1] + "\" is not a title (for example \"Trailers/Title#1\")");
  zv::CFilmObject* film = zv::FilmOf(pl);
  if (!zvedit::AddPlayItem(project, *pl, args[2], error)) return FailIn(self, error);
  if (int rc = Save(self, args[0], project)) return rc;
  std::printf("%s/%s/PI#%zu\n", film->m_strName.c_str(), pl->m_strName.c_str(), pl->GetCount());
  return kExitOk;
}

int RunTitleAdd(const std::vector<std::string>& argv) { return RunChildAdd("title add", argv); }
int RunClipAdd(const std::vector<std::string>& argv) { return RunChildAdd("clip add", argv); }
int RunIgAdd(const std::vector<std::string>& argv) { return RunChildAdd("ig add", argv); }

// --- delete ----------------------------------------------------------------

int RunDelete(const std::vector<std::string>& argv) {
  const CommandInfo& self = Self("delete");
  Args args;
  if (int rc = ParseArgs(self, argv, {}, 2, 2, args)) return rc;
  zv::CFileLock lock;
  zv::CZvObject project;
  if (!Load(self, args[0], project, &lock)) return kExitFailed;
  std::string error;
  zv::CNamedObject* obj = zv::FindObject(project, args[1], error);
  if (!obj) return FailIn(self, error);
  if (!zvedit::Delete(project, obj, args[1], error)) return FailIn(self, error);
  if (int rc = Save(self, args[0], project)) return rc;
  std::printf("deleted \"%s\"\n", args[1].c_str());
  return kExitOk;
}

// --- chapters --------------------------------------------------------------


// "5:00", "1:30:00" or "5" (minutes), above zero.
bool ParseInterval(const std::string& text, int64_t& ms) {
  int64_t parts[3] = {0, 0, 0};
  int n = 0;
  size_t i = 0;
  while (n < 3) {
    const size_t start = i;
    int64_t v = 0;
    while (i < text.size() && i - start < 6 && std::isdigit(static_cast<unsigned char>(text[i]))) v = v * 10 + (text[i++] - '0');
    if (i == start) return false;
    parts[n++] = v;
    if (i == text.size()) break;
    if (text[i++] != ':') return false;
  }
  if (i != text.size()) return false;
  if (n == 1) ms = parts[0] * 60000;
  else if (n == 2) ms = (parts[0] * 60 + parts[1]) * 1000;
  else ms = ((parts[0] * 60 + parts[1]) * 60 + parts[2]) * 1000;
  if (n >= 2 && parts[n - 1] > 59) return false;
  if (n == 3 && parts[1] > 59) return false;
  return ms > 0;
}

int RunChapters(const std::vector<std::string>& argv) {
  const CommandInfo& self = Self("chapters");
  Args args;
  if (int rc = ParseArgs(self, argv, {"--fps", "--every"}, 3, 5, args)) return rc;
  const std::string& action = args[2];
  const bool every = !args.Values("--every").empty();
  if (every && action != "import") return UsageError(self, "--every goes with import");
  int64_t everyMs = 0;
  if (every && !ParseInterval(args.Value("--every"), everyMs))
    return RefuseValue(self, "--every takes minutes and seconds (5:00), hours too (1:00:00), or minutes alone (5)");
  size_t want = action == "import" ? (every ? 3 : 4) : action == "add" ? 4 : action == "list" ? 3 : action == "remove" ? 4 : 0;
  if (want == 0) return UsageError(self, "unknown action \"" + action + "\"");
  if (args.Count() < want || args.Count() > (action == "add" ? 5u : want))
    return UsageError(self, "wrong number of arguments for \"" + action + "\"");
  int fpsArg = 0;
  if (!args.Values("--fps").empty()) {
    std::string v = args.Value("--fps");
    char* end = nullptr;
    long code = std::strtol(v.c_str(), &end, 10);
    if (v.empty() || *end || !zv::IsValidFpsCode(static_cast<int>(code)) || zv::FpsOfCode(static_cast<int>(code)) <= 0)
      return RefuseValue(self, "--fps takes a frame-rate code 1 to 7 (1 23.976, 2 24, 3 25, 4 29.97, 6 50, 7 59.94)");
    fpsArg = static_cast<int>(code);
  }
  long removeIndex = 0;
  if (action == "remove") {
    char* end = nullptr;
    removeIndex = std::strtol(args[3].c_str(), &end, 10);
    if (args[3].empty() || *end || removeIndex < 1) return RefuseValue(self, "N is a chapter number from 1");
  }
  if (action == "add" && args[3] != "end" && !zvedit::IsTimecode(args[3]))
    return RefuseValue(self, "\"" + args[3] + "\" is not a timecode (hh:mm:ss:ff or hh:mm:ss.mmm) or \"end\"");

  zv::CFileLock lock;
  zv::CZvObject project;
  if (!Load(self, args[0], project, action != "list" ? &lock : nullptr)) return kExitFailed;
  std::string error;
  zv::CNamedObject* obj = zv::FindObject(project, args[1], error);
  if (!obj) return FailIn(self, error);
  auto* item = dynamic_cast<zv::CPiObject*>(obj);
  if (!item) return FailIn(self, "\"" + args[1] + "\" is not a play item (for example \"Movie#1/Title#1/PI#1\")");
  zv::CChapters& chapters = item->m_chapters;

  if (action == "list") {
    for (size_t i = 0; i < chapters.m_points.size(); ++i)
      std::printf("%zu\t%s\t%s\n", i + 1, ChapterTime(chapters.m_points[i], chapters.m_nFpsCode).c_str(),
                  chapters.m_points[i].name.c_str());
    return kExitOk;
  }
  if (action == "remove") {
    if (!zvedit::RemoveChapter(*item, static_cast<size_t>(removeIndex), args[1], error)) return FailIn(self, error);
    return Save(self, args[0], project);
  }

  int code = 0;
  if (!zvedit::ChapterRateFor(*item, fpsArg, args[1], code, error))
    return FailIn(self, error == zv::kMsgAddVideoFirst ? error + "(or give --fps CODE)" : error);

  if (action == "import") {
    if (!(every ? zvedit::ChaptersEvery(*item, code, everyMs, error) : zvedit::ImportChapters(*item, code, args[3], error)))
      return FailIn(self, error);
    if (int rc = Save(self, args[0], project)) return rc;
    std::printf("imported %zu chapters\n", chapters.m_points.size());
    return kExitOk;
  }
  // add
  const size_t number = zvedit::AddChapter(*item, code, args[3], args.Count() == 5 ? args[4] : std::string(), error);
  if (number == 0) return FailIn(self, error);
  const zv::CChapterPoint& p = chapters.m_points[number - 1];
  if (int rc = Save(self, args[0], project)) return rc;
  std::printf("%zu\t%s\t%s\n", number, ChapterTime(p, static_cast<uint8_t>(code)).c_str(), p.name.c_str());
  return kExitOk;
}

}  // namespace

ZV_COMMAND("new", "create a new default project (logos, top menu, one movie, trailers)",
           "zelvane new P.zvpj [--force]\n  --force  replace an existing file", "zelvane new disc.zvpj", RunNew);
ZV_COMMAND("show", "print the project tree: films, stories, menus, titles, play items and chapters",
           "zelvane show P.zvpj [--json]\n  --json  print a JSON document instead of text", "zelvane show disc.zvpj",
           RunShow);
ZV_COMMAND("movie add", "add a movie with its default clip, pop-up menu and title", "zelvane movie add P.zvpj",
           "zelvane movie add disc.zvpj", RunMovieAdd);
ZV_COMMAND("title add", "add a title to a film, playing every clip of the film",
           "zelvane title add P.zvpj FILM\n  FILM  a film by name: \"Logos\", \"Top Menu\", \"Movie#1\", \"Trailers\"",
           "zelvane title add disc.zvpj Movie#1", RunTitleAdd);
ZV_COMMAND("clip add", "add an empty clip (story) to a film",
           "zelvane clip add P.zvpj FILM\n  FILM  a film by name: \"Logos\", \"Top Menu\", \"Movie#1\", \"Trailers\"",
           "zelvane clip add disc.zvpj Movie#1", RunClipAdd);
ZV_COMMAND("ig add", "add a menu (interactive graphics) to a film",
           "zelvane ig add P.zvpj FILM\n  FILM  a film by name: \"Logos\", \"Top Menu\", \"Movie#1\", \"Trailers\"",
           "zelvane ig add disc.zvpj \"Top Menu\"", RunIgAdd);
ZV_COMMAND("item add", "add a play item to a title, playing one clip of the title's film",
           "zelvane item add P.zvpj TITLE CLIP\n"
           "  TITLE  a title, e.g. \"Trailers/Title#1\"\n"
           "  CLIP   a clip of the same film, e.g. \"Clip#2\"; it becomes the title's last play item",
           "zelvane item add disc.zvpj Trailers/Title#1 Clip#1", RunItemAdd);
ZV_COMMAND("delete", "delete a movie, clip, menu, menu page, BOG, button, title or play item",
           "zelvane delete P.zvpj OBJECT\n  OBJECT  a name in the tree, e.g. \"Movie#2\", \"Movie#1/Clip#2\", "
           "\"Movie#1/Title#1/PI#2\"\n  deleting a clip also deletes the play items that play it",
           "zelvane delete disc.zvpj Movie#1/IG#1", RunDelete);
ZV_COMMAND("chapters", "list, add, remove or import the chapters of a play item",
           "zelvane chapters P.zvpj ITEM ACTION [--fps CODE]\n"
           "  ITEM     a play item, e.g. \"Movie#1/Title#1/PI#1\"\n"
           "  ACTION   list | add TIMECODE [NAME] | remove N | import FILE | import --every INTERVAL\n"
           "  TIMECODE hh:mm:ss:ff, hh:mm:ss.mmm or \"end\"\n"
           "  FILE     a .csv chapter file (with frame rate and drop-frame header), a text file of timecodes\n"
           "           (a name may follow each, the rest of its line), the CHAPTER01=/CHAPTER01NAME= file of\n"
           "           mkvextract and OGM tools, Matroska chapter XML, or an ffmpeg metadata file ([CHAPTER])\n"
           "  --every  a chapter at the start and every INTERVAL after it (5:00, 1:00:00, or minutes: 5)\n"
           "  --fps    frame-rate code of the item's video: 1 23.976, 2 24, 3 25, 4 29.97, 6 50, 7 59.94",
           "zelvane chapters disc.zvpj Movie#1/Title#1/PI#1 add 00:05:00:00 Scene2 --fps 3", RunChapters);

// The magic 0x5A56504A, little-endian.
ZV_DUMPER("project", MatchProject, DumpProject, "JPVZ");

}  // namespace zvapp
