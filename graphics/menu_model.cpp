#include "graphics/menu_model.h"

#include <strings.h>

#include <algorithm>
#include <bitset>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "graphics/segment_syntax.h"

namespace zv {

void SVideoDescriptor::Serialize(CArchive& ar) {
  ar.Word(width);
  ar.Word(height);
  ar.Byte(frameRateCode);
  ar.Byte(reserved);
}

namespace {

std::string Numbered(const char* base, long n) {
  char name[96];
  std::snprintf(name, sizeof name, "%s#%d", base, static_cast<int>(n));
  return name;
}

uint16_t GraphicRef(int32_t id) { return id < 0 || id > 0xFFFF ? 0xFFFF : static_cast<uint16_t>(id); }
int32_t GraphicId(uint16_t ref) { return ref == 0xFFFF ? -1 : ref; }

template <class R>
size_t WriteRecord(const R& r, uint8_t* dst, size_t capacity) {
  std::vector<uint8_t> bytes = rec::Encode(r);
  if (dst) {
    if (bytes.size() > capacity) throw std::out_of_range("graphics record larger than its buffer");
    std::memcpy(dst, bytes.data(), bytes.size());
  }
  return bytes.size();
}

template <class R>
bool ReadRecord(const uint8_t* src, size_t size, R& r, size_t& used) {
  try {
    used = rec::Decode(src, size, r);
    return true;
  } catch (const FormatError&) {
    used = 0;
    return false;
  }
}

// Copies a reference's id as its pointer says, dropping the pointer: the
// copy resolves it again among its own objects.
template <class T>
void CopyRefId(CModelRef<T>& dst, const CModelRef<T>& src) {
  dst.p = nullptr;
  dst.id = src.p ? src.p->m_nId : src.id;
}

// A reference to a shared object of the epoch keeps its pointer.
template <class T>
void CopyRefShared(CModelRef<T>& dst, const CModelRef<T>& src) {
  dst.p = src.p;
  dst.id = src.p ? src.p->m_nId : src.id;
}

}  // namespace

// ---------------------------------------------------------------- buttons

void CButtonStateInfo::Serialize(CArchive& ar) {
  ar.ZeroByte();
  ar.Int(m_start.id);
  ar.Int(m_end.id);
  ar.Byte(m_nSoundId);
  ar.Bool(m_bRepeat);
}

void CBdButton::SetButtonType(uint8_t type) {
  m_nButtonType = type;
  if (type != 1) m_commands.Clear();
}

const CGraphicObject* CBdButton::SizeGraphic() const {
  for (const CButtonStateInfo& s : m_states) {
    if (s.m_start.p) return s.m_start.p;
    if (s.m_end.p) return s.m_end.p;
  }
  return nullptr;
}

int CBdButton::Width() const {
  const CGraphicObject* g = SizeGraphic();
  return g ? g->m_nWidth : 0;
}

int CBdButton::Height() const {
  const CGraphicObject* g = SizeGraphic();
  return g ? g->m_nHeight : 0;
}

bool CBdButton::UsesGraphic(int32_t id) const {
  if (id < 0) return false;
  for (const CButtonStateInfo& s : m_states) {
    int32_t a = s.m_start.p ? s.m_start.p->m_nId : s.m_start.id;
    int32_t b = s.m_end.p ? s.m_end.p->m_nId : s.m_end.id;
    if (id == a || id == b) return true;
    if (a >= 0 && b >= 0 && id >= std::min(a, b) && id <= std::max(a, b)) return true;
  }
  return false;
}

void CBdButton::RefreshIds() {
  for (CButtonStateInfo& s : m_states) {
    s.m_start.Refresh();
    s.m_end.Refresh();
  }
  for (int i = 0; i < 4; ++i) m_neighbors.All()[i].Refresh();
}

SButton CBdButton::ToRecord() const {
  SButton b;
  b.id = static_cast<uint16_t>(m_nId < 0 ? 0 : m_nId);
  b.numericValue = m_nNumericValue;
  b.autoAction = m_bAutoAction;
  b.x = m_nX;
  b.y = m_nY;
  // The syntax has no "none": a missing neighbour is the button itself.
  auto nb = [&](const CModelRef<CBdButton>& r) { return r.id < 0 ? b.id : static_cast<uint16_t>(r.id); };
  b.up = nb(m_neighbors.up);
  b.down = nb(m_neighbors.down);
  b.left = nb(m_neighbors.left);
  b.right = nb(m_neighbors.right);
  SButtonState* st[3] = {&b.normal, &b.selected, &b.activated};
  for (int i = 0; i < 3; ++i) {
    st[i]->startObjectId = GraphicRef(m_states[i].m_start.id);
    st[i]->endObjectId = GraphicRef(m_states[i].m_end.id);
  }
  b.normalRepeat = m_states[kNormal].m_bRepeat;
  b.selectedRepeat = m_states[kSelected].m_bRepeat;
  b.selectedSound = m_states[kSelected].m_nSoundId;
  b.activatedSound = m_states[kActivated].m_nSoundId;
  for (const CNavCmd& c : m_commands) b.commands.push_back(c.bytes);
  return b;
}

void CBdButton::FromRecord(const SButton& b) {
  m_nId = b.id;
  m_nNumericValue = b.numericValue;
  m_bAutoAction = b.autoAction;
  m_nX = b.x;
  m_nY = b.y;
  const uint16_t nb[4] = {b.up, b.down, b.left, b.right};
  for (int i = 0; i < 4; ++i) {
    m_neighbors.All()[i].p = nullptr;
    m_neighbors.All()[i].id = nb[i];
  }
  const SButtonState* st[3] = {&b.normal, &b.selected, &b.activated};
  for (int i = 0; i < 3; ++i) {
    m_states[i].m_start = {nullptr, GraphicId(st[i]->startObjectId)};
    m_states[i].m_end = {nullptr, GraphicId(st[i]->endObjectId)};
  }
  m_states[kNormal].m_bRepeat = b.normalRepeat;
  m_states[kSelected].m_bRepeat = b.selectedRepeat;
  m_states[kSelected].m_nSoundId = b.selectedSound;
  m_states[kActivated].m_nSoundId = b.activatedSound;
  m_commands.Clear();
  for (const SNavCommand& c : b.commands) {
    CNavCmd cmd;
    cmd.bytes = c;
    m_commands.Add(cmd);
  }
  m_nButtonType = 0;
  m_params = {};
  m_pTypeLink = nullptr;
  // Typed buttons carry their type in a marker command at index 59 and the
  // parameters as the second operand of the four commands after it.
  if (m_commands.Count() == 64) {
    const auto& marker = m_commands[59].bytes;
    if (marker[0] == 0xFF && marker[1] == 0xFF && marker[2] == 0xFF && marker[3] == 0xFF) {
      m_nButtonType = marker[11];
      for (int k = 0; k < 4; ++k) m_params[k] = m_commands[60 + k].Src();
    }
  }
}

size_t CBdButton::ParseBytes(const uint8_t* src, size_t size, void*) {
  SButton b;
  size_t used;
  if (!ReadRecord(src, size, b, used)) return 0;
  FromRecord(b);
  return used;
}

size_t CBdButton::WriteBytes(uint8_t* dst, size_t capacity, void*) {
  RefreshIds();
  return WriteRecord(ToRecord(), dst, capacity);
}

void CBdButton::Serialize(CArchive& ar) {
  CNamedObject::Serialize(ar);
  ar.ZeroByte();
  ar.Byte(m_nButtonType);
  for (uint32_t& v : m_params) ar.Dword(v);
  ar.Word(m_nNumericValue);
  ar.Bool(m_bAutoAction);
  ar.Word(m_nX);
  ar.Word(m_nY);
  for (int i = 0; i < 4; ++i) ar.Int(m_neighbors.All()[i].id);
  for (CButtonStateInfo& s : m_states) s.Serialize(ar);
  // The command list as a record array: its own (empty) name and id first.
  std::string name;
  int32_t id = -1;
  ar.Str(name);
  ar.Int(id);
  if (ar.IsStoring()) m_commands.StoreRecords(ar.Out());
  else m_commands.LoadRecords(ar.In());
}

void CBdButton::CopyFrom(const CNamedObject& src) {
  CNamedObject::CopyFrom(src);
  auto* b = dynamic_cast<const CBdButton*>(&src);
  if (!b) return;
  m_nButtonType = b->m_nButtonType;
  m_params = b->m_params;
  m_pTypeLink = b->m_pTypeLink;
  m_nNumericValue = b->m_nNumericValue;
  m_bAutoAction = b->m_bAutoAction;
  m_nX = b->m_nX;
  m_nY = b->m_nY;
  for (int i = 0; i < 4; ++i) CopyRefId(m_neighbors.All()[i], b->m_neighbors.All()[i]);
  for (int i = 0; i < 3; ++i) {
    CopyRefShared(m_states[i].m_start, b->m_states[i].m_start);
    CopyRefShared(m_states[i].m_end, b->m_states[i].m_end);
    m_states[i].m_nSoundId = b->m_states[i].m_nSoundId;
    m_states[i].m_bRepeat = b->m_states[i].m_bRepeat;
  }
  m_commands = b->m_commands;
}

// ---------------------------------------------------------------- BOGs

CPage* CBog::Page() const { return dynamic_cast<CPage*>(m_pParent); }

CBdButton* CBog::AddButton() {
  CPage* page = Page();
  int32_t id = 0;
  if (page) {
    id = page->NextButtonId();
  } else {
    // A BOG outside a page numbers within itself.
    std::vector<bool> used(CPage::kMaxButtonIds, false);
    for (size_t i = 0; i < GetCount(); ++i)
      if (GetAt(i)->m_nId >= 0 && GetAt(i)->m_nId < CPage::kMaxButtonIds) used[GetAt(i)->m_nId] = true;
    while (id < CPage::kMaxButtonIds && used[id]) ++id;
  }
  if (id >= CPage::kMaxButtonIds) return nullptr;
  auto b = std::make_unique<CBdButton>();
  b->m_nId = id;
  b->SetName(Numbered("Button", id + 1));
  CBdButton* added = Add(std::move(b));
  if (!m_defaultButton.p) m_defaultButton.Set(added);
  return added;
}

SBog CBog::ToRecord() const {
  SBog g;
  g.defaultButtonIdRef = m_defaultButton.id < 0 ? 0xFFFF : static_cast<uint16_t>(m_defaultButton.id);
  for (size_t i = 0; i < GetCount(); ++i) g.buttons.push_back(GetAt(i)->ToRecord());
  return g;
}

void CBog::FromRecord(const SBog& g) {
  Reset();
  for (const SButton& sb : g.buttons) {
    auto b = std::make_unique<CBdButton>();
    b->FromRecord(sb);
    b->SetName(Numbered("Button", sb.id + 1));
    Add(std::move(b));
  }
  m_defaultButton.p = nullptr;
  m_defaultButton.id = g.defaultButtonIdRef == 0xFFFF ? -1 : g.defaultButtonIdRef;
  CNamedPtrCollection own;
  Gather(own);
  m_defaultButton.Resolve(own);
}

size_t CBog::ParseBytes(const uint8_t* src, size_t size, void*) {
  SBog g;
  size_t used;
  if (!ReadRecord(src, size, g, used)) return 0;
  FromRecord(g);
  return used;
}

size_t CBog::WriteBytes(uint8_t* dst, size_t capacity, void*) {
  m_defaultButton.Refresh();
  for (size_t i = 0; i < GetCount(); ++i) GetAt(i)->RefreshIds();
  return WriteRecord(ToRecord(), dst, capacity);
}

// The buttons, then the default button's id.
void CBog::Serialize(CArchive& ar) {
  SerializeArray(ar);
  ar.Int(m_defaultButton.id);
  if (ar.IsLoading() && GetCount() > 255) throw ArchiveError("the project file holds a BOG with more than 255 buttons");
}

void CBog::Copy(const CNamedPtrArray<CBdButton>& src) {
  CNamedPtrArray<CBdButton>::Copy(src);
  if (auto* g = dynamic_cast<const CBog*>(&src)) CopyRefId(m_defaultButton, g->m_defaultButton);
}

// ---------------------------------------------------------------- pages

CPage::CPage() : CNamedPtrArray<CBog>("Page") {
  m_inEffects.SetName("In Effect");
  m_outEffects.SetName("Out Effect");
  m_inEffects.m_pParent = this;
  m_outEffects.m_pParent = this;
  m_currentSelected.SetName("Current Selected Button");
  m_currentSelected.m_nId = kCurrentSelectedButtonId;
  m_currentSelected.m_pParent = this;
}

CBog* CPage::AddBog() {
  auto g = std::make_unique<CBog>();
  g->m_nId = static_cast<int32_t>(GetCount());
  g->SetName(Numbered("Bog", static_cast<long>(GetCount()) + 1));
  return Add(std::move(g));
}

int32_t CPage::NextButtonId() const {
  std::bitset<kMaxButtonIds> used;
  for (size_t g = 0; g < GetCount(); ++g) {
    const CBog& bog = *GetAt(g);
    for (size_t i = 0; i < bog.GetCount(); ++i) {
      const int32_t id = bog.GetAt(i)->m_nId;
      if (id >= 0 && id < kMaxButtonIds) used.set(static_cast<size_t>(id));
    }
  }
  int32_t id = 0;
  while (id < kMaxButtonIds && used.test(static_cast<size_t>(id))) ++id;
  return id;
}

std::vector<CBdButton*> CPage::Buttons() const {
  std::vector<CBdButton*> out;
  for (size_t g = 0; g < GetCount(); ++g)
    for (size_t i = 0; i < GetAt(g)->GetCount(); ++i) out.push_back(GetAt(g)->GetAt(i));
  return out;
}

CBdButton* CPage::FindButton(const std::string& name) const {
  for (CBdButton* b : Buttons())
    if (strcasecmp(b->m_strName.c_str(), name.c_str()) == 0) return b;
  return nullptr;
}

CBog* CPage::BogOf(const CBdButton* b) const {
  for (size_t g = 0; g < GetCount(); ++g)
    if (GetAt(g)->IndexOf(b) >= 0) return GetAt(g);
  return nullptr;
}

void CPage::ForgetButton(const CBdButton* b) {
  auto forget = [&](CModelRef<CBdButton>& r) {
    if (r.p == b) r.Clear();
  };
  forget(m_defaultSelected);
  forget(m_defaultActivated);
  for (size_t g = 0; g < GetCount(); ++g) {
    forget(GetAt(g)->m_defaultButton);
    for (size_t i = 0; i < GetAt(g)->GetCount(); ++i)
      for (int d = 0; d < 4; ++d) forget(GetAt(g)->GetAt(i)->m_neighbors.All()[d]);
  }
}

void CPage::ResolveLinks(CEpoch* epoch) {
  if (!epoch) epoch = EpochOf(this);
  CNamedPtrCollection buttons, graphics, palettes;
  for (CBdButton* b : Buttons()) buttons.Add(b);
  if (epoch) {
    GatherGraphics(*epoch, graphics);
    GatherPalettes(*epoch, palettes);
  }
  m_defaultSelected.Resolve(buttons);
  if (m_defaultActivated.id == kCurrentSelectedButtonId) m_defaultActivated.p = &m_currentSelected;
  else m_defaultActivated.Resolve(buttons);
  m_palette.Resolve(palettes);
  for (size_t g = 0; g < GetCount(); ++g) {
    CBog& bog = *GetAt(g);
    CNamedPtrCollection own;
    bog.Gather(own);
    bog.m_defaultButton.Resolve(own);
    for (size_t i = 0; i < bog.GetCount(); ++i) {
      CBdButton& b = *bog.GetAt(i);
      for (int d = 0; d < 4; ++d) b.m_neighbors.All()[d].Resolve(buttons);
      for (CButtonStateInfo& s : b.m_states) {
        s.m_start.Resolve(graphics);
        s.m_end.Resolve(graphics);
      }
    }
  }
  m_inEffects.ResolveLinks(epoch);
  m_outEffects.ResolveLinks(epoch);
}

void CPage::RefreshIds() {
  m_defaultSelected.Refresh();
  m_defaultActivated.Refresh();
  m_palette.Refresh();
  for (size_t g = 0; g < GetCount(); ++g) {
    GetAt(g)->m_defaultButton.Refresh();
    for (size_t i = 0; i < GetAt(g)->GetCount(); ++i) GetAt(g)->GetAt(i)->RefreshIds();
  }
  m_inEffects.RefreshIds();
  m_outEffects.RefreshIds();
}

SIgPage CPage::ToRecord() {
  RefreshIds();
  SIgPage p;
  p.id = static_cast<uint8_t>(m_nId < 0 ? 0 : m_nId);
  p.version = m_nVersion;
  p.umt = m_umt;
  p.inEffects = m_inEffects.ToRecord();
  p.outEffects = m_outEffects.ToRecord();
  p.animationFrameRateCode = m_nAnimationFrameRateCode;
  p.defaultSelectedButtonId = GraphicRef(m_defaultSelected.id);
  p.defaultActivatedButtonId = GraphicRef(m_defaultActivated.id);
  p.paletteIdRef = static_cast<uint8_t>(std::clamp<int32_t>(m_palette.id, 0, 0xFF));
  for (size_t g = 0; g < GetCount(); ++g) p.bogs.push_back(GetAt(g)->ToRecord());
  return p;
}

void CPage::FromRecord(const SIgPage& p, CEpoch* epoch) {
  Reset();
  m_nId = p.id;
  m_nVersion = p.version;
  m_umt = p.umt;
  m_nAnimationFrameRateCode = p.animationFrameRateCode;
  m_defaultSelected = {nullptr, GraphicId(p.defaultSelectedButtonId)};
  m_defaultActivated = {nullptr, GraphicId(p.defaultActivatedButtonId)};
  m_palette = {nullptr, p.paletteIdRef};
  for (const SBog& sg : p.bogs) AddBog()->FromRecord(sg);
  m_inEffects.FromRecord(p.inEffects, epoch);
  m_outEffects.FromRecord(p.outEffects, epoch);
  ResolveLinks(epoch);
}

size_t CPage::ParseBytes(const uint8_t* src, size_t size, void*) {
  SIgPage p;
  size_t used;
  if (!ReadRecord(src, size, p, used)) return 0;
  FromRecord(p, EpochOf(this));
  return used;
}

size_t CPage::WriteBytes(uint8_t* dst, size_t capacity, void*) { return WriteRecord(ToRecord(), dst, capacity); }

// The BOGs, then version, animation frame rate, default selected and
// activated button, palette, user-operation mask and the two effect
// sequences.
void CPage::Serialize(CArchive& ar) {
  if (ar.IsStoring()) RefreshIds();
  SerializeArray(ar);
  ar.Byte(m_nVersion);
  ar.Byte(m_nAnimationFrameRateCode);
  ar.Int(m_defaultSelected.id);
  ar.Int(m_defaultActivated.id);
  ar.Int(m_palette.id);
  ar.Bytes(m_umt.data(), m_umt.size());
  m_inEffects.Serialize(ar);
  m_outEffects.Serialize(ar);
  m_inEffects.m_pParent = this;
  m_outEffects.m_pParent = this;
  if (ar.IsLoading() && GetCount() > 255) throw ArchiveError("the project file holds a page with more than 255 BOGs");
}

void CPage::Reset() {
  CNamedPtrArray<CBog>::Reset();
  m_defaultSelected.Clear();
  m_defaultActivated.Clear();
  m_inEffects.Reset();
  m_outEffects.Reset();
}

void CPage::Copy(const CNamedPtrArray<CBog>& src) {
  CNamedPtrArray<CBog>::Copy(src);
  auto* s = dynamic_cast<const CPage*>(&src);
  if (!s) return;
  CopyRefId(m_defaultSelected, s->m_defaultSelected);
  CopyRefId(m_defaultActivated, s->m_defaultActivated);
  CopyRefShared(m_palette, s->m_palette);
  m_nVersion = s->m_nVersion;
  m_umt = s->m_umt;
  m_nAnimationFrameRateCode = s->m_nAnimationFrameRateCode;
  m_inEffects.Copy(s->m_inEffects);
  m_outEffects.Copy(s->m_outEffects);
  m_inEffects.m_pParent = this;
  m_outEffects.m_pParent = this;
  // Buttons again among the copy's own buttons; graphics stay shared.
  CNamedPtrCollection buttons;
  for (CBdButton* b : Buttons()) buttons.Add(b);
  m_defaultSelected.Resolve(buttons);
  if (m_defaultActivated.id == kCurrentSelectedButtonId) m_defaultActivated.p = &m_currentSelected;
  else m_defaultActivated.Resolve(buttons);
  for (size_t g = 0; g < GetCount(); ++g) {
    CNamedPtrCollection own;
    GetAt(g)->Gather(own);
    GetAt(g)->m_defaultButton.Resolve(own);
    for (size_t i = 0; i < GetAt(g)->GetCount(); ++i)
      for (int d = 0; d < 4; ++d) GetAt(g)->GetAt(i)->m_neighbors.All()[d].Resolve(buttons);
  }
}

// ---------------------------------------------------------------- neighbours

namespace {

struct SBox {
  int left, top, right, bottom;
  int Cx() const { return (left + right) / 2; }
  int Cy() const { return (top + bottom) / 2; }
};

SBox BoxOf(const CBdButton& b) { return {b.m_nX, b.m_nY, b.m_nX + b.Width(), b.m_nY + b.Height()}; }

// Ranges overlap; a button without size still overlaps what covers its
// position.
bool Overlaps(int a0, int a1, int b0, int b1) { return a0 < std::max(b1, b0 + 1) && b0 < std::max(a1, a0 + 1); }

// One direction of one button. `along` gives a box's (start, end) on the
// key's axis, `across` on the other; `forward` is down or right. The
// nearest button ahead wins: first those sharing the button's row or column
// (their across ranges overlap), by the distance of their leading edges;
// then any other lying wholly ahead, by the distance of the centres. With
// nothing ahead the selection wraps to the row or column member farthest
// the other way; else there is no result.
template <class Along, class Across>
CBdButton* PickAhead(size_t self, const std::vector<CBdButton*>& list, const std::vector<SBox>& boxes, Along along,
                     Across across, bool forward) {
  const SBox& r = boxes[self];
  const auto [rs, re] = along(r);
  const auto [rxs, rxe] = across(r);
  const int64_t rc = (rs + re) / 2, rxc = (rxs + rxe) / 2;
  CBdButton *inLine = nullptr, *off = nullptr, *wrap = nullptr;
  int64_t bestLine = 0, bestOff = 0, bestWrap = 0;
  for (size_t i = 0; i < list.size(); ++i) {
    if (i == self) continue;
    const auto [qs, qe] = along(boxes[i]);
    const auto [qxs, qxe] = across(boxes[i]);
    if (Overlaps(qxs, qxe, rxs, rxe)) {
      const bool ahead = forward ? qs > rs : qs < rs;
      if (ahead) {
        const int64_t d = std::abs(int64_t{qs} - rs);
        if (!inLine || d < bestLine) inLine = list[i], bestLine = d;
      } else if (qs != rs) {
        // Farthest the other way: the smallest start going forward, the
        // greatest end going back.
        const int64_t w = forward ? -int64_t{qs} : int64_t{qe};
        if (!wrap || w > bestWrap) wrap = list[i], bestWrap = w;
      }
      continue;
    }
    const bool ahead = forward ? qs >= re : qe <= rs;
    if (!ahead) continue;
    const int64_t dc = (int64_t{qs} + qe) / 2 - rc, dx = (int64_t{qxs} + qxe) / 2 - rxc;
    const int64_t d = dc * dc + dx * dx;
    if (!off || d < bestOff) off = list[i], bestOff = d;
  }
  return inLine ? inLine : off ? off : wrap;
}

// Every listed button reachable from the start (the page's default selected
// button's group, else the first) by arrow keys: a group that cannot be
// reached is linked from the nearest reachable one, in the direction it
// lies, and takes over where that key led before, so that nothing reached
// already is lost. Each round reaches one more group at least. `nb` holds
// the neighbours (up, down, left, right) of each listed button.
void LinkUnreachable(const CPage& page, const std::vector<CBog*>& owners, const std::vector<SBox>& boxes,
                     std::vector<std::array<CBdButton*, 4>>& nb) {
  const size_t n = owners.size();
  auto indexOf = [&](const CBdButton* b) -> size_t {
    const CBog* bog = b ? page.BogOf(b) : nullptr;
    for (size_t k = 0; k < n; ++k)
      if (owners[k] == bog) return k;
    return n;
  };
  size_t start = indexOf(page.m_defaultSelected.p);
  if (start == n) start = 0;
  for (;;) {
    std::vector<bool> reached(n, false);
    std::vector<size_t> todo{start};
    reached[start] = true;
    while (!todo.empty()) {
      const size_t k = todo.back();
      todo.pop_back();
      for (CBdButton* to : nb[k])
        if (const size_t t = indexOf(to); t < n && !reached[t]) reached[t] = true, todo.push_back(t);
    }
    size_t from = n, to = n;
    int64_t best = 0;
    for (size_t a = 0; a < n; ++a)
      for (size_t b = 0; b < n; ++b) {
        if (!reached[a] || reached[b]) continue;
        const int64_t dx = int64_t{boxes[b].Cx()} - boxes[a].Cx(), dy = int64_t{boxes[b].Cy()} - boxes[a].Cy();
        if (from == n || dx * dx + dy * dy < best) from = a, to = b, best = dx * dx + dy * dy;
      }
    if (from == n) return;
    const int dx = boxes[to].Cx() - boxes[from].Cx(), dy = boxes[to].Cy() - boxes[from].Cy();
    const size_t d = std::abs(dx) > std::abs(dy) ? (dx > 0 ? 3 : 2) : (dy < 0 ? 0 : 1);
    CBdButton* before = nb[from][d];
    const size_t onward = indexOf(before);
    nb[from][d] = owners[to]->m_defaultButton.p;
    if (before && onward != from && onward != to) nb[to][d] = before;
  }
}

bool Assign(CModelRef<CBdButton>& ref, CBdButton* target) {
  if (ref.p == target && ref.id == (target ? target->m_nId : -1)) return false;
  ref.Set(target);
  return true;
}

}  // namespace

bool ComputeNeighbours(CPage& page, int mode) {
  std::vector<CBdButton*> list;
  std::vector<CBog*> owners;
  for (size_t g = 0; g < page.GetCount(); ++g)
    if (CBdButton* d = page.GetAt(g)->m_defaultButton.p) {
      list.push_back(d);
      owners.push_back(page.GetAt(g));
    }
  if (list.size() < 2) return false;
  const size_t n = list.size();
  bool changed = false;
  // Every button of a BOG shares the neighbours of the BOG's default button.
  auto apply = [&](size_t k, CBdButton* up, CBdButton* down, CBdButton* left, CBdButton* right) {
    for (size_t i = 0; i < owners[k]->GetCount(); ++i) {
      CNeighborInfo& nb = owners[k]->GetAt(i)->m_neighbors;
      if (up) changed |= Assign(nb.up, up);
      if (down) changed |= Assign(nb.down, down);
      if (left) changed |= Assign(nb.left, left);
      if (right) changed |= Assign(nb.right, right);
    }
  };
  if (mode == kNeighboursSequential) {
    for (size_t k = 0; k < n; ++k) {
      CBdButton* prev = list[(k + n - 1) % n];
      CBdButton* next = list[(k + 1) % n];
      apply(k, prev, next, prev, next);
    }
    return changed;
  }
  std::vector<SBox> boxes;
  for (CBdButton* b : list) boxes.push_back(BoxOf(*b));
  auto horizontal = [](const SBox& b) { return std::pair<int, int>(b.left, b.right); };
  auto vertical = [](const SBox& b) { return std::pair<int, int>(b.top, b.bottom); };
  // All picks first: results depend only on positions, not on earlier
  // assignments.
  // A direction without a result keeps what it had.
  std::vector<std::array<CBdButton*, 4>> nb(n);
  for (size_t k = 0; k < n; ++k) {
    const std::array<CBdButton*, 4> pick = {
        PickAhead(k, list, boxes, vertical, horizontal, false), PickAhead(k, list, boxes, vertical, horizontal, true),
        PickAhead(k, list, boxes, horizontal, vertical, false), PickAhead(k, list, boxes, horizontal, vertical, true)};
    for (size_t d = 0; d < 4; ++d) nb[k][d] = pick[d] ? pick[d] : list[k]->m_neighbors.All()[d].p;
  }
  LinkUnreachable(page, owners, boxes, nb);
  for (size_t k = 0; k < n; ++k) apply(k, nb[k][0], nb[k][1], nb[k][2], nb[k][3]);
  return changed;
}

// ---------------------------------------------------------------- validation

namespace {

void LogLine(const Progress& log, const std::string& prefix, const char* level, const char* state,
             const char* message) {
  char head[512];
  std::snprintf(head, sizeof head, "%s %s", prefix.c_str(), level);
  char line[1024];
  if (state) std::snprintf(line, sizeof line, "%s:%s %s", head, state, message);
  else std::snprintf(line, sizeof line, "%s:%s", head, message);
  log.Item(line);
}

}  // namespace

bool ValidateButton(const Progress& log, const std::string& prefix, CBdButton& button) {
  // The build's own invisible buttons draw nothing on purpose.
  if (button.m_bMadeByBuild) return true;
  char line[1024];
  std::snprintf(line, sizeof line, "%s %s...", prefix.c_str(), button.m_strName.c_str());
  log.Item(line);
  for (int i = 0; i < 3; ++i) {
    const CButtonStateInfo& s = button.m_states[i];
    const char* state = CBdButton::kStateNames[i];
    if (s.m_start.p && !s.m_end.p) {
      LogLine(log, prefix, "Error", state, "has no end graphics");
      return false;
    }
    if (!s.m_start.p && s.m_end.p) {
      LogLine(log, prefix, "Error", state, "has no start graphics");
      return false;
    }
    if (s.m_start.p && s.m_end.p) {
      if (s.m_start.p->m_nWidth != s.m_end.p->m_nWidth || s.m_start.p->m_nHeight != s.m_end.p->m_nHeight) {
        LogLine(log, prefix, "Error", state, "size of button graphics is different");
        return false;
      }
    } else {
      LogLine(log, prefix, "Warning", state, "has no graphics");
    }
  }
  bool directional = false;
  for (int d = 0; d < 4; ++d) {
    const CBdButton* t = button.m_neighbors.All()[d].p;
    if (t && t != &button) directional = true;
  }
  if (!directional) LogLine(log, prefix, "Warning", nullptr, "has no directional buttons defined");
  if (button.m_nButtonType == 0 && button.m_commands.Empty()) LogLine(log, prefix, "Warning", nullptr, "has no commands");
  button.RefreshIds();
  return true;
}

bool ValidateBog(const Progress& log, const std::string& prefix, CBog& bog) {
  bool byBuild = bog.GetCount() > 0;
  for (size_t i = 0; i < bog.GetCount(); ++i) byBuild = byBuild && bog.GetAt(i)->m_bMadeByBuild;
  if (byBuild) return true;
  char line[1024];
  std::snprintf(line, sizeof line, "%s %s...", prefix.c_str(), bog.m_strName.c_str());
  log.Item(line);
  if (bog.GetCount() == 0) {
    LogLine(log, prefix, "Warning", nullptr, "has no buttons");
    return true;
  }
  if (!bog.m_defaultButton.p) LogLine(log, prefix, "Warning", nullptr, "has no display button");
  for (size_t i = 0; i < bog.GetCount(); ++i)
    if (!ValidateButton(log, "  " + prefix, *bog.GetAt(i))) return false;
  return true;
}

// ---------------------------------------------------------------------------

void CIcData::Serialize(CArchive& ar) {
  SerializeArray(ar);
  ar.Byte(m_nStreamModel);
  ar.Byte(m_nUserInterfaceModel);
  ar.Qword(m_nCompositionTimeoutPts);
  ar.Qword(m_nSelectionTimeoutPts);
  ar.Dword(m_nUserTimeoutDuration);
  if (ar.IsLoading() && GetCount() > 255) throw ArchiveError("the project file holds a display set with more than 255 pages");
}

CPage* CIcData::AddPage() {
  auto p = std::make_unique<CPage>();
  p->m_nId = static_cast<int32_t>(GetCount());
  p->SetName(Numbered("Page", static_cast<long>(GetCount()) + 1));
  return Add(std::move(p));
}

SInteractiveComposition CIcData::ToRecord() {
  SInteractiveComposition ic;
  ic.streamModel = m_nStreamModel;
  ic.userInterfaceModel = m_nUserInterfaceModel;
  ic.compositionTimeOutPts = m_nCompositionTimeoutPts;
  ic.selectionTimeOutPts = m_nSelectionTimeoutPts;
  ic.userTimeOutDuration = m_nUserTimeoutDuration;
  for (size_t i = 0; i < GetCount(); ++i) {
    GetAt(i)->m_nId = static_cast<int32_t>(i);  // a page's id is its index
    ic.pages.push_back(GetAt(i)->ToRecord());
  }
  return ic;
}

void CIcData::FromRecord(const SInteractiveComposition& ic, CEpoch* epoch) {
  Reset();
  m_nStreamModel = ic.streamModel;
  m_nUserInterfaceModel = ic.userInterfaceModel;
  m_nCompositionTimeoutPts = ic.compositionTimeOutPts;
  m_nSelectionTimeoutPts = ic.selectionTimeOutPts;
  m_nUserTimeoutDuration = ic.userTimeOutDuration;
  for (const SIgPage& sp : ic.pages) {
    CPage* p = AddPage();
    p->FromRecord(sp, epoch);
  }
}

size_t CIcData::ParseBytes(const uint8_t* src, size_t size, void*) {
  SInteractiveComposition ic;
  try {
    ic = ParseComposition(src, size);
  } catch (const FormatError&) {
    return 0;
  }
  FromRecord(ic, EpochOf(this));
  return ic.length + 3;
}

size_t CIcData::WriteBytes(uint8_t* dst, size_t capacity, void*) {
  SInteractiveComposition ic = ToRecord();
  std::vector<uint8_t> bytes = WriteComposition(ic);
  m_nCompositionLength = ic.length;
  if (dst) {
    if (bytes.size() > capacity) throw std::out_of_range("interactive composition larger than its buffer");
    std::memcpy(dst, bytes.data(), bytes.size());
  }
  return bytes.size();
}

void CIcData::Copy(const CNamedPtrArray<CPage>& src) {
  CNamedPtrArray<CPage>::Copy(src);
  if (auto* s = dynamic_cast<const CIcData*>(&src)) {
    m_nStreamModel = s->m_nStreamModel;
    m_nUserInterfaceModel = s->m_nUserInterfaceModel;
    m_nCompositionTimeoutPts = s->m_nCompositionTimeoutPts;
    m_nSelectionTimeoutPts = s->m_nSelectionTimeoutPts;
    m_nUserTimeoutDuration = s->m_nUserTimeoutDuration;
  }
}

void CDisplaySet::Serialize(CArchive& ar) {
  CIcData::Serialize(ar);
  ar.Str(m_strText);
  ar.Int(m_nStartFrame);
  ar.Byte(m_nCompositionState);
}

void CDisplaySet::Copy(const CNamedPtrArray<CPage>& src) {
  CIcData::Copy(src);
  if (auto* s = dynamic_cast<const CDisplaySet*>(&src)) {
    m_strText = s->m_strText;
    m_nStartFrame = s->m_nStartFrame;
    m_nCompositionState = s->m_nCompositionState;
  }
}

// ---------------------------------------------------------------------------

CEpoch::CEpoch() {
  SetName("Epoch");
  m_graphics.m_pParent = this;
  m_palettes.m_pParent = this;
}

CDisplaySet* CEpoch::AddDisplaySet() {
  auto ds = std::make_unique<CDisplaySet>();
  ds->m_nId = m_nDisplaySetCounter;
  char name[64];
  std::snprintf(name, sizeof name, "%s#%d", "DisplaySet", m_nDisplaySetCounter + 1);
  ds->SetName(name);
  ++m_nDisplaySetCounter;
  return Add(std::move(ds));
}

// Display sets, then the display-set counter, the graphics folder and the
// palette folder.
void CEpoch::Serialize(CArchive& ar) {
  if (ar.IsStoring()) RefreshIds();
  SerializeArray(ar);
  ar.Word(m_nDisplaySetCounter);
  m_graphics.Serialize(ar);
  m_palettes.Serialize(ar);
  m_graphics.m_pParent = this;
  m_palettes.m_pParent = this;
  if (ar.IsLoading()) ResolveLinks();
}

void CEpoch::ResolveLinks() {
  for (size_t d = 0; d < GetCount(); ++d)
    for (size_t p = 0; p < GetAt(d)->GetCount(); ++p) GetAt(d)->GetAt(p)->ResolveLinks(this);
}

void CEpoch::RefreshIds() {
  for (size_t d = 0; d < GetCount(); ++d)
    for (size_t p = 0; p < GetAt(d)->GetCount(); ++p) GetAt(d)->GetAt(p)->RefreshIds();
}

void CEpoch::Reset() {
  CNamedPtrArray<CDisplaySet>::Reset();
  m_nDisplaySetCounter = 0;
  m_graphics.Reset();
  m_palettes.Reset();
}

void CEpoch::Copy(const CNamedPtrArray<CDisplaySet>& src) {
  CNamedPtrArray<CDisplaySet>::Copy(src);
  if (auto* s = dynamic_cast<const CEpoch*>(&src)) {
    m_nDisplaySetCounter = s->m_nDisplaySetCounter;
    m_graphics.Copy(s->m_graphics);
    m_palettes.Copy(s->m_palettes);
    m_graphics.m_pParent = this;
    m_palettes.m_pParent = this;
    // The copied pages still point at the source epoch's graphics.
    ResolveLinks();
  }
}

// ---------------------------------------------------------------------------

CEpoch* CIgObject::AddEpoch() {
  auto e = std::make_unique<CEpoch>();
  e->m_nId = m_nEpochCounter;
  char name[64];
  std::snprintf(name, sizeof name, "%s#%d", "Epoch", m_nEpochCounter + 1);
  e->SetName(name);
  ++m_nEpochCounter;
  return Add(std::move(e));
}

void CEpoch::SetUserInterfaceModel(bool popup, int seconds) {
  for (size_t d = 0; d < GetCount(); ++d) {
    CDisplaySet* ds = GetAt(d);
    ds->m_nUserInterfaceModel = popup ? 1 : 0;
    if (popup) ds->m_nUserTimeoutDuration = static_cast<uint32_t>(seconds) * 90000u;
  }
}

void CIgObject::SetUserInterfaceModel(bool popup, int seconds) {
  for (size_t e = 0; e < GetCount(); ++e) GetAt(e)->SetUserInterfaceModel(popup, seconds);
}

void CIgObject::SetStreamModels(uint8_t outOfMux) {
  for (size_t e = 0; e < GetCount(); ++e)
    for (size_t d = 0; d < GetAt(e)->GetCount(); ++d) GetAt(e)->GetAt(d)->m_nStreamModel = outOfMux;
}

bool CIgObject::IsEmpty() const {
  for (size_t e = 0; e < GetCount(); ++e)
    for (size_t d = 0; d < GetAt(e)->GetCount(); ++d) {
      const CDisplaySet* ds = GetAt(e)->GetAt(d);
      for (size_t p = 0; p < ds->GetCount(); ++p)
        if (ds->GetAt(p)->HasButtonGroups()) return false;
    }
  return true;
}

void CIgObject::SerializeHeader(CArchive& ar) {
  ar.ZeroByte();
  ar.Word(m_nEpochCounter);
  m_video.Serialize(ar);
  ar.Bool(m_bWideScreen);
}

void CIgObject::Serialize(CArchive& ar) {
  CNamedObject::Serialize(ar);
  SerializeHeader(ar);
  SerializeChildren(ar);
}

void CIgObject::Reset() {
  CNamedPtrArray<CEpoch>::Reset();
  m_nEpochCounter = 0;
  m_video = SVideoDescriptor{};
  m_bWideScreen = false;
}

void CIgObject::Copy(const CNamedPtrArray<CEpoch>& src) {
  CNamedPtrArray<CEpoch>::Copy(src);
  if (auto* s = dynamic_cast<const CIgObject*>(&src)) {
    m_nEpochCounter = s->m_nEpochCounter;
    m_video = s->m_video;
    m_bWideScreen = s->m_bWideScreen;
  }
}

}  // namespace zv
