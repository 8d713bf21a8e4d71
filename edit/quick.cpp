#include "edit/quick.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "edit/chapter_import.h"
#include "edit/commands.h"
#include "edit/generated_pictures.h"
#include "edit/menu_generate.h"
#include "edit/menu_template.h"
#include "edit/properties.h"
#include "edit/source_container.h"
#include "edit/sources.h"
#include "media/container.h"
#include "model/playlist.h"
#include "model/story.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "transcode/video_encode.h"

namespace zvedit {

namespace {

// The file's name without its folder and last extension.
std::string StemOf(const std::string& file) {
  std::string name = zv::FileNameOf(file);
  const std::string ext = zv::ExtensionOf(name);
  return name.substr(0, name.size() - ext.size());
}

// The rates a disc's video has, in frames a second.
bool IsDiscRate(double fps) {
  static const double kRates[] = {24000.0 / 1001, 24, 25, 30000.0 / 1001, 50, 60000.0 / 1001};
  for (double r : kRates)
    if (std::fabs(fps - r) < 0.005) return true;
  return false;
}

// A display that keeps the messages of a try, to pass on or drop once it is
// known whether the try stands. Progress and listings go through at once.
class HeldDisplay : public ISourceDisplay {
 public:
  explicit HeldDisplay(ISourceDisplay& out) : out_(out) {}
  zv::Progress Callback() override { return out_.Callback(); }
  void SetFrames(int64_t frames) override { out_.SetFrames(frames); }
  void Finish() override { out_.Finish(); }
  void Message(const std::string& text) override { held.push_back(text); }
  void Listing(const std::string& line) override { out_.Listing(line); }
  void Release() {
    for (const std::string& m : held) out_.Message(m);
    held.clear();
  }
  std::vector<std::string> held;

 private:
  ISourceDisplay& out_;
};

// The same for the analysis' own messages; questions are asked at once.
class HeldPrompt : public zv::IPrompt {
 public:
  explicit HeldPrompt(zv::IPrompt& out) : out_(out) {}
  void Message(const std::string& text) override { held.push_back(text); }
  zv::Answer Ask(const std::string& text) override { return out_.Ask(text); }
  void Release() {
    for (const std::string& m : held) out_.Message(m);
    held.clear();
  }
  std::vector<std::string> held;

