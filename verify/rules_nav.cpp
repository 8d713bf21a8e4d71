// Playlists and navigation: play items against their clips, stream entries
// against the clips' streams, marks, the targets of every command of the
// movie objects and menu buttons, and which titles can be reached.
#include <algorithm>
#include <cstdio>
#include <deque>

#include "bdnav/navcmd.h"
#include "verify/check_context.h"

namespace zv::check {

namespace {

std::string Five(uint32_t n) {
  char b[16];
  std::snprintf(b, sizeof b, "%05u", n);
  return b;
}

bool IsVideo(uint8_t t) { return t == 0x02 || t == 0x1B || t == 0xEA || t == 0x20; }
bool IsAudio(uint8_t t) { return (t >= 0x80 && t <= 0x86) || t == 0xA1 || t == 0xA2; }

const STREAM_INFO* FindStream(const ClipInformationFile& ci, uint16_t pid) {
  for (const auto& seq : ci.programInfo.sequences)
    for (const auto& s : seq.streams)
      if (s.StreamPID == pid) return &s;
  return nullptr;
}

class CNavRules {
 public:
  CNavRules(const SDisc& disc, CFindings& out) : d_(disc), out_(out) {}

  void Run() {
    CheckIndex();
    for (const auto& [name, pl] : d_.playlists) CheckPlaylist(name, pl);
    if (d_.movieObjects)
      for (size_t i = 0; i < d_.movieObjects->objects.size(); ++i)
        CheckTargets(d_.movieObjects->objects[i].commands, "BDMV/MovieObject.bdmv", "MovieObject " + std::to_string(i),
                     nullptr);
    for (const auto& [name, pl] : d_.playlists)
      for (const auto& [clip, pid] : MenuStreams(pl))
        for (const auto& b : Menu(clip, pid)) CheckTargets(b.commands, StreamPath(clip), b.where, &pl);
    CheckReach();
  }

 private:
  const ClipInformationFile* Clip(const std::string& name) const {
    auto it = d_.clips.find(name);
    return it == d_.clips.end() ? nullptr : &it->second;
  }

  void CheckIndex() {
    if (!d_.index) return;
    const size_t n = d_.movieObjects ? d_.movieObjects->objects.size() : 0;
    auto one = [&](const TI& t, const std::string& where) {
      if (t.objectType != 1 || !d_.movieObjects) return;
      if (t.movieObjectId >= n)
        out_.Add("nav.index-object", "BDMV/index.bdmv", where,
                 "movie object " + std::to_string(t.movieObjectId) + " does not exist (" + std::to_string(n) + " objects)");
    };
    one(d_.index->firstPlayback, "FirstPlayback");
    one(d_.index->topMenu, "TopMenu");
    for (size_t i = 0; i < d_.index->titles.size(); ++i) one(d_.index->titles[i], "Title " + std::to_string(i + 1));
  }

  void CheckPlaylist(const std::string& name, const PlaylistFile& pl) {
    const std::string file = PlaylistPath(name);
    for (size_t i = 0; i < pl.playItems.size(); ++i) {
      const PLAY_ITEM& pi = pl.playItems[i];
      const std::string where = "PlayItem " + std::to_string(i);
      if (pi.InTime >= pi.OutTime)
        out_.Add("nav.time", file, where, "IN_time " + std::to_string(pi.InTime) + " is not before OUT_time " +
                                              std::to_string(pi.OutTime));
      if (!ClipExists(pi.ClipName, file, where)) continue;
      if (pi.angles)
        for (const auto& a : pi.angles->entries) ClipExists(a.ClipName, file, where + " angle");
      const ClipInformationFile* ci = Clip(pi.ClipName);
      if (!ci) continue;  // did not read; reported as such
      CheckTimes(*ci, pi.ClipName, pi.RefToStcId, pi.InTime, pi.OutTime, file, where);
      CheckStn(pl, pi, file, where);
    }
    for (size_t s = 0; s < pl.subPaths.size(); ++s) {
      const SUB_PATH& sp = pl.subPaths[s];
      for (size_t j = 0; j < sp.items.size(); ++j) {
        const SUB_PLAY_ITEM& it = sp.items[j];
        const std::string where = "SubPath " + std::to_string(s) + " SubPlayItem " + std::to_string(j);
        if (!ClipExists(it.ClipName, file, where)) continue;
        if (it.SyncPlayItemId >= pl.playItems.size())
          out_.Add("nav.time", file, where, "synchronised with play item " + std::to_string(it.SyncPlayItemId) +
                                                ", which does not exist");
        const ClipInformationFile* ci = Clip(it.ClipName);
        if (!ci) continue;
        CheckTimes(*ci, it.ClipName, it.RefToStcId, it.InTime, it.OutTime, file, where);
        // Interactive-graphics and text-subtitle sub-paths need a clip of that kind.
        const uint8_t want = sp.SubPathType == 3 ? 0x91 : sp.SubPathType == 4 ? 0x92 : 0;
        if (want == 0) continue;
        bool has = false;
        for (const auto& seq : ci->programInfo.sequences)
          for (const auto& st : seq.streams) has = has || st.coding.StreamCodingType == want;
        if (!has)
          out_.Add("nav.subpath", file, where, std::string("a ") + SubPathTypeText(sp.SubPathType) + " sub-path whose clip " +
                                                   it.ClipName + " has no stream of coding type " + Hex(want));
      }
    }
    for (size_t m = 0; m < pl.marks.size(); ++m) {
      const PLAY_MARK& mk = pl.marks[m];
      const std::string where = "PlayListMark " + std::to_string(m);
      if (mk.RefToPlayItemId >= pl.playItems.size()) {
        out_.Add("nav.mark", file, where, "refers to play item " + std::to_string(mk.RefToPlayItemId) + " of " +
                                              std::to_string(pl.playItems.size()));
        continue;
      }
      const PLAY_ITEM& pi = pl.playItems[mk.RefToPlayItemId];
      if (mk.MarkTimeStamp < pi.InTime || mk.MarkTimeStamp > pi.OutTime)
        out_.Add("nav.mark", file, where, "time " + std::to_string(mk.MarkTimeStamp) + " outside its play item (" +
                                              std::to_string(pi.InTime) + " to " + std::to_string(pi.OutTime) + ")");
    }
  }

