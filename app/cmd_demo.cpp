// `zelvane demo [OUTFOLDER]`: authors the bundled sample disc with the
// library, the way a user would with the commands: a logo played first, a
// top menu over a still background, a movie with chapters, two audio
// languages and a pop-up menu, and a trailer.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "app/command.h"
#include "app/demo_menus.h"
#include "app/terminal.h"
#include "chapters/chapters.h"
#include "model/build.h"
#include "model/project.h"
#include "mux/mux_track.h"
#include "platform/paths.h"

namespace zvapp {

namespace {

namespace fs = std::filesystem;

int RunDemo(const std::vector<std::string>& argv);

ZV_COMMAND("demo", "build the bundled sample disc (logo, top menu, a movie with chapters, two languages and a pop-up menu, a trailer)",
           "zelvane demo [OUTFOLDER] [--media DIR] [--yes]\n"
           "  OUTFOLDER  where the demo goes (default ./demo-disc): the media are copied to OUTFOLDER/media,\n"
           "             the project is OUTFOLDER/demo.zvpj and the disc OUTFOLDER/Zelvane/DISC\n"
           "  --media    the folder of the demo media (default: demo/media of the Zelvane sources)\n"
           "  --yes      rebuild over an earlier demo without asking; Ctrl-C cancels at once\n"
           "exit status: 0 built, 1 cancelled, 2 failed",
           "zelvane demo /tmp/demo-disc", RunDemo);

const char* const kMediaFiles[] = {"logo.264",  "logo_audio.ac3",      "movie.264",   "movie_audio_eng.ac3",
                                   "movie_audio_fra.ac3", "chapters.csv", "trailer.264", "trailer_audio.ac3",
                                   "menu_bg.264"};
// The button pictures of the menus, in the "menu" folder of the media.
const char* const kMenuPictures[] = {"play", "chapters", "audio", "trailer", "back", "chapter1", "chapter2",
                                     "chapter3", "chapter4", "english", "english_on", "french", "french_on"};

std::vector<std::string> MediaNames() {
  std::vector<std::string> out(std::begin(kMediaFiles), std::end(kMediaFiles));
  out.push_back("menu/select.wav");
  out.push_back("menu/activate.wav");
  out.push_back("menu/popup.psd");  // the pop-up menu's layered design
  for (const char* b : kMenuPictures)
    for (const char* s : {"_n.png", "_s.png", "_a.png"}) out.push_back(std::string("menu/") + b + s);
  return out;
}

int Failed(const std::string& message) {
  std::fprintf(stderr, "zelvane demo: %s\n", message.c_str());
  return kExitFailed;
}

bool HasMedia(const fs::path& dir) {
  for (const std::string& name : MediaNames())
    if (zv::FileSize((dir / name).string()) < 0) return false;
  return true;
}

// The media travel with the sources: next to a build folder of the
// repository (build/zelvane -> ../demo/media), or where this file was
// compiled from.
std::vector<fs::path> MediaCandidates() {
  std::vector<fs::path> out;
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    out.push_back(exe.parent_path().parent_path() / "demo" / "media");
    out.push_back(exe.parent_path() / "demo" / "media");
  }
  const fs::path source(__FILE__);
  if (source.is_absolute()) out.push_back(source.parent_path().parent_path() / "demo" / "media");
  return out;
}

// Copies the media beside the project: analysis writes its stream-information
// files next to each stream, and the source folder stays untouched.
bool CopyMedia(const fs::path& from, const fs::path& to, std::string& error) {
  std::error_code ec;
  fs::create_directories(to / "menu", ec);
  if (ec) return error = "Cannot create \"" + (to / "menu").string() + "\": " + ec.message(), false;
  for (const std::string& name : MediaNames()) {
    const fs::path src = from / name, dst = to / name;
    if (zv::FileSize(dst.string()) == zv::FileSize(src.string())) continue;
    fs::copy_file(src, dst, fs::copy_options::overwrite_existing, ec);
    if (ec) return error = "Cannot copy \"" + src.string() + "\" to \"" + dst.string() + "\": " + ec.message(), false;
  }
  return true;
}

int AddSources(zv::CFilmObject& film, zv::CStoryObject& story, const fs::path& media,
               const std::vector<std::string>& names, ProgressDisplay& display, zv::IPrompt& prompt) {
  for (const std::string& name : names) {
    const int rc = story.AddSource((media / name).string(), true, display.Callback(), prompt);
    if (rc == zv::kCancelled) return kExitCancelled;
    if (rc != zv::kOk) return Failed("\"" + (media / name).string() + "\" was not added to \"" + film.m_strName + "/" +
                                     story.m_strName + "\"");
  }
  zv::RelinkPlayItems(film, story);
  return kExitOk;
}

// The two audio languages of the movie; French under the code the language
// table knows.
int SetMovieLanguages(zv::CStoryObject& story) {
  const std::string french = zv::LanguageIndexOf("fra") >= 0 ? "fra" : "fre";
  const std::pair<size_t, std::string> languages[] = {{1, "eng"}, {2, french}};
  for (const auto& [index, code] : languages) {
    zv::STrackSettings s;
    s.language = code;
    std::string error;
    if (!story.ChangeTrack(index, s, error)) return Failed(error);
  }
  return kExitOk;
}

std::string ClipText(const zv::CStoryObject& story) {
  std::string out;
  for (const zv::STrackRef& t : story.TrackRefs()) {
    if (!t.enabled) continue;
    out += (out.empty() ? "" : ", ") + zv::FileNameOf(t.path);
    if (!t.video) out += " " + t.language;
  }
  return out;
}

std::string Number(int32_t n) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%05d", n);
  return buf;
}