 private:
  zv::IPrompt& out_;
};

bool HasVideoTrack(const zv::CStoryObject& story) {
  for (const zv::STrackRef& t : story.TrackRefs())
    if (t.video) return true;
  return false;
}

// Takes back what a refused try added to a story that was empty before it.
void EmptyStory(zv::CStoryObject& story, int32_t nextTrackId) {
  while (!story.m_vecSources.empty()) story.RemoveSource(story.m_vecSources.size() - 1);
  story.m_textStyles.clear();
  story.m_nNextTrackId = nextTrackId;
}

// The analysis' reason, as one line: the last line of its messages that
// is not the path it names.
std::string ReasonOf(const std::vector<std::string>& messages) {
  for (size_t i = messages.size(); i-- > 0;) {
    const std::string& m = messages[i];
    size_t end = m.size();
    while (end > 0) {
      const size_t start = m.rfind('\n', end - 1);
      const size_t from = start == std::string::npos ? 0 : start + 1;
      std::string line = m.substr(from, end - from);
      while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.pop_back();
      if (!line.empty() && line.front() != '/') return line;
      if (start == std::string::npos) break;
      end = start;
    }
  }
  return "its video was refused";
}

// Chapters every five minutes on each play item of `film` playing `story`.
int ChaptersEveryFiveMinutes(zv::CFilmObject& film, zv::CStoryObject& story, const std::string& file,
                             ISourceDisplay& display) {
  for (size_t i = 0; i < film.m_playlists.GetCount(); ++i) {
    zv::CPlObject* pl = film.m_playlists.GetAt(i);
    for (size_t k = 0; k < pl->GetCount(); ++k) {
      zv::CPiObject* item = pl->GetAt(k);
      if (item->m_pStory != &story) continue;
      int code = 0;
      std::string error;
      if (!ChapterRateFor(*item, 0, file, code, error) ||
          !ChaptersEvery(*item, code, kQuickChapterEveryMs, error))
        return Fail(display, "\"" + file + "\": no chapters: " + error);
    }
  }
  display.Listing("\"" + file + "\" has no chapters: one every 5 minutes");
  return zv::kOk;
}

// One movie file with its subtitles into the film's first clip.
int AddMovieFile(zv::CFilmObject& film, const std::string& file, const std::vector<std::string>& subtitles,
                 ISourceDisplay& display, zv::IPrompt& prompt) {
  zv::CStoryObject* story = film.m_stories.GetAt(0);
  if (!story) story = AddClip(film);
  const std::string clipName = film.m_strName + "/" + story->m_strName;

  SAddSources request;
  request.clipName = clipName;
  request.files.push_back(file);
  request.files.insert(request.files.end(), subtitles.begin(), subtitles.end());
  // Only the container's tracks the disc cannot carry are converted.
  if (IsContainerSource(file)) request.convertAudio = "ac3";
  bool fileChapters = false;
  std::vector<std::string> converted;
  std::string leftOut;  // what an encode does not take along
  if (IsContainerSource(file)) {
    zv::SContainerInfo info;
    std::string error;
    if (zv::ProbeContainer(zv::AbsolutePath(file), info, error) != zv::kOk) return Fail(display, error);
    fileChapters = !info.chapters.empty();
    for (const zv::SContainerTrack& t : info.tracks)
      if (t.verdict.need == zv::TrackNeed::kConvertAudio)
        converted.push_back("\"" + file + "\" track " + std::to_string(t.index) + " (" + t.codec +
                            ") is converted to AC-3: the disc does not carry it as it is");
    int audio = 0, subtitle = 0;
    for (const zv::SContainerTrack& t : info.tracks) {
      audio += t.kind == "audio";
      subtitle += t.kind == "subtitle";
    }
    if (audio > 1 || subtitle > 0) leftOut = "its other audio and its subtitle tracks are left out";
  }
  request.chapters = fileChapters;

  std::string why = VideoNeedsEncode(file);
  if (why.empty()) {
    // As it is, when the analysis takes it; a video it refuses is encoded.
    const int32_t nextTrackId = story->m_nNextTrackId;
    HeldDisplay heldDisplay(display);
    HeldPrompt heldPrompt(prompt);
    const int rc = AddSources(*story, request, heldDisplay, heldPrompt);
    if (rc == zv::kOk) {
      heldPrompt.Release();
      heldDisplay.Release();
      for (const std::string& line : converted) display.Message(line);
      return fileChapters ? zv::kOk : ChaptersEveryFiveMinutes(film, *story, file, display);
    }
    if (rc == zv::kCancelled || HasVideoTrack(*story) || EncodeHint(file).empty()) {
      heldPrompt.Release();
      heldDisplay.Release();
      return rc;
    }
    EmptyStory(*story, nextTrackId);
    zv::RelinkPlayItems(film, *story);
    why = ReasonOf(heldPrompt.held);
  }
  display.Finish();
  display.Message("\"" + file + "\": the disc cannot carry its video as it is (" + why + "); it is encoded");
  if (!leftOut.empty()) display.Message("\"" + file + "\": encoded, it keeps its main audio track; " + leftOut);
  request.encode.encode = true;
  // Encoding converts the audio that goes with the video as the video needs.
  request.convertAudio.clear();
  if (int rc = AddSources(*story, request, display, prompt)) return rc;
  return fileChapters ? zv::kOk : ChaptersEveryFiveMinutes(film, *story, file, display);
}

}  // namespace

bool CheckQuickFiles(const SQuickRequest& request, std::string& error) {
  std::vector<std::string> all = request.movies;
  all.insert(all.end(), request.subtitles.begin(), request.subtitles.end());
  for (const std::string& f : all) {
    std::error_code ec;
    if (f.empty()) return error = "an empty file name was given", false;
    if (!std::filesystem::exists(f, ec)) return error = "\"" + f + "\" does not exist", false;
    if (!std::filesystem::is_regular_file(f, ec)) return error = "\"" + f + "\" is not a file", false;
    zv::File probe;
    if (!probe.Open(f, zv::File::kRead)) return error = probe.Error(), false;
    uint8_t byte = 0;
    if (probe.Read(&byte, 1) != 1) return error = "\"" + f + "\" is empty or cannot be read", false;
  }
  for (const std::string& f : request.movies) {
    zv::SVideoSourceInfo video;
    std::string why;
    if (!zv::ProbeVideoSource(f, -1, video, why) && why == zv::kMsgNoVideoStream)
      return error = "\"" + f + "\" has no video: each file is a movie (subtitles go with --subtitles)", false;
  }
  return true;
}

bool CheckQuickTemplate(const SQuickRequest& request, std::string& error) {
  zvedit::SMenuTemplate look;
  const std::string name = request.menuTemplate.empty() ? SGenerateOptions{}.templateName : request.menuTemplate;
  return LoadMenuTemplate(name, TemplateFolders(request.templateFolders), look, error);
}

bool MatchSubtitles(const std::vector<std::string>& movies, const std::vector<std::string>& subtitles,
                    std::vector<std::vector<std::string>>& perMovie, std::string& error) {
  perMovie.assign(movies.size(), {});
  for (const std::string& sub : subtitles) {
    if (movies.size() == 1) {
      perMovie[0].push_back(sub);
      continue;
    }
    const std::string name = zv::FileNameOf(sub);
    size_t best = movies.size(), bestLength = 0;
    for (size_t i = 0; i < movies.size(); ++i) {
      const std::string stem = StemOf(movies[i]);
      if (!stem.empty() && name.compare(0, stem.size(), stem) == 0 && stem.size() > bestLength) {
        best = i;
        bestLength = stem.size();
      }
    }
    if (best == movies.size()) {
      error = "\"" + sub + "\" goes with no movie: name it after its movie, e.g. \"" + StemOf(movies[0]) +
              "_fra.srt\" for \"" + zv::FileNameOf(movies[0]) + "\"";
      return false;
    }
    perMovie[best].push_back(sub);
  }
  return true;
}

std::string VideoNeedsEncode(const std::string& file) {
  if (IsContainerSource(file)) {
    zv::SContainerInfo info;
    std::string error;
    if (zv::ProbeContainer(zv::AbsolutePath(file), info, error) != zv::kOk) return {};
    for (const zv::SContainerTrack& t : info.tracks)
      if (t.verdict.need == zv::TrackNeed::kEncodeVideo) return t.codec + " video is not a disc format";
  }
  zv::SVideoSourceInfo video;
  std::string why;
  if (!zv::ProbeVideoSource(file, -1, video, why) || video.fps <= 0 || IsDiscRate(video.fps)) return {};
  char rate[32];
  std::snprintf(rate, sizeof rate, "%.3g", video.fps);
  return std::string(rate) + " frames a second is not a disc rate";
}

int MakeQuickProject(zv::CZvObject& project, const SQuickRequest& request, ISourceDisplay& display,
                     zv::IPrompt& prompt) {
  std::vector<std::vector<std::string>> subtitles;
  std::string error;
  if (!MatchSubtitles(request.movies, request.subtitles, subtitles, error)) return Fail(display, error);
  project.InitNew();
  for (size_t i = 0; i < request.movies.size(); ++i) {
    zv::CFilmObject* film = i == 0 ? project.m_movies.GetAt(0) : AddMovie(project);
    if (!film) film = AddMovie(project);
    if (int rc = AddMovieFile(*film, request.movies[i], subtitles[i], display, prompt)) return rc;
    // Named after its file, so that the menus name it so too; a name taken
    // already (two files of one name) keeps the numbered one.
    Target target;
    target.object = film;
    const std::string numbered = film->m_strName;
    if (!ApplyProperty(project, target, "name", StemOf(request.movies[i]), error))
      display.Message("\"" + request.movies[i] + "\" stays \"" + numbered + "\": " + error);
  }
  SGenerateOptions options;
  if (!request.menuTemplate.empty()) options.templateName = request.menuTemplate;
  options.templateFolders = request.templateFolders;
  options.pictureFolder = request.pictureFolder;
  SGenerateReport report;
  display.Finish();
  const int rc = GenerateMenus(project, options, display, prompt, report, error);
  display.Finish();
  if (rc == zv::kCancelled) return zv::kCancelled;
  if (rc != zv::kOk) return Fail(display, "the menus were not made: " + error);
  // The folder is new: nothing goes, but the pictures are listed as the
  // generator's own, so that generating again later tidies them.
  if (!RemoveStalePictures(project, options.pictureFolder, report.pictures, error))
    return Fail(display, "the menus' pictures cannot be listed: " + error);
  for (const std::string& note : report.notes) display.Message(note);
  display.Listing(std::to_string(report.menus) + " menu" + (report.menus == 1 ? "" : "s") + ", " +
                  std::to_string(report.pages) + " pages, " + std::to_string(report.buttons) + " buttons (" +
                  options.templateName + ")");
  return zv::kOk;
}

}  // namespace zvedit
