// What the rule sets share: the disc as read, and the finding sink.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>

#include "bdnav/index_bdmv.h"
#include "bdnav/navcmd.h"
#include "bdnav/movie_objects.h"
#include "bdnav/playlist_file.h"
#include "mux/clip_info.h"
#include "verify/check.h"

namespace zv::check {

// One button of a menu, with where it is for the report.
struct SMenuButton {
  std::string where;  // "PID 0x1400 display set 0 page 0 button 3"
  CNavCmds commands;
};

// The disc as our readers see it; files that do not read are absent here
// and reported by the structure rules.
struct SDisc {
  std::string root;  // the folder that holds BDMV
  std::optional<INDEX_BDMV> index;
  std::optional<MOVIE_OBJECTS> movieObjects;
  std::set<std::string> playlistFiles;                // every .mpls, read or not
  std::map<std::string, PlaylistFile> playlists;      // by five-digit name
  std::map<std::string, ClipInformationFile> clips;   // by five-digit name
  std::set<std::string> clipInfoFiles;                // every .clpi, read or not
  std::set<std::string> streamFiles;                  // every .m2ts
  // The buttons of every interactive-graphics stream the menu rules read,
  // by MenuKey(clip, pid).
  std::map<std::string, std::vector<SMenuButton>> menus;

  std::string Path(const std::string& rel) const { return root + "/" + rel; }
  // The coding type the clip information gives stream `pid` of `clip`
  // (which must have been read), 0 when it lists no such stream.
  uint8_t CodingOf(const std::string& clip, uint16_t pid) const {
    for (const auto& seq : clips.at(clip).programInfo.sequences)
      for (const auto& s : seq.streams)
        if (s.StreamPID == pid) return s.coding.StreamCodingType;
    return 0;
  }
};

class CFindings {
 public:
  CFindings(SCheckReport& report, bool strict) : report_(report), strict_(strict) {}
  // Adds a finding of rule `id` (which must be in the rule table).
  void Add(const char* id, const std::string& file, const std::string& position, const std::string& message);

 private:
  SCheckReport& report_;
  bool strict_;
};

inline std::string PlaylistPath(const std::string& name) { return "BDMV/PLAYLIST/" + name + ".mpls"; }
inline std::string ClipInfoPath(const std::string& name) { return "BDMV/CLIPINF/" + name + ".clpi"; }
inline std::string StreamPath(const std::string& name) { return "BDMV/STREAM/" + name + ".m2ts"; }

inline std::string MenuKey(const std::string& clip, uint16_t pid) { return clip + "/" + std::to_string(pid); }

// The clip and PID an STN entry of play item `pi` refers to; false when its
// sub-path or sub-clip reference is broken.
bool EntryTarget(const PlaylistFile& pl, const PLAY_ITEM& pi, const SStreamEntryRef& e, std::string& clip, uint16_t& pid);

// The rule sets, in the order they run.
void CheckFiles(SDisc& disc, CFindings& out);
// Reads every interactive and presentation graphics stream the playlists
// offer and fills `disc.menus`.
void CheckMenus(SDisc& disc, CFindings& out);
// Reads every text subtitle stream the playlists offer.
void CheckTextSubtitles(const SDisc& disc, CFindings& out);
void CheckNavigation(const SDisc& disc, CFindings& out);
// kOk or kCancelled. `threads`: the buffer replay beside the other rules on
// a thread of its own.
int CheckClips(const SDisc& disc, const Progress& progress, bool threads, CFindings& out);

}  // namespace zv::check