  static std::string Hex(unsigned v) {
    char b[16];
    std::snprintf(b, sizeof b, "0x%02X", v);
    return b;
  }

  bool ClipExists(const std::string& clip, const std::string& file, const std::string& where) {
    if (d_.clipInfoFiles.count(clip)) return true;
    out_.Add("nav.clip", file, where, "clip " + clip + " has no clip information " + ClipInfoPath(clip));
    return false;
  }

  void CheckTimes(const ClipInformationFile& ci, const std::string& clip, uint8_t stcId, uint32_t in, uint32_t outT,
                  const std::string& file, const std::string& where) {
    if (ci.atcSequences.empty() || stcId >= ci.atcSequences[0].stc.size()) {
      out_.Add("nav.time", file, where, "STC sequence " + std::to_string(stcId) + " is not in clip " + clip);
      return;
    }
    const STC_INFO& stc = ci.atcSequences[0].stc[stcId];
    if (in < stc.PresentationStartTime || outT > stc.PresentationEndTime)
      out_.Add("nav.time", file, where,
               "times " + std::to_string(in) + " to " + std::to_string(outT) + " are outside clip " + clip + " (" +
                   std::to_string(stc.PresentationStartTime) + " to " + std::to_string(stc.PresentationEndTime) + ")");
  }

  void CheckStn(const PlaylistFile& pl, const PLAY_ITEM& pi, const std::string& file, const std::string& where) {
    auto each = [&](const char* kind, const auto& entries) {
      for (size_t k = 0; k < entries.size(); ++k) {
        const PRIMARY_STREAM_ENTRY& e = entries[k];
        const std::string at = where + " " + kind + " " + std::to_string(k + 1);
        std::string clip;
        uint16_t pid = 0;
        if (!EntryTarget(pl, pi, e.entry, clip, pid)) {
          out_.Add("nav.stream", file, at, "refers to a sub-path or sub-clip the playlist does not have");
          continue;
        }
        const ClipInformationFile* ci = Clip(clip);
        if (!ci) continue;  // reported by nav.clip or files.parse
        const STREAM_INFO* si = FindStream(*ci, pid);
        if (!si) {
          out_.Add("nav.stream", file, at, "PID " + Hex(pid) + " is not a stream of clip " + clip);
          continue;
        }
        CheckAttributes(e.attributes, si->coding, clip, file, at);
      }
    };
    each("PrimaryVideo", pi.stn.primaryVideo);
    each("PrimaryAudio", pi.stn.primaryAudio);
    each("PG/TextST", pi.stn.pgTextSt);
    each("PiP PG/TextST", pi.stn.pipPgTextSt);
    each("IG", pi.stn.ig);
    each("SecondaryAudio", pi.stn.secondaryAudio);
    each("SecondaryVideo", pi.stn.secondaryVideo);
  }

