// Checking and applying one KEY=VALUE setting to an object of a project:
// what `set` and the property grid both do.
#include "edit/properties.h"

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "bdnav/navcmd.h"
#include "bdnav/playlist_file.h"
#include "edit/track_encode.h"
#include "edit/values.h"
#include "graphics/effect_forms.h"
#include "graphics/ig_compiler.h"
#include "graphics/menu_model.h"
#include "model/button_types.h"
#include "model/object_path.h"
#include "model/project.h"
#include "platform/paths.h"
#include "subtitles/style_keys.h"

namespace zvedit {

namespace {

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

const char* const kNoneName = "\"none\" stands for no object in settings, so it cannot be a name";

// Names address objects, so they must stay unique among the names a lookup
// compares at the object's level, and free of the path separator.
bool SetName(zv::CZvObject& project, zv::CNamedObject& obj, const Pair& p) {
  const std::string& name = p.value;
  if (name.empty()) return p.Bad("a name cannot be empty");
  if (name.size() > kMaxNameLength) return p.Bad("a name has at most " + std::to_string(kMaxNameLength) + " bytes");
  if (zv::EqualsNoCase(name, "none")) return p.Bad(kNoneName);
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

// The style keys and `forced` of a track drawn from text subtitles; the
// stream is drawn again at the next build.
bool SetTextTrack(zv::CStoryObject& story, size_t index, const Pair& p) {
  const std::string source = story.TextSourceOf(index);
  if (source.empty()) return p.Bad("only a track drawn from text subtitles (SRT, WebVTT, ASS) has this setting");
  zv::STextTrackStyle s;
  if (const auto it = story.m_textStyles.find(source); it != story.m_textStyles.end()) s = it->second;
  if (p.key == "forced") {
    if (!p.Bool(s.forced)) return false;
  } else {
    std::string want;
    if (!zv::SetSubtitleStyle(p.key, p.value, s.style, want)) return p.Bad("expected " + want + ", or nothing to unset it");
  }
  if (!s.forced && zv::SubtitleStyleText(s.style).empty()) story.m_textStyles.erase(source);
  else story.m_textStyles[source] = s;
  return true;
}

bool SetTrack(zv::CStoryObject& story, size_t index, const Pair& p) {
  if (p.key == "forced" || zv::IsSubtitleStyleKey(p.key)) return SetTextTrack(story, index, p);
  // Noted here, encoded by the shell with progress before it saves.
  if (IsTrackEncodeKey(p.key)) {
    std::string why;
    return AskTrackEncode(story, index, p.key, p.value, why) || p.Bad(why);
  }
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
    return p.UnknownKey("a track", HasTrackEncode(story, index) ? "enabled, primary, language, delay, encode, encode-format"
                                   : story.TextSourceOf(index).empty()
                                        ? "enabled, primary, language, delay"
                                        : "enabled, primary, language, delay, font, size, colour, outline, shadow, "
                                          "bottom-margin, position, forced");
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

// Names address the parts, so they stay unique among their siblings'
// kind on the page (buttons across all BOGs, since neighbours are named).
bool Rename(zv::CNamedObject& obj, const std::vector<zv::CNamedObject*>& others, const Pair& s) {
  const std::string& name = s.value;
  if (name.empty()) return s.Bad("a name cannot be empty");
  if (name.size() > 255) return s.Bad("a name has at most 255 bytes");
  // Settings that point to a part take these words for "no part" and "the
  // one selected", so a part with such a name could not be pointed to.
  if (zv::EqualsNoCase(name, "none")) return s.Bad(kNoneName);
  if (zv::EqualsNoCase(name, "current"))
    return s.Bad("\"current\" stands for the selected button in settings, so it cannot be a name");
  for (unsigned char c : name)
    if (c == '/' || c == '\\' || c < 0x20 || c == 0x7F) return s.Bad("a name cannot contain '/', '\\' or control characters");
  for (const zv::CNamedObject* o : others)
    if (o != &obj && zv::EqualsNoCase(o->m_strName, name)) return s.Bad("\"" + o->m_strName + "\" already has that name");
  obj.m_strName = name;
  return true;
}

bool ButtonOfPage(zv::CPage& page, const Pair& s, bool allowNone, zv::CBdButton*& out) {
  if (allowNone && zv::EqualsNoCase(s.value, "none")) return out = nullptr, true;
  out = page.FindButton(s.value);
  if (!out) return s.Bad("expected a button of page \"" + page.m_strName + "\"" + (allowNone ? " or none" : ""));
  return true;
}

}  // namespace

zv::CGraphicObject* FindGraphic(zv::CEpoch* epoch, const std::string& name) {
  if (!epoch) return nullptr;
  zv::CNamedPtrCollection all;
  zv::GatherGraphics(*epoch, all);
  for (size_t i = 0; i < all.GetCount(); ++i)
    if (zv::EqualsNoCase(all.GetAt(i)->m_strName, name)) return static_cast<zv::CGraphicObject*>(all.GetAt(i));
  return nullptr;
}

namespace {

// none, fade,GRAPHIC,X,Y,MS[,STEPS] or slide,SIDE,GRAPHIC,X,Y,MS[,STEPS].
bool SetPageEffect(zv::CPage& page, bool in, const Pair& s) {
  if (zv::EqualsNoCase(s.value, "none")) return zv::ClearEffects(page, in), true;
  std::vector<std::string> f;
  for (size_t at = 0;;) {
    const size_t comma = s.value.find(',', at);
    f.push_back(s.value.substr(at, comma == std::string::npos ? std::string::npos : comma - at));
    if (comma == std::string::npos) break;
    at = comma + 1;
  }
  const char* form = "expected none, fade,GRAPHIC,X,Y,MS[,STEPS] or slide,left|right|top|bottom,GRAPHIC,X,Y,MS[,STEPS]";
  zv::SEffectForm fx;
  size_t i = 1;
  if (zv::EqualsNoCase(f[0], "fade")) {
    fx.kind = zv::SEffectForm::kFade;
  } else if (zv::EqualsNoCase(f[0], "slide") && f.size() > 1 && zv::ParseEffectSide(f[1], fx.side)) {
    fx.kind = zv::SEffectForm::kSlide;
    i = 2;
  } else {
    return s.Bad(form);
  }
  if (f.size() != i + 4 && f.size() != i + 5) return s.Bad(form);
  zv::CEpoch* epoch = zv::EpochOf(&page);
  if (epoch) zv::LoadGraphicSizes(*epoch);  // the project keeps only the pictures' paths
  fx.graphic = FindGraphic(epoch, f[i]);
  if (!fx.graphic) return s.Bad("\"" + f[i] + "\" is no graphic of the menu");
  long v[4] = {0, 0, 0, 8};
  const long hi[4] = {0xFFFF, 0xFFFF, 0xFFFFFF / 90, zv::kMaxFormSteps};
  for (size_t k = 0; k + i + 1 < f.size(); ++k) {
    char* end = nullptr;
    const std::string& t = f[i + 1 + k];
    v[k] = std::strtol(t.c_str(), &end, 10);
    if (t.empty() || *end || v[k] < (k == 3 ? 1 : 0) || v[k] > hi[k]) return s.Bad(form);
  }
  fx.x = static_cast<int32_t>(v[0]);
  fx.y = static_cast<int32_t>(v[1]);
  fx.duration = static_cast<uint32_t>(v[2]) * 90;
  fx.steps = static_cast<int32_t>(v[3]);
  std::string error;
  if (!zv::ApplyEffectForm(page, in, fx, error)) return s.Bad(error);
  return true;
}

bool SetPage(zv::CPage& page, const Pair& s) {
  if (s.key == "name") {
    std::vector<zv::CNamedObject*> others;
    if (auto* ds = dynamic_cast<zv::CDisplaySet*>(page.m_pParent))
      for (size_t i = 0; i < ds->GetCount(); ++i) others.push_back(ds->GetAt(i));
    return Rename(page, others, s);
  }
  zv::CBdButton* b = nullptr;
  if (s.key == "default-selected") {
    if (!ButtonOfPage(page, s, true, b)) return false;
    page.m_defaultSelected.Set(b);
    return true;
  }
  if (s.key == "default-activated") {
    if (zv::EqualsNoCase(s.value, "current")) return page.m_defaultActivated.Set(&page.m_currentSelected), true;
    if (!ButtonOfPage(page, s, true, b)) return false;
    page.m_defaultActivated.Set(b);
    return true;
  }
  if (s.key == "neighbours" || s.key == "neighbors") {
    int mode;
    if (zv::EqualsNoCase(s.value, "spatial")) mode = zv::kNeighboursSpatial;
    else if (zv::EqualsNoCase(s.value, "sequential")) mode = zv::kNeighboursSequential;
    else return s.Bad("expected spatial or sequential");
    size_t defaults = 0;
    for (size_t g = 0; g < page.GetCount(); ++g) defaults += page.GetAt(g)->m_defaultButton.p != nullptr;
    if (defaults < 2) return s.Bad("the page needs at least two BOGs with a default button");
    zv::ComputeNeighbours(page, mode);
    return true;
  }
  if (s.key == "palette") {
    zv::CEpoch* epoch = zv::EpochOf(&page);
    if (zv::EqualsNoCase(s.value, "none")) return page.m_palette.Clear(), true;
    for (size_t i = 0; epoch && i < epoch->m_palettes.GetCount(); ++i)
      if (zv::EqualsNoCase(epoch->m_palettes.GetAt(i)->m_strName, s.value))
        return page.m_palette.Set(epoch->m_palettes.GetAt(i)), true;
    return s.Bad("expected a palette of the epoch or none");
  }
  if (s.key == "animation-frame-rate") {
    long n = 0;
    char* end = nullptr;
    n = std::strtol(s.value.c_str(), &end, 10);
    if (s.value.empty() || *end || n < 0 || n > 255) return s.Bad("expected 0..255");
    page.m_nAnimationFrameRateCode = static_cast<uint8_t>(n);
    return true;
  }
  if (s.key == "in-effect" || s.key == "out-effect") return SetPageEffect(page, s.key == "in-effect", s);
  return s.UnknownKey("a page",
                   "name, default-selected, default-activated, neighbours, palette, in-effect, out-effect, "
                   "animation-frame-rate");
}

bool SetBog(zv::CBog& bog, const Pair& s) {
  if (s.key == "name") {
    std::vector<zv::CNamedObject*> others;
    if (zv::CPage* page = bog.Page())
      for (size_t i = 0; i < page->GetCount(); ++i) others.push_back(page->GetAt(i));
    return Rename(bog, others, s);
  }
  if (s.key == "default") {
    if (zv::EqualsNoCase(s.value, "none")) return bog.m_defaultButton.Clear(), true;
    for (size_t i = 0; i < bog.GetCount(); ++i)
      if (zv::EqualsNoCase(bog.GetAt(i)->m_strName, s.value)) return bog.m_defaultButton.Set(bog.GetAt(i)), true;
    return s.Bad("expected a button of this BOG or none");
  }
  return s.UnknownKey("a BOG", "name, default");
}

// "START" or "START,END" graphic names, or none.
bool SetState(zv::CBdButton& b, size_t state, const Pair& s) {
  zv::CButtonStateInfo& st = b.m_states[state];
  if (zv::EqualsNoCase(s.value, "none")) {
    st.m_start.Clear();
    st.m_end.Clear();
    return true;
  }
  zv::CEpoch* epoch = zv::EpochOf(&b);
  const size_t comma = s.value.find(',');
  const std::string first = s.value.substr(0, comma);
  const std::string last = comma == std::string::npos ? first : s.value.substr(comma + 1);
  // One end may be "none": the description shows a state that lost a
  // picture that way, and its value must be taken back unchanged.
  const bool noA = zv::EqualsNoCase(first, "none"), noZ = zv::EqualsNoCase(last, "none");
  zv::CGraphicObject* a = noA ? nullptr : FindGraphic(epoch, first);
  zv::CGraphicObject* z = noZ ? nullptr : FindGraphic(epoch, last);
  if ((!a && !noA) || (!z && !noZ)) return s.Bad("expected graphics of the epoch by name (START or START,END), or none");
  st.m_start.Set(a);
  st.m_end.Set(z);
  return true;
}

// Types by their names in the type list (or by code); a type applies to
// every button of the BOG.
bool SetType(zv::CBdButton& b, const Pair& s) {
  if (const zv::CButtonType* t = zv::FindButtonType(s.value)) return zv::SelectButtonType(b, *t), true;
  long n = 0;
  if (ParseInt(s.value, 0, 255, n)) {
    const zv::CButtonType& t = zv::ButtonTypeOf(static_cast<uint8_t>(n));
    // A code outside the list, as streams made elsewhere carry, is kept on
    // this button alone.
    if (t.Code() == n) zv::SelectButtonType(b, t);
    else b.SetButtonType(static_cast<uint8_t>(n));
    return true;
  }
  std::string names;
  for (const zv::CButtonType* t : zv::ButtonTypeRegistry()) names += std::string(names.empty() ? "" : ", ") + "\"" + t->Name() + "\"";
  return s.Bad("no button type of that name; the types are " + names);
}

bool IsParameterName(const std::string& key) {
  for (const zv::CButtonType* t : zv::ButtonTypeRegistry())
    for (int i = 0; i < t->ParameterCount(); ++i)
      if (t->ParameterName(i) && key == t->ParameterName(i)) return true;
  return false;
}

// A choice of the button's type by the name of what it chooses (none clears
// it), for every button of the BOG.
bool SetTypeParameter(zv::CBdButton& b, const Pair& s) {
  const zv::CButtonType& type = zv::ButtonTypeOf(b.m_nButtonType);
  int index = -1;
  std::string own;
  for (int i = 0; i < type.ParameterCount(); ++i) {
    if (!type.ParameterApplies(b, i)) continue;
    own += std::string(own.empty() ? "" : ", ") + type.ParameterName(i);
    if (s.key == type.ParameterName(i)) index = i;
  }
  if (type.Code() != b.m_nButtonType || index < 0)
    return s.Bad("a button of type \"" + (type.Code() == b.m_nButtonType ? type.Name() : std::to_string(b.m_nButtonType)) +
                 "\" has " + (own.empty() ? std::string("no choices") : "the choices " + own) +
                 " (set type=NAME first)");
  if (zv::EqualsNoCase(s.value, "none")) return type.ApplyParameter(b, index, zv::kNoChoice), true;
  const std::vector<std::string> names = type.FillParameterOptions(b, index);
  for (int i = 0; i < index; ++i)
    if (names.empty() && type.ParameterActive(i) == type.ParameterActive(index) && zv::ButtonParameter(b, i) < 0)
      return s.Bad(std::string("choose ") + type.ParameterName(i) + " first");
  int found = -1;
  for (size_t i = 0; i < names.size() && found < 0; ++i)
    if (names[i] == s.value) found = static_cast<int>(i);
  for (size_t i = 0; i < names.size() && found < 0; ++i)
    if (zv::EqualsNoCase(names[i], s.value)) found = static_cast<int>(i);
  if (found < 0) {
    if (names.empty()) return s.Bad(std::string("there is no ") + type.ParameterName(index) + " to choose");
    std::string list;
    for (const std::string& n : names) list += std::string(list.empty() ? "" : ", ") + "\"" + n + "\"";
    return s.Bad(std::string("no ") + type.ParameterName(index) + " of that name; there are " + list);
  }
  type.ApplyParameter(b, index, found);
  return true;
}

bool SetButton(zv::CBdButton& b, const Pair& s) {
  zv::CBog* bog = dynamic_cast<zv::CBog*>(b.m_pParent);
  zv::CPage* page = bog ? bog->Page() : nullptr;
  const std::string& k = s.key;
  long n = 0;
  bool yes = false;
  if (k == "name") {
    std::vector<zv::CNamedObject*> others;
    if (page)
      for (zv::CBdButton* o : page->Buttons()) others.push_back(o);
    return Rename(b, others, s);
  }
  if (k == "x" || k == "y") {
    if (!ParseInt(s.value, 0, 0xFFFF, n)) return s.Bad("expected a position, 0 to 65535");
    (k == "x" ? b.m_nX : b.m_nY) = static_cast<uint16_t>(n);
    return true;
  }
  if (k == "up" || k == "down" || k == "left" || k == "right") {
    if (!page) return s.Bad("the button is not on a page");
    zv::CBdButton* t = nullptr;
    if (!ButtonOfPage(*page, s, true, t)) return false;
    zv::CModelRef<zv::CBdButton>& r =
        k == "up" ? b.m_neighbors.up : k == "down" ? b.m_neighbors.down : k == "left" ? b.m_neighbors.left : b.m_neighbors.right;
    r.Set(t);
    return true;
  }
  if (k == "auto-action") {
    if (!ParseBool(s.value, yes)) return s.Bad("expected yes or no");
    b.m_bAutoAction = yes;
    return true;
  }
  if (k == "numeric") {
    if (zv::EqualsNoCase(s.value, "none")) return b.m_nNumericValue = 0xFFFF, true;
    if (!ParseInt(s.value, 0, 9999, n)) return s.Bad("expected a number, 0 to 9999, or none");
    b.m_nNumericValue = static_cast<uint16_t>(n);
    return true;
  }
  if (k == "type") return SetType(b, s);
  if (IsParameterName(k)) return SetTypeParameter(b, s);
  if (k == "commands") {
    // Lines separated by ';'; each goes through the command assembler.
    zv::CNavCmds cmds;
    if (!zv::EqualsNoCase(s.value, "none")) {
      size_t start = 0;
      while (start <= s.value.size()) {
        size_t semi = s.value.find(';', start);
        std::string line = s.value.substr(start, semi == std::string::npos ? std::string::npos : semi - start);
        while (!line.empty() && line.front() == ' ') line.erase(line.begin());
        while (!line.empty() && line.back() == ' ') line.pop_back();
        if (!line.empty() && !cmds.Add(line)) return s.Bad("\"" + line + "\" is not a navigation command");
        if (semi == std::string::npos) break;
        start = semi + 1;
      }
      if (cmds.Count() > 0xFFFF) return s.Bad("a button has at most 65535 commands");
    }
    if (b.m_nButtonType != 0 && b.m_nButtonType != 1 && !cmds.Empty())
      return s.Bad("a typed button gets its commands from its type (set type=0 first)");
    b.m_commands = cmds;
    return true;
  }
  if (k == "normal" || k == "selected" || k == "activated")
    return SetState(b, k == "normal" ? 0 : k == "selected" ? 1 : 2, s);
  if (k == "selected-sound" || k == "activated-sound") {
    uint8_t& sound = b.m_states[k == "selected-sound" ? 1 : 2].m_nSoundId;
    int32_t id = -1;
    std::string why;
    if (!ParseSoundId(b, s.value, id, why)) return s.Bad(why);
    sound = id < 0 ? 0xFF : static_cast<uint8_t>(id);
    return true;
  }
  if (k == "normal-repeat" || k == "selected-repeat" || k == "activated-repeat") {
    if (!ParseBool(s.value, yes)) return s.Bad("expected yes or no");
    b.m_states[k[0] == 'n' ? 0 : k[0] == 's' ? 1 : 2].m_bRepeat = yes;
    return true;
  }
  return s.UnknownKey("a button",
                   "name, x, y, up, down, left, right, auto-action, numeric, type, the type's choices (movie-group, "
                   "movie, chapter, page, audio, subtitle, trailer), commands, normal, selected, "
                   "activated, selected-sound, activated-sound, normal-repeat, selected-repeat, activated-repeat");
}

}  // namespace

bool IsMenuPart(const zv::CNamedObject& obj) {
  return dynamic_cast<const zv::CPage*>(&obj) || dynamic_cast<const zv::CBog*>(&obj) ||
         dynamic_cast<const zv::CBdButton*>(&obj);
}
bool SetMenuPart(zv::CNamedObject& obj, const std::string& key, const std::string& value, std::string& error) {
  const Pair s{key, value, error};
  if (auto* page = dynamic_cast<zv::CPage*>(&obj)) {
    // Spatial neighbours need the buttons' sizes, which come from the pictures.
    if (key == "neighbours" || key == "neighbors")
      if (zv::CEpoch* e = zv::EpochOf(page))
        if (auto* ig = dynamic_cast<zv::CIgObject*>(e->m_pParent)) LoadGraphicSizes(*ig);
    return SetPage(*page, s);
  }
  if (auto* bog = dynamic_cast<zv::CBog*>(&obj)) return SetBog(*bog, s);
  if (auto* b = dynamic_cast<zv::CBdButton*>(&obj)) return SetButton(*b, s);
  error = "not a page, BOG or button";
  return false;
}
void LoadGraphicSizes(zv::CIgObject& menu) {
  for (size_t e = 0; e < menu.GetCount(); ++e) {
    zv::CNamedPtrCollection all;
    zv::GatherGraphics(*menu.GetAt(e), all);
    for (size_t i = 0; i < all.GetCount(); ++i) {
      auto* g = static_cast<zv::CGraphicObject*>(all.GetAt(i));
      if (g->m_nWidth != 0 || g->m_strPath.empty()) continue;
      zv::CPicture pic;
      std::string error;
      if (g->LoadPicture(pic, error)) {
        g->m_nWidth = pic.width;
        g->m_nHeight = pic.height;
      }
    }
  }
}

bool FindTarget(zv::CZvObject& project, const std::string& path, Target& target, std::string& error) {
  target = Target{};
  std::string objectPath = path;
  const size_t slash = objectPath.rfind('/');
  const std::string last = slash == std::string::npos ? objectPath : objectPath.substr(slash + 1);
  if (zv::ToLower(last).rfind("track#", 0) == 0) {
    long n = 0;
    if (!ParseInt(last.substr(6), 1, 100000, n)) return error = "\"" + path + "\": a track is numbered from 1", false;
    target.isTrack = true;
    target.trackIndex = static_cast<size_t>(n - 1);
    objectPath = slash == std::string::npos ? std::string() : objectPath.substr(0, slash);
  }
  target.object = zv::FindObject(project, objectPath, error);
  if (!target.object) return false;
  target.story = dynamic_cast<zv::CStoryObject*>(target.object);
  if (target.isTrack && !target.story) return error = "\"" + objectPath + "\" is not a clip, so it has no tracks", false;
  return true;
}

bool HasSettings(const Target& t) {
  zv::CNamedObject* obj = t.object;
  return t.isTrack || dynamic_cast<zv::CPlObject*>(obj) || dynamic_cast<zv::CPiObject*>(obj) ||
         dynamic_cast<zv::CZvIgObject*>(obj) || (obj && IsMenuPart(*obj)) || t.story ||
         dynamic_cast<zv::CFilmObject*>(obj);
}

bool ApplyProperty(zv::CZvObject& project, const Target& t, const std::string& key, const std::string& value,
                   std::string& error) {
  const Pair p{key, value, error};
  zv::CNamedObject* obj = t.object;
  if (t.isTrack) return SetTrack(*t.story, t.trackIndex, p);
  if (auto* pl = dynamic_cast<zv::CPlObject*>(obj)) return SetPlaylist(project, *pl, p);
  if (auto* pi = dynamic_cast<zv::CPiObject*>(obj)) return SetPlayItem(*pi, p);
  if (auto* menu = dynamic_cast<zv::CZvIgObject*>(obj)) return SetMenu(project, *menu, p);
  if (IsMenuPart(*obj)) return SetMenuPart(*obj, key, value, error);
  if (t.story || dynamic_cast<zv::CFilmObject*>(obj))
    return key == "name" ? SetName(project, *obj, p)
                         : p.UnknownKey(t.story ? "a clip" : "a film", t.story ? "name; its tracks are CLIP/Track#N" : "name");
  error = "has no settings";
  return false;
}

void FinishChange(const Target& t) {
  if (!t.isTrack) return;
  if (zv::CFilmObject* film = zv::FilmOf(t.story))
    for (size_t i = 0; i < film->m_playlists.GetCount(); ++i)
      for (size_t k = 0; k < film->m_playlists.GetAt(i)->GetCount(); ++k)
        if (film->m_playlists.GetAt(i)->GetAt(k)->m_pStory == t.story)
          zv::LinkStory(*film->m_playlists.GetAt(i)->GetAt(k), t.story);
}

}  // namespace zvedit
