// What each object offers to `set`, with the current values: the rows of
// the property grid. The keys, ranges and choices are the ones ApplyProperty
// takes; a value left empty has no single current value (a menu-wide sound
// that each button may have changed) and is only written.
#include <string>
#include <vector>

#include "bdnav/navcmd.h"
#include "bdnav/playlist_file.h"
#include "edit/properties.h"
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

std::string StateGraphics(const zv::CButtonStateInfo& st) {
  if (!st.m_start.p) return "none";
  if (!st.m_end.p || st.m_end.p == st.m_start.p) return st.m_start.p->m_strName;
  return st.m_start.p->m_strName + "," + st.m_end.p->m_strName;
}

std::string SoundText(uint8_t id) { return id == 0xFF ? "none" : std::to_string(id); }

void DescribeTrack(const Target& t, Rows& r) {
  const std::vector<zv::STrackRef> refs = t.story->TrackRefs();
  if (t.trackIndex >= refs.size()) return;
  const zv::STrackRef& ref = refs[t.trackIndex];
  r.Bool("enabled", ref.enabled);
  r.Bool("primary", ref.primary);
  r.Language("language", ref.language);
  r.Int("delay", -2147483647L, 2147483647L, ref.delay);
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

void DescribeMenu(zv::CZvIgObject& m, Rows& r) {
  r.Text("name", m.m_strName);
  r.Bool("popup", m.m_bPopup);
  if (m.m_bPopup) r.Int("timeout", 0, 0xFFFFFF / 90000, m.m_nUserTimeout);
  r.Choice("stream-model", {"own-clip"}, "own-clip");
  r.Language("language", zv::LanguageCodeAt(m.m_nLanguage));
  r.Text("selected-sound", "");
  r.Text("activated-sound", "");
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
  r.Choice("neighbours", {"", "spatial", "sequential"}, "");
  r.Text("in-effect", "");
  r.Text("out-effect", "");
  r.Int("animation-frame-rate", 0, 255, page.m_nAnimationFrameRateCode);
}

void DescribeButton(zv::CBdButton& b, Rows& r) {
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
  for (int i = 0; i < type.ParameterCount(); ++i)
    if (type.ParameterName(i)) r.Text(type.ParameterName(i), "");
  std::string cmds;
  for (const zv::CNavCmd& c : b.m_commands) cmds += (cmds.empty() ? "" : "; ") + zv::CommandText(c);
  r.Text("commands", cmds.empty() ? "none" : cmds);
  const char* states[3] = {"normal", "selected", "activated"};
  for (size_t s = 0; s < 3; ++s) r.Text(states[s], StateGraphics(b.m_states[s]));
  r.Text("selected-sound", SoundText(b.m_states[1].m_nSoundId));
  r.Text("activated-sound", SoundText(b.m_states[2].m_nSoundId));
  for (size_t s = 0; s < 3; ++s) r.Bool(std::string(states[s]) + "-repeat", b.m_states[s].m_bRepeat);
}

}  // namespace

std::vector<PropertyInfo> Describe(zv::CZvObject& /*project*/, const Target& t) {
  Rows r;
  zv::CNamedObject* obj = t.object;
  if (t.isTrack) DescribeTrack(t, r);
  else if (auto* pl = dynamic_cast<zv::CPlObject*>(obj)) DescribeTitle(*pl, r);
  else if (auto* pi = dynamic_cast<zv::CPiObject*>(obj)) DescribePlayItem(*pi, r);
  else if (auto* menu = dynamic_cast<zv::CZvIgObject*>(obj)) DescribeMenu(*menu, r);
  else if (auto* page = dynamic_cast<zv::CPage*>(obj)) DescribePage(*page, r);
  else if (auto* bog = dynamic_cast<zv::CBog*>(obj)) {
    r.Text("name", bog->m_strName);
    std::vector<std::string> buttons{"none"};
    for (size_t i = 0; i < bog->GetCount(); ++i) buttons.push_back(bog->GetAt(i)->m_strName);
    r.Choice("default", buttons, RefName(bog->m_defaultButton.p));
  } else if (auto* b = dynamic_cast<zv::CBdButton*>(obj)) DescribeButton(*b, r);
  else if (t.story || dynamic_cast<zv::CFilmObject*>(obj)) r.Text("name", obj->m_strName);
  return r.rows;
}

}  // namespace zvedit