  void CheckAttributes(const SStreamAttributes& a, const StreamCodingInfo& c, const std::string& clip,
                       const std::string& file, const std::string& at) {
    std::string diff;
    auto field = [&](const char* name, unsigned mine, unsigned theirs) {
      if (mine != theirs)
        diff += std::string(diff.empty() ? "" : ", ") + name + " " + std::to_string(mine) + " where the clip has " +
                std::to_string(theirs);
    };
    const uint8_t t = c.StreamCodingType;
    field("coding type", a.StreamCodingType, t);
    if (a.StreamCodingType == t) {
      if (IsVideo(t)) {
        field("video format", a.Format, c.VideoFormat);
        field("frame rate", a.Rate, c.FrameRate);
      } else if (IsAudio(t)) {
        field("presentation type", a.Format, c.AudioPresentationType);
        field("sampling frequency", a.Rate, c.SamplingFrequency);
      } else if (t == 0x92) {
        field("character code", a.CharacterCode, c.CharacterCode);
      }
      if ((IsAudio(t) || t == 0x90 || t == 0x91 || t == 0x92) && a.Language != c.Language)
        diff += std::string(diff.empty() ? "" : ", ") + "language \"" + a.Language + "\" where the clip has \"" +
                c.Language + "\"";
    }
    if (!diff.empty()) out_.Add("nav.attributes", file, at, diff + " (clip " + clip + ")");
  }

  // (clip, PID) of every interactive-graphics stream a playlist offers.
  std::vector<std::pair<std::string, uint16_t>> MenuStreams(const PlaylistFile& pl) const {
    std::vector<std::pair<std::string, uint16_t>> found;
    for (const auto& pi : pl.playItems)
      for (const auto& e : pi.stn.ig) {
        std::string clip;
        uint16_t pid = 0;
        if (!EntryTarget(pl, pi, e.entry, clip, pid) || !Clip(clip) || !d_.streamFiles.count(clip)) continue;
        if (std::find(found.begin(), found.end(), std::make_pair(clip, pid)) == found.end()) found.emplace_back(clip, pid);
      }
    return found;
  }

  // The buttons the menu rules read from the interactive-graphics stream
  // `pid` of `clip`.
  const std::vector<SMenuButton>& Menu(const std::string& clip, uint16_t pid) const {
    static const std::vector<SMenuButton> kNone;
    auto it = d_.menus.find(MenuKey(clip, pid));
    return it == d_.menus.end() ? kNone : it->second;
  }

  void CheckTargets(const CNavCmds& cmds, const std::string& file, const std::string& where, const PlaylistFile* current) {
    const size_t objects = d_.movieObjects ? d_.movieObjects->objects.size() : 0;
    const size_t titles = d_.index ? d_.index->titles.size() : 0;
    for (size_t i = 0; i < cmds.Count(); ++i) {
      const CNavCmd& c = cmds[i];
      const int k = NavKeywordOf(c);
      const std::string at = where + " command " + std::to_string(i);
      auto bad = [&](const std::string& why) { out_.Add("nav.target", file, at, CommandText(c) + ": " + why); };
      const bool dstImm = c.DstImmediate(), srcImm = c.SrcImmediate();
      const uint32_t dst = c.Dst(), src = c.Src();
      switch (k) {
        case kNavGoTo:
          if (dstImm && dst >= cmds.Count()) bad("past the last of " + std::to_string(cmds.Count()) + " commands");
          break;
        case kNavJumpObject:
        case kNavCallObject:
          if (dstImm && d_.movieObjects && dst >= objects) bad("no movie object " + std::to_string(dst));
          break;
        case kNavJumpTitle:
        case kNavCallTitle:
          // Title 0 stands for the top menu.
          if (dstImm && d_.index && (dst > titles || (dst == 0 && d_.index->topMenu.objectType == 0)))
            bad("no title " + std::to_string(dst) + " (the disc has " + std::to_string(titles) + ")");
          break;
        case kNavPlayPlaylist:
        case kNavPlayPlaylistAtPlayItem:
        case kNavPlayPlaylistAtMark: {
          if (!dstImm) break;
          if (dst > 99999 || !d_.playlistFiles.count(Five(dst))) {
            bad("no playlist " + PlaylistPath(dst > 99999 ? std::to_string(dst) : Five(dst)));
            break;
          }
          auto pl = d_.playlists.find(Five(dst));
          if (pl == d_.playlists.end() || !srcImm) break;
          if (k == kNavPlayPlaylistAtPlayItem && src >= pl->second.playItems.size())
            bad("no play item " + std::to_string(src) + " in " + PlaylistPath(pl->first));
          if (k == kNavPlayPlaylistAtMark && src >= pl->second.marks.size())
            bad("no mark " + std::to_string(src) + " in " + PlaylistPath(pl->first));
          break;
        }
        case kNavLinkPlayItem:
          if (current && dstImm && dst >= current->playItems.size()) bad("no play item " + std::to_string(dst));
          break;
        case kNavLinkMark:
          if (current && dstImm && dst >= current->marks.size()) bad("no mark " + std::to_string(dst));
          break;
        default:
          break;
      }
    }
  }

