// What each object offers to `set`, with the current values: the rows of
// the property grid. The keys, ranges and choices are the ones ApplyProperty
// takes; a value left empty has no single current value (a menu-wide sound
// that each button may have changed) and is only written.
#include <algorithm>
#include <string>
#include <vector>

#include "bdnav/navcmd.h"
#include "bdnav/playlist_file.h"
#include "edit/properties.h"
#include "edit/rows.h"
#include "edit/track_encode.h"
#include "edit/values.h"
#include "graphics/menu_model.h"
#include "model/button_types.h"
#include "model/object_path.h"
#include "model/project.h"
#include "mux/mux_track.h"
#include "subtitles/style_keys.h"

namespace zvedit {

namespace {

const char* YesNo(bool b) { return b ? "yes" : "no"; }
const char* RefName(const zv::CNamedObject* o) { return o ? o->m_strName.c_str() : "none"; }

class Rows {
 public:
  std::vector<PropertyInfo> rows;

  void Text(const std::string& key, const std::string& value) { rows.push_back({key, ValueKind::kText, 0, 0, {}, value}); }
  void Bool(const std::string& key, bool value) { rows.push_back({key, ValueKind::kBool, 0, 0, {}, YesNo(value)}); }
  void Int(const std::string& key, long lo, long hi, long value) {
    rows.push_back({key, ValueKind::kInt, lo, hi, {}, std::to_string(value)});
  }
  void Choice(const std::string& key, std::vector<std::string> choices, const std::string& value) {
    rows.push_back({key, ValueKind::kChoice, 0, 0, std::move(choices), value});
  }
  void Language(const std::string& key, const std::string& value) {
    rows.push_back({key, ValueKind::kLanguage, 0, 0, {}, value});
  }
  void Uo(const uint8_t (&mask)[8]) {
    for (int bit = 0; bit < zv::kNamedUoBits; ++bit)
      if (!IsFixedUoBit(bit))
        rows.push_back({std::string("uo.") + zv::UoBitLabel(bit), ValueKind::kBool, 0, 0, {}, GetUoBit(mask, bit) ? "1" : "0"});
  }
};

std::vector<std::string> ButtonChoices(zv::CPage* page, std::vector<std::string> first) {
  if (page)
    for (zv::CBdButton* b : page->Buttons()) first.push_back(b->m_strName);
  return first;
}

// "A" when the state shows one picture, "A,B" when it runs from A to B; a
// missing end is "none", so that the value set back changes nothing.
std::string StateGraphics(const zv::CButtonStateInfo& st) {
  if (!st.m_start.p && !st.m_end.p) return "none";
  if (st.m_end.p == st.m_start.p) return st.m_start.p->m_strName;
  return std::string(RefName(st.m_start.p)) + "," + RefName(st.m_end.p);
}

std::string SoundText(uint8_t id) { return id == 0xFF ? "none" : std::to_string(id); }

// "none" and the ids of the project's sound file.
std::vector<std::string> SoundChoices(const zv::CZvObject& project) {
  std::vector<std::string> ids{"none"};
  for (size_t i = 0; i < project.SoundCount() && i < 0xFF; ++i) ids.push_back(std::to_string(i));
  return ids;
}

// A menu-wide sound as `choices` offers it: the id every button of the menu
// has in `state`, else empty (the buttons differ, or the id is not in the
// sound file any more).
std::string MenuSound(zv::CZvIgObject& m, size_t state, const std::vector<std::string>& choices) {
  std::string common;
  bool first = true;
  for (size_t e = 0; e < m.GetCount(); ++e)
    for (size_t d = 0; d < m.GetAt(e)->GetCount(); ++d)
      for (size_t p = 0; p < m.GetAt(e)->GetAt(d)->GetCount(); ++p)
        for (zv::CBdButton* b : m.GetAt(e)->GetAt(d)->GetAt(p)->Buttons()) {
          const std::string id = SoundText(b->m_states[state].m_nSoundId);
          if (!first && id != common) return {};
          common = id;
          first = false;
        }
  if (first) common = "none";
  for (const std::string& c : choices)
    if (c == common) return common;
  return {};
}

// The rule the page's neighbours follow: the mode that would change none of
// them, found by computing it and putting back what it changed; empty when
// the user set them otherwise or the page has fewer than two BOGs with a
// default button.
std::string NeighbourMode(zv::CPage& page) {
  struct Saved {
    zv::CBdButton* b;
    zv::CBdButton *up, *down, *left, *right;
  };
  std::vector<Saved> saved;
  for (zv::CBdButton* b : page.Buttons())
    saved.push_back({b, b->m_neighbors.up.p, b->m_neighbors.down.p, b->m_neighbors.left.p, b->m_neighbors.right.p});
  size_t defaults = 0;
  for (size_t g = 0; g < page.GetCount(); ++g) defaults += page.GetAt(g)->m_defaultButton.p != nullptr;
  if (defaults < 2) return {};
  for (int mode : {zv::kNeighboursSpatial, zv::kNeighboursSequential}) {
    if (!zv::ComputeNeighbours(page, mode)) return mode == zv::kNeighboursSpatial ? "spatial" : "sequential";
    for (const Saved& v : saved) {
      v.b->m_neighbors.up.Set(v.up);
      v.b->m_neighbors.down.Set(v.down);
      v.b->m_neighbors.left.Set(v.left);
      v.b->m_neighbors.right.Set(v.right);
    }
  }
  return {};
}

// The choices of a list with `value` in it, empty first when it is empty
// (so that an editor shows no choice rather than a wrong one).
std::vector<std::string> WithCurrent(std::vector<std::string> choices, const std::string& value) {
  if (value.empty()) choices.insert(choices.begin(), std::string());
  return choices;
}

void DescribeTrack(const Target& t, Rows& r) {
  const std::vector<zv::STrackRef> refs = t.story->TrackRefs();
  if (t.trackIndex >= refs.size()) return;
  const zv::STrackRef& ref = refs[t.trackIndex];
  r.Bool("enabled", ref.enabled);
  r.Bool("primary", ref.primary);
  r.Language("language", ref.language);
  r.Int("delay", -2147483647L, 2147483647L, ref.delay);
  if (HasTrackEncode(*t.story, t.trackIndex)) {
    const STrackEncodeState e = TrackEncodeState(*t.story, t.trackIndex);
    r.Bool("encode", e.on);
    r.Choice("encode-format", EncodeFormatChoices(), e.format);
  }
  // A track drawn from text: its style, empty where the script's or the
  // default style holds.
  const std::string source = t.story->TextSourceOf(t.trackIndex);
  if (source.empty()) return;
  zv::STextTrackStyle s;
  if (const auto it = t.story->m_textStyles.find(source); it != t.story->m_textStyles.end()) s = it->second;
  for (const char* key : zv::kSubtitleStyleKeys) {
    // "" is a choice too: the script's placement, or the default bottom.
    if (std::string(key) == "position") r.Choice(key, {"", "top", "bottom"}, zv::SubtitleStyleValue(s.style, key));
    else r.Text(key, zv::SubtitleStyleValue(s.style, key));
  }
  r.Bool("forced", s.forced);
}

void DescribeMenu(const zv::CZvObject& project, zv::CZvIgObject& m, Rows& r) {
  r.Text("name", m.m_strName);
  r.Bool("popup", m.m_bPopup);
  if (m.m_bPopup) r.Int("timeout", 0, 0xFFFFFF / 90000, m.m_nUserTimeout);
  r.Choice("stream-model", {"own-clip"}, "own-clip");
  r.Language("language", zv::LanguageCodeAt(m.m_nLanguage));
  const std::vector<std::string> sounds = SoundChoices(project);
  const std::string selected = MenuSound(m, 1, sounds), activated = MenuSound(m, 2, sounds);
  r.Choice("selected-sound", WithCurrent(sounds, selected), selected);
  r.Choice("activated-sound", WithCurrent(sounds, activated), activated);
}

void DescribeTitle(zv::CPlObject& pl, Rows& r) {
  r.Text("name", pl.m_strName);
  r.Choice("mode", {zv::PlayModeName(0), zv::PlayModeName(1), zv::PlayModeName(2)}, zv::PlayModeName(pl.m_nPlayMode));
  r.Choice("connection", {"1", "5"}, std::to_string(pl.m_nConnection));
  r.Bool("title", pl.m_bHasTitle);
  std::vector<std::string> menus{"none"};
  if (zv::CFilmObject* film = zv::FilmOf(&pl))
    for (size_t i = 0; i < film->m_menus.GetCount(); ++i) menus.push_back(film->m_menus.GetAt(i)->m_strName);
  r.Choice("menu", menus, RefName(pl.m_pMenu));
  r.Choice("playback", {PlaybackTypeName(1), PlaybackTypeName(2), PlaybackTypeName(3)},
           PlaybackTypeName(pl.m_nPlaybackType));
  r.Int("playback-count", 0, 65535, pl.m_nPlaybackCount);
  r.Bool("random-access", pl.m_bRandomAccess);
  r.Bool("audio-mix", pl.m_bAudioMix);
  r.Bool("lossless-bypass", pl.m_bLosslessBypass);
  r.Uo(pl.m_uoMask);
}

void DescribePlayItem(zv::CPiObject& pi, Rows& r) {
  r.Choice("still", {StillModeName(0), StillModeName(1), StillModeName(2)}, StillModeName(pi.m_nStillMode));
  r.Int("still-time", 0, 65535, pi.m_nStillTime);
  r.Int("angles", 1, 9, pi.m_nAngles);
  r.Bool("random-access", pi.m_bRandomAccess);
  // One row per track the play item lists, numbered as the clip's tracks.
  // In the play item's order, which `show` lists too.
  if (pi.m_pStory)
    for (const zv::SStreamSel& e : pi.m_streamSel) {
      const int index = pi.m_pStory->TrackIndexOf(e.track);
      if (index < 0) continue;
      const std::string number = std::to_string(index + 1);
      r.Choice("track", {number + ":on", number + ":off"}, number + (e.selected ? ":on" : ":off"));
    }
  r.Uo(pi.m_uoMask);
}

void DescribePage(zv::CPage& page, Rows& r) {
  r.Text("name", page.m_strName);
  r.Choice("default-selected", ButtonChoices(&page, {"none"}), RefName(page.m_defaultSelected.p));
  r.Choice("default-activated", ButtonChoices(&page, {"none", "current"}),
           page.m_defaultActivated.p == &page.m_currentSelected ? "current" : RefName(page.m_defaultActivated.p));
  std::vector<std::string> palettes{"none"};
  if (zv::CEpoch* epoch = zv::EpochOf(&page))
    for (size_t i = 0; i < epoch->m_palettes.GetCount(); ++i) palettes.push_back(epoch->m_palettes.GetAt(i)->m_strName);
  r.Choice("palette", palettes, RefName(page.m_palette.p));
  const std::string mode = NeighbourMode(page);
  r.Choice("neighbours", WithCurrent({"spatial", "sequential"}, mode), mode);
  // Made effects are not read back as the form that made them: only their
  // absence has a value.
  r.Text("in-effect", page.m_inEffects.GetCount() == 0 ? "none" : "");
  r.Text("out-effect", page.m_outEffects.GetCount() == 0 ? "none" : "");
  r.Int("animation-frame-rate", 0, 255, page.m_nAnimationFrameRateCode);
}

void DescribeButton(const zv::CZvObject& project, zv::CBdButton& b, Rows& r) {
  auto* bog = dynamic_cast<zv::CBog*>(b.m_pParent);
  zv::CPage* page = bog ? bog->Page() : nullptr;
  r.Text("name", b.m_strName);
  r.Int("x", 0, 0xFFFF, b.m_nX);
  r.Int("y", 0, 0xFFFF, b.m_nY);
  r.Choice("up", ButtonChoices(page, {"none"}), RefName(b.m_neighbors.up.p));
  r.Choice("down", ButtonChoices(page, {"none"}), RefName(b.m_neighbors.down.p));
  r.Choice("left", ButtonChoices(page, {"none"}), RefName(b.m_neighbors.left.p));
  r.Choice("right", ButtonChoices(page, {"none"}), RefName(b.m_neighbors.right.p));
  r.Bool("auto-action", b.m_bAutoAction);
  r.Text("numeric", b.m_nNumericValue == 0xFFFF ? "none" : std::to_string(b.m_nNumericValue));
  std::vector<std::string> types;
  for (const zv::CButtonType* t : zv::ButtonTypeRegistry()) types.push_back(t->Name());
  r.Choice("type", types, zv::ButtonTypeOf(b.m_nButtonType).Name());
  const zv::CButtonType& type = zv::ButtonTypeOf(b.m_nButtonType);
  // The type's choices, each with what it offers now (an earlier one may
  // have to be chosen first).
  for (int i = 0; i < type.ParameterCount(); ++i) {
    if (!type.ParameterApplies(b, i)) continue;
    std::vector<std::string> names = type.FillParameterOptions(b, i);
    const int32_t at = zv::ButtonParameter(b, i);
    const std::string value =
        at < 0 ? "none" : static_cast<size_t>(at) < names.size() ? names[static_cast<size_t>(at)] : "";
    names.insert(names.begin(), "none");
    r.Choice(type.ParameterName(i), WithCurrent(names, value), value);
  }
  std::string cmds;
  for (const zv::CNavCmd& c : b.m_commands) cmds += (cmds.empty() ? "" : "; ") + zv::CommandText(c);
  r.Text("commands", cmds.empty() ? "none" : cmds);
  const char* states[3] = {"normal", "selected", "activated"};
  for (size_t s = 0; s < 3; ++s) r.Text(states[s], StateGraphics(b.m_states[s]));
  const std::vector<std::string> sounds = SoundChoices(project);
  for (size_t s = 1; s < 3; ++s) {
    const std::string id = SoundText(b.m_states[s].m_nSoundId);
    // An id the sound file no longer has is shown, to be changed.
    std::vector<std::string> choices = sounds;
    if (std::find(choices.begin(), choices.end(), id) == choices.end()) choices.push_back(id);
    r.Choice(s == 1 ? "selected-sound" : "activated-sound", choices, id);
  }
  for (size_t s = 0; s < 3; ++s) r.Bool(std::string(states[s]) + "-repeat", b.m_states[s].m_bRepeat);
}

}  // namespace

std::vector<PropertyInfo> Describe(zv::CZvObject& project, const Target& t) {
  Rows r;
  zv::CNamedObject* obj = t.object;
  if (t.isTrack) DescribeTrack(t, r);
  else if (auto* pl = dynamic_cast<zv::CPlObject*>(obj)) DescribeTitle(*pl, r);
  else if (auto* pi = dynamic_cast<zv::CPiObject*>(obj)) DescribePlayItem(*pi, r);
  else if (auto* menu = dynamic_cast<zv::CZvIgObject*>(obj)) DescribeMenu(project, *menu, r);
  else if (auto* page = dynamic_cast<zv::CPage*>(obj)) DescribePage(*page, r);
  else if (auto* bog = dynamic_cast<zv::CBog*>(obj)) {
    r.Text("name", bog->m_strName);
    std::vector<std::string> buttons{"none"};
    for (size_t i = 0; i < bog->GetCount(); ++i) buttons.push_back(bog->GetAt(i)->m_strName);
    r.Choice("default", buttons, RefName(bog->m_defaultButton.p));
  } else if (auto* b = dynamic_cast<zv::CBdButton*>(obj)) DescribeButton(project, *b, r);
  else if (t.story || dynamic_cast<zv::CFilmObject*>(obj)) r.Text("name", obj->m_strName);
  return r.rows;
}

std::vector<PropertyInfo> DescribeObject(zv::CZvObject& project, zv::CNamedObject& obj) {
  Target t;
  t.object = &obj;
  t.story = dynamic_cast<zv::CStoryObject*>(&obj);
  return Describe(project, t);
}

std::vector<PropertyInfo> DescribeTrackOf(zv::CZvObject& project, zv::CStoryObject& story, size_t index) {
  Target t;
  t.object = &story;
  t.story = &story;
  t.isTrack = true;
  t.trackIndex = index;
  return Describe(project, t);
}

}  // namespace zvedit