// What the build made of each title: playlist files, titles, clips and
// chapters, numbered as on the disc.
void PrintSummary(zv::CZvObject& project, const std::string& disc, const std::string& projectPath) {
  std::printf("demo disc: %s\nproject:   %s\n", disc.c_str(), projectPath.c_str());
  for (zv::CFilmObject* film : project.Films()) {
    for (size_t i = 0; i < film->m_playlists.GetCount(); ++i) {
      zv::CPlObject* pl = film->m_playlists.GetAt(i);
      if (pl->m_nPlaylistNumber < 0) continue;
      // Each playlist file lists the items it plays: all of them (PlayAll),
      // one each (Separate), or both, the combined one first.
      std::vector<std::vector<zv::CPiObject*>> files;
      if (pl->m_nPlayMode != zv::kSeparate) {
        files.emplace_back();
        for (size_t k = 0; k < pl->GetCount(); ++k) files.back().push_back(pl->GetAt(k));
      }
      if (pl->m_nPlayMode != zv::kPlayAll)
        for (size_t k = 0; k < pl->GetCount(); ++k) files.push_back({pl->GetAt(k)});
      for (size_t f = 0; f < files.size(); ++f) {
        std::string what = pl->m_bHasTitle ? "title " + std::to_string(pl->m_nTitleNumber + static_cast<int>(f))
                           : film->m_nFilmType == zv::kFilmLogos ? std::string("first play")
                                                                 : std::string("playlist");
        std::printf("%-11s %s/%s  playlist %s.mpls\n", what.c_str(), film->m_strName.c_str(), pl->m_strName.c_str(),
                    Number(pl->m_nPlaylistNumber + static_cast<int>(f)).c_str());
        for (zv::CPiObject* pi : files[f]) {
          if (!pi->m_pStory) continue;
          std::printf("              clip %s.m2ts: %s\n", Number(pi->m_pStory->m_nClipNumber).c_str(),
                      ClipText(*pi->m_pStory).c_str());
          const zv::CChapters& ch = pi->m_chapters;
          for (size_t c = 0; c < ch.m_points.size() && zv::IsValidFpsCode(ch.m_nFpsCode); ++c) {
            const int32_t t = ch.m_points[c].time;
            const std::string tc = t == -1 ? "end" : zv::FormatTimecode(t, zv::FpsOfCode(ch.m_nFpsCode));
            std::printf("              chapter %zu  %s  %s\n", c + 1, tc.c_str(), ch.m_points[c].name.c_str());
          }
        }
      }
    }
  }
}