  // Titles reached from first playback and the top menu through movie
  // objects and the buttons of the menus their playlists show. A jump
  // through a register could reach any title, so then none is reported.
  void CheckReach() {
    if (!d_.index || !d_.movieObjects) return;
    const auto& objects = d_.movieObjects->objects;
    std::set<size_t> seenObjects;
    std::set<std::string> seenPlaylists;
    std::set<size_t> titles;  // numbers from 1
    bool anyTitle = false;
    std::deque<size_t> objectQueue;
    std::deque<std::string> playlistQueue;
    auto object = [&](size_t id) {
      if (id < objects.size() && seenObjects.insert(id).second) objectQueue.push_back(id);
    };
    auto commands = [&](const CNavCmds& cmds) {
      for (const CNavCmd& c : cmds) {
        const int k = NavKeywordOf(c);
        if (k == kNavJumpTitle || k == kNavCallTitle) {
          if (!c.DstImmediate()) {
            anyTitle = true;
          } else if (c.Dst() == 0) {
            if (d_.index->topMenu.objectType == 1) object(d_.index->topMenu.movieObjectId);
          } else if (c.Dst() <= d_.index->titles.size()) {
            titles.insert(c.Dst());
            const TI& t = d_.index->titles[c.Dst() - 1];
            if (t.objectType == 1) object(t.movieObjectId);
          }
        } else if (k == kNavJumpObject || k == kNavCallObject) {
          if (!c.DstImmediate()) anyTitle = true;
          else object(c.Dst());
        } else if ((k == kNavPlayPlaylist || k == kNavPlayPlaylistAtPlayItem || k == kNavPlayPlaylistAtMark) &&
                   c.DstImmediate() && c.Dst() <= 99999) {
          const std::string name = Five(c.Dst());
          if (d_.playlists.count(name) && seenPlaylists.insert(name).second) playlistQueue.push_back(name);
        }
      }
    };
    if (d_.index->firstPlayback.objectType == 1) object(d_.index->firstPlayback.movieObjectId);
    if (d_.index->topMenu.objectType == 1) object(d_.index->topMenu.movieObjectId);
    // Titles other than HDMV movie objects (BD-J) are not followed.
    for (const TI& t : d_.index->titles) anyTitle = anyTitle || t.objectType != 1;
    while (!objectQueue.empty() || !playlistQueue.empty()) {
      if (!objectQueue.empty()) {
        const size_t id = objectQueue.front();
        objectQueue.pop_front();
        commands(objects[id].commands);
        continue;
      }
      const std::string name = playlistQueue.front();
      playlistQueue.pop_front();
      for (const auto& [clip, pid] : MenuStreams(d_.playlists.at(name)))
        for (const auto& b : Menu(clip, pid)) commands(b.commands);
    }
    if (anyTitle) return;
    for (size_t i = 0; i < d_.index->titles.size(); ++i) {
      const TI& t = d_.index->titles[i];
      if (titles.count(i + 1) || seenObjects.count(t.movieObjectId)) continue;
      out_.Add("nav.unreachable", "BDMV/index.bdmv", "Title " + std::to_string(i + 1),
               "no jump from first playback, the top menu or their menus reaches this title");
    }
  }

  const SDisc& d_;
  CFindings& out_;
};

}  // namespace

bool EntryTarget(const PlaylistFile& pl, const PLAY_ITEM& pi, const SStreamEntryRef& e, std::string& clip, uint16_t& pid) {
  if (e.type == 1 || e.type == 3) {
    clip = pi.ClipName;
    pid = e.RefToStreamPidOfMainClip;
    return true;
  }
  if (e.RefToSubPathId >= pl.subPaths.size() || pl.subPaths[e.RefToSubPathId].items.empty()) return false;
  const SUB_PLAY_ITEM& it = pl.subPaths[e.RefToSubPathId].items[0];
  if (e.RefToSubClipEntryId == 0) {
    clip = it.ClipName;
  } else {
    if (!it.multiClip || e.RefToSubClipEntryId > it.multiClip->entries.size()) return false;
    clip = it.multiClip->entries[e.RefToSubClipEntryId - 1].ClipName;
  }
  pid = e.RefToStreamPidOfSubClip;
  return true;
}

void CheckNavigation(const SDisc& disc, CFindings& out) { CNavRules(disc, out).Run(); }

}  // namespace zv::check