int RunDemo(const std::vector<std::string>& argv) {
  const CommandInfo& self = *Registry::Get().Find("demo");
  for (const auto& a : argv) {
    if (a == "--") break;
    const std::string name = a.substr(0, a.find('='));
    if (a.size() > 1 && a[0] == '-' && name != "--yes" && name != "--media")
      return UsageError(self, "unknown option " + name);
  }
  Args args;
  std::string err;
  if (!args.Parse(argv, {"--media"}, err)) return UsageError(self, err);
  if (args.Count() > 1) return UsageError(self, "expected at most one OUTFOLDER");
  const bool yes = args.Has("--yes");

  fs::path media;
  if (args.Values("--media").empty()) {
    std::string looked;
    for (const fs::path& c : MediaCandidates()) {
      if (HasMedia(c)) {
        media = c.lexically_normal();
        break;
      }
      looked += (looked.empty() ? "" : ", ") + c.lexically_normal().string();
    }
    if (media.empty())
      return Failed("the demo media were not found (looked in " + looked + "); give their folder with --media DIR");
  } else {
    media = args.Value("--media");
    if (!HasMedia(media)) {
      std::string names;
      for (const char* n : kMediaFiles) names += std::string(names.empty() ? "" : ", ") + n;
      names += ", menu/*.png, menu/popup.psd";
      return Failed("\"" + media.string() + "\" does not hold the demo media (" + names + ")");
    }
  }

  std::error_code ec;
  const fs::path out = fs::absolute(args.Count() ? args[0] : "demo-disc", ec).lexically_normal();
  if (ec) return Failed("\"" + (args.Count() ? args[0] : std::string("demo-disc")) + "\": " + ec.message());
  fs::create_directories(out, ec);
  if (ec) return Failed("Cannot create \"" + out.string() + "\": " + ec.message());
  const fs::path local = out / "media";
  std::string error;
  if (!CopyMedia(media, local, error)) return Failed(error);

  TerminalPrompt prompt(yes);
  zv::CZvObject project;
  project.InitNew();
  {
    ProgressDisplay display(prompt, yes, "Really want to stop the analysis? ");
    display.SetThroughput(ProgressDisplay::Throughput::kItemIsInput);
    zv::CFilmObject& logos = project.m_logos;
    zv::CFilmObject& movie = *project.m_movies.GetAt(0);
    zv::CFilmObject& trailers = project.m_trailers;
    if (int rc = AddSources(logos, *logos.m_stories.GetAt(0), local, {"logo.264", "logo_audio.ac3"}, display, prompt))
      return rc;
    zv::CFilmObject& top = project.m_topMenu;
    if (int rc = AddSources(top, *top.m_stories.GetAt(0), local, {"menu_bg.264"}, display, prompt)) return rc;
    // The menu stays up: the background holds its last picture.
    top.m_playlists.GetAt(0)->GetAt(0)->m_nStillMode = 2;
    zv::CStoryObject& feature = *movie.m_stories.GetAt(0);
    if (int rc = AddSources(movie, feature, local, {"movie.264", "movie_audio_eng.ac3", "movie_audio_fra.ac3"},
                            display, prompt))
      return rc;
    if (int rc = SetMovieLanguages(feature)) return rc;
    zv::CPiObject& item = *movie.m_playlists.GetAt(0)->GetAt(0);
    if (zv::ImportChapterFile(item.m_chapters, true, item.m_nVideoFpsCode, (local / "chapters.csv").string(), error) !=
        zv::ImportResult::kImported)
      return Failed(error.empty() ? "\"chapters.csv\" holds no chapter points" : error);
    zv::CStoryObject& trailer = *trailers.m_stories.CreateChild();
    if (int rc = AddSources(trailers, trailer, local, {"trailer.264", "trailer_audio.ac3"}, display, prompt)) return rc;
    zv::AddStoriesToPlaylist(*trailers.m_playlists.GetAt(0), trailers.m_stories);
    std::string warning;
    const bool menus = AddDemoMenus(project, local / "menu", error, warning);
    if (!warning.empty()) std::fprintf(stderr, "zelvane demo: %s\n", warning.c_str());
    if (!menus) return Failed(error);
    if (!AddDemoSounds(project, local, prompt, error)) return Failed(error);
  }
  const std::string projectPath = (out / "demo.zvpj").string();
  if (zv::SaveProjectFile(projectPath, project, error) != zv::kOk) return Failed(error);

  TerminalTaskDialog dialog(prompt, yes);
  switch (zv::BuildProject(project, out.string(), prompt, dialog, nullptr)) {
    case zv::kOk: break;
    case zv::kCancelled: return kExitCancelled;
    default: return kExitFailed;
  }
  PrintSummary(project, (fs::path(zv::OutputRoot(out.string())) / "DISC").lexically_normal().string(), projectPath);
  return kExitOk;
}

}  // namespace

}  // namespace zvapp
