#include "graphics/menu_model.h"

#include <gtest/gtest.h>

#include <set>

#include "graphics/segment_syntax.h"
#include "../named/le_bytes.h"

using namespace zv;
using zvtest::LeBytes;

namespace {

struct Lines {
  std::vector<std::string> lines;
  Progress progress() {
    return Progress{[](void* ctx, const SProgressInfo* i) {
                      static_cast<Lines*>(ctx)->lines.push_back(i->item);
                      return 1;
                    },
                    this};
  }
  bool Has(const std::string& s) const {
    for (const auto& l : lines)
      if (l == s) return true;
    return false;
  }
};

// An epoch with one display set and page, and `n` graphics of w x h with
// ids 0..n-1.
struct Menu {
  CIgObject ig;
  CEpoch* epoch;
  CDisplaySet* ds;
  CPage* page;
  explicit Menu(int graphics = 0, int w = 40, int h = 20) {
    epoch = ig.AddEpoch();
    ds = epoch->AddDisplaySet();
    page = ds->AddPage();
    for (int i = 0; i < graphics; ++i) AddGraphic(w, h);
  }
  CGraphicObject* AddGraphic(int w, int h) {
    auto g = std::make_unique<CGraphicObject>();
    g->m_nId = static_cast<int32_t>(epoch->m_graphics.GetCount());
    g->m_nWidth = w;
    g->m_nHeight = h;
    return epoch->m_graphics.Add(std::move(g));
  }
  CGraphicObject* G(size_t i) const { return epoch->m_graphics.GetAt(i); }
  // One single-button BOG per position, each button showing graphic 0.
  std::vector<CBdButton*> Singles(std::initializer_list<std::pair<int, int>> at) {
    std::vector<CBdButton*> out;
    for (auto [x, y] : at) {
      CBdButton* b = page->AddBog()->AddButton();
      b->m_nX = static_cast<uint16_t>(x);
      b->m_nY = static_cast<uint16_t>(y);
      b->m_states[0].m_start.Set(G(0));
      b->m_states[0].m_end.Set(G(0));
      out.push_back(b);
    }
    return out;
  }
};

}  // namespace

TEST(MenuModel, ButtonIdsNamesDefaultsAndReuse) {
  Menu m;
  CBog* bog = m.page->AddBog();
  EXPECT_EQ(bog->m_strName, "Bog#1");
  EXPECT_EQ(m.page->AddBog()->m_strName, "Bog#2");
  CBdButton* a = bog->AddButton();
  CBdButton* b = bog->AddButton();
  CBdButton* c = m.page->GetAt(1)->AddButton();  // ids are per page, not per BOG
  EXPECT_EQ(a->m_nId, 0);
  EXPECT_EQ(b->m_nId, 1);
  EXPECT_EQ(c->m_nId, 2);
  EXPECT_EQ(a->m_strName, "Button#1");
  EXPECT_EQ(c->m_strName, "Button#3");
  EXPECT_EQ(bog->m_defaultButton.p, a) << "the first button becomes the default";
  EXPECT_EQ(m.page->GetAt(1)->m_defaultButton.p, c);
  EXPECT_EQ(a->m_nNumericValue, 0xFFFF);
  EXPECT_EQ(a->m_states[1].m_nSoundId, 0xFF);

  bog->RemoveAt(0);
  CBdButton* again = bog->AddButton();
  EXPECT_EQ(again->m_nId, 0);
  EXPECT_EQ(again->m_strName, "Button#1");
  EXPECT_EQ(m.page->NextButtonId(), 3);

  EXPECT_EQ(m.ds->m_strName, "DisplaySet#1");
  EXPECT_EQ(m.page->m_strName, "Page#1");
  EXPECT_EQ(m.page->m_inEffects.m_strName, "In Effect");
  EXPECT_EQ(m.page->m_outEffects.m_strName, "Out Effect");
}

TEST(MenuModel, AFullPageRefusesFurtherButtons) {
  Menu m;
  CBog* bog = m.page->AddBog();
  for (int i = 0; i < CPage::kMaxButtonIds; ++i) ASSERT_NE(bog->AddButton(), nullptr);
  EXPECT_EQ(m.page->NextButtonId(), 8160);
  EXPECT_EQ(bog->AddButton(), nullptr);
  EXPECT_EQ(m.page->AddBog()->AddButton(), nullptr);
  EXPECT_EQ(bog->GetCount(), 8160u);
}

TEST(MenuModel, TypeChangeClearsCommandsExceptType1) {
  CBdButton b;
  ASSERT_TRUE(b.m_commands.Add("Nop"));
  b.SetButtonType(1);
  EXPECT_EQ(b.m_commands.Count(), 1u);
  b.SetButtonType(3);
  EXPECT_TRUE(b.m_commands.Empty());
}

TEST(MenuModel, SizeAndGraphicUse) {
  Menu m(4, 30, 10);
  m.G(2)->m_nWidth = 55;
  CBdButton* b = m.page->AddBog()->AddButton();
  EXPECT_EQ(b->Width(), 0);
  b->m_states[1].m_end.Set(m.G(2));
  b->m_states[2].m_start.Set(m.G(0));
  EXPECT_EQ(b->Width(), 55) << "selected end comes before activated start";
  b->m_states[0].m_start.Set(m.G(3));
  b->m_states[0].m_end.Set(m.G(1));
  EXPECT_EQ(b->Width(), 30);
  EXPECT_TRUE(b->UsesGraphic(2)) << "between normal's end and start";
  EXPECT_FALSE(b->UsesGraphic(4));
  EXPECT_FALSE(b->UsesGraphic(-1));
}

TEST(Neighbours, SequentialWrapsAround) {
  Menu m(1);
  auto v = m.Singles({{0, 0}, {0, 100}, {0, 200}});
  CBdButton* extra = m.page->GetAt(1)->AddButton();  // shares B's neighbours
  EXPECT_TRUE(ComputeNeighbours(*m.page, kNeighboursSequential));
  CBdButton *A = v[0], *B = v[1], *C = v[2];
  EXPECT_EQ(A->m_neighbors.up.p, C);
  EXPECT_EQ(A->m_neighbors.left.p, C);
  EXPECT_EQ(A->m_neighbors.down.p, B);
  EXPECT_EQ(A->m_neighbors.right.p, B);
  EXPECT_EQ(C->m_neighbors.down.p, A);
  EXPECT_EQ(C->m_neighbors.right.p, A);
  EXPECT_EQ(C->m_neighbors.up.p, B);
  EXPECT_EQ(extra->m_neighbors.up.p, A);
  EXPECT_EQ(extra->m_neighbors.down.p, C);
  EXPECT_EQ(C->m_neighbors.up.id, B->m_nId);
  EXPECT_FALSE(ComputeNeighbours(*m.page, kNeighboursSequential)) << "nothing changes the second time";
}

TEST(Neighbours, SpatialRowWrapsAndLeavesUpDownEmpty) {
  Menu m(1);
  auto v = m.Singles({{300, 50}, {10, 50}, {150, 55}});  // one row, not in order
  EXPECT_TRUE(ComputeNeighbours(*m.page, kNeighboursSpatial));
  CBdButton *right = v[0], *left = v[1], *mid = v[2];
  EXPECT_EQ(left->m_neighbors.left.p, right);
  EXPECT_EQ(left->m_neighbors.right.p, mid);
  EXPECT_EQ(mid->m_neighbors.left.p, left);
  EXPECT_EQ(mid->m_neighbors.right.p, right);
  EXPECT_EQ(right->m_neighbors.right.p, left);
  for (CBdButton* b : v) {
    EXPECT_EQ(b->m_neighbors.up.p, nullptr);
    EXPECT_EQ(b->m_neighbors.down.p, nullptr);
  }
}

TEST(Neighbours, SpatialGridAndFallbacks) {
  Menu m(1);
  // a b
  // c d, and e below between them, f far right below a: column fallbacks
  auto v = m.Singles({{0, 0}, {100, 0}, {0, 100}, {100, 100}, {50, 200}});
  ComputeNeighbours(*m.page, kNeighboursSpatial);
  CBdButton *a = v[0], *b = v[1], *c = v[2], *d = v[3], *e = v[4];
  EXPECT_EQ(a->m_neighbors.right.p, b);
  EXPECT_EQ(a->m_neighbors.down.p, c);
  EXPECT_EQ(a->m_neighbors.up.p, c) << "column a, c: up wraps to the greatest bottom";
  EXPECT_EQ(d->m_neighbors.up.p, b);
  EXPECT_EQ(d->m_neighbors.left.p, c);
  // e lies in no column of c, but below it: nothing in the column is
  // nearer, so the key goes there rather than wrapping to a.
  EXPECT_EQ(c->m_neighbors.down.p, e);
  EXPECT_EQ(d->m_neighbors.down.p, e);
  // e is alone in its row and its column: the nearest button wholly on
  // each side (ties go to the first found).
  EXPECT_EQ(e->m_neighbors.left.p, c);
  EXPECT_EQ(e->m_neighbors.right.p, d);
  EXPECT_EQ(e->m_neighbors.up.p, c);
  EXPECT_EQ(e->m_neighbors.down.p, nullptr);
  Menu n(1);
  auto w = n.Singles({{0, 0}, {200, 300}, {200, 30}});
  ComputeNeighbours(*n.page, kNeighboursSpatial);
  EXPECT_EQ(w[0]->m_neighbors.right.p, w[2]);
  EXPECT_EQ(w[0]->m_neighbors.down.p, w[2]) << "wholly below w[0] and nearer than w[1]";
  EXPECT_EQ(w[1]->m_neighbors.up.p, w[2]);
}

// Which buttons the arrow keys reach from `start`, following the
// neighbours of each button shown.
std::set<const CBdButton*> Reachable(const CBdButton* start) {
  std::set<const CBdButton*> seen{start};
  std::vector<const CBdButton*> todo{start};
  while (!todo.empty()) {
    const CBdButton* b = todo.back();
    todo.pop_back();
    for (int d = 0; d < 4; ++d)
      if (const CBdButton* n = b->m_neighbors.All()[d].p; n && seen.insert(n).second) todo.push_back(n);
  }
  return seen;
}

// Chapter buttons in a 2x2 grid and a "Back" centred below, narrower than
// the gap between the columns.
TEST(Neighbours, ABackButtonCentredBelowAGridIsReachedFromBothColumns) {
  Menu m(1, 400, 72);
  auto v = m.Singles({{460, 300}, {1060, 300}, {460, 400}, {1060, 400}});
  CBog* bog = m.page->AddBog();
  CBdButton* back = bog->AddButton();
  back->m_nX = 910, back->m_nY = 520;
  m.AddGraphic(100, 72);
  back->m_states[0].m_start.Set(m.G(1));
  back->m_states[0].m_end.Set(m.G(1));
  ComputeNeighbours(*m.page, kNeighboursSpatial);
  EXPECT_EQ(v[2]->m_neighbors.down.p, back);
  EXPECT_EQ(v[3]->m_neighbors.down.p, back);
  EXPECT_EQ(back->m_neighbors.up.p, v[2]) << "the nearer row, not the top one";
  EXPECT_EQ(v[0]->m_neighbors.down.p, v[2]);
  EXPECT_EQ(v[0]->m_neighbors.up.p, v[2]) << "the column wraps";
  EXPECT_EQ(Reachable(v[0]).size(), 5u);
}

// Four buttons in the corners of a square, each row and column served by
// its own pair, and one in the middle lined up with none of them: no
// nearest-button rule reaches it, so it is linked in from the nearest
// corner, which passes its old neighbour on to it.
TEST(Neighbours, AButtonNoKeyWouldReachIsLinkedIn) {
  Menu m(1, 100, 40);
  auto v = m.Singles({{0, 0}, {300, 0}, {0, 400}, {300, 400}, {120, 150}});
  CBdButton *x = v[0], *z = v[1], *y = v[2], *u = v[4];
  EXPECT_TRUE(ComputeNeighbours(*m.page, kNeighboursSpatial));
  EXPECT_EQ(Reachable(x).size(), 5u);
  EXPECT_EQ(x->m_neighbors.down.p, u);
  EXPECT_EQ(u->m_neighbors.down.p, y) << "where x's key led before";
  EXPECT_EQ(x->m_neighbors.right.p, z);
  // From any default the page is whole.
  m.page->m_defaultSelected.Set(v[3]);
  ComputeNeighbours(*m.page, kNeighboursSpatial);
  EXPECT_EQ(Reachable(v[3]).size(), 5u);
  EXPECT_FALSE(ComputeNeighbours(*m.page, kNeighboursSpatial)) << "nothing changes the second time";
}

TEST(Neighbours, NeedsTwoDefaultButtons) {
  Menu m(1);
  m.Singles({{0, 0}});
  m.page->AddBog();  // no default button: skipped
  EXPECT_FALSE(ComputeNeighbours(*m.page, kNeighboursSequential));
  EXPECT_FALSE(ComputeNeighbours(*m.page, kNeighboursSpatial));
}

TEST(Validation, ButtonChecksAndTheirLogLines) {
  Menu m(3, 40, 20);
  CBog* bog = m.page->AddBog();
  CBdButton* b = bog->AddButton();
  b->m_states[1].m_start.Set(m.G(0));
  Lines log;
  EXPECT_FALSE(ValidateButton(log.progress(), "  Page#1", *b));
  EXPECT_TRUE(log.Has("  Page#1 Button#1...")) << log.lines.front();
  EXPECT_TRUE(log.Has("  Page#1 Warning:Normal has no graphics"));
  EXPECT_TRUE(log.Has("  Page#1 Error:Selected has no end graphics"));

  b->m_states[1].m_start.Clear();
  b->m_states[1].m_end.Set(m.G(0));
  log.lines.clear();
  EXPECT_FALSE(ValidateButton(log.progress(), "P", *b));
  EXPECT_TRUE(log.Has("P Error:Selected has no start graphics"));

  m.G(1)->m_nHeight = 21;
  b->m_states[1].m_start.Set(m.G(1));
  log.lines.clear();
  EXPECT_FALSE(ValidateButton(log.progress(), "P", *b));
  EXPECT_TRUE(log.Has("P Error:Selected size of button graphics is different"));

  for (auto& s : b->m_states) {
    s.m_start.Set(m.G(0));
    s.m_end.Set(m.G(2));
  }
  b->m_neighbors.up.Set(b);  // pointing at itself is not a direction
  log.lines.clear();
  EXPECT_TRUE(ValidateButton(log.progress(), "P", *b));
  EXPECT_EQ(log.lines, (std::vector<std::string>{"P Button#1...", "P Warning:has no directional buttons defined",
                                                 "P Warning:has no commands"}));
  b->m_nButtonType = 2;
  b->m_neighbors.down.Set(bog->AddButton());
  log.lines.clear();
  EXPECT_TRUE(ValidateButton(log.progress(), "P", *b));
  EXPECT_EQ(log.lines.size(), 1u);
}

TEST(Validation, BogChecks) {
  Menu m(1);
  CBog* empty = m.page->AddBog();
  Lines log;
  EXPECT_TRUE(ValidateBog(log.progress(), "Page#1", *empty));
  EXPECT_EQ(log.lines, (std::vector<std::string>{"Page#1 Bog#1...", "Page#1 Warning:has no buttons"}));
  CBog* bog = m.page->AddBog();
  CBdButton* b = bog->AddButton();
  bog->m_defaultButton.Clear();
  b->m_states[0].m_start.Set(m.G(0));
  log.lines.clear();
  EXPECT_FALSE(ValidateBog(log.progress(), "Page#1", *bog));
  EXPECT_TRUE(log.Has("Page#1 Warning:has no display button"));
  EXPECT_TRUE(log.Has("  Page#1 Button#1..."));
  EXPECT_TRUE(log.Has("  Page#1 Error:Normal has no end graphics"));
}

TEST(Effects, LimitsAndNaming) {
  CEffectSequenceObject seq;
  EXPECT_EQ(seq.m_strName, "Effect Sequence");
  EXPECT_EQ(seq.AddWindow()->m_strName, "Window#0");
  EXPECT_EQ(seq.AddWindow()->m_strName, "Window#1");
  EXPECT_EQ(seq.AddWindow(), nullptr);
  for (int i = 0; i < 128; ++i) ASSERT_NE(seq.AddEffect(), nullptr);
  EXPECT_EQ(seq.GetAt(127)->m_strName, "Effect#127");
  EXPECT_EQ(seq.AddEffect(), nullptr);
  CEffectObject* e = seq.GetAt(0);
  EXPECT_EQ(e->AddCompositionObject()->m_strName, "Composition Object#0");
  EXPECT_NE(e->AddCompositionObject(), nullptr);
  EXPECT_EQ(e->AddCompositionObject(), nullptr);
  EXPECT_EQ(e->GetCount(), 2u);
}

TEST(Effects, WindowFillTimeIsTheMinimumDuration) {
  CEffectSequenceObject seq;
  EXPECT_EQ(seq.WriteBytes(nullptr, 0, nullptr), 2u) << "no windows, no effects";
  seq.AddWindow()->m_rect = SRect{0, 0, 1920, 1080};
  seq.AddEffect();
  EXPECT_EQ(seq.WindowFillTime(), 11664u);
  EXPECT_EQ(seq.ToRecord().effects[0].duration, 11664u);
  EXPECT_EQ(seq.GetAt(0)->m_nDuration, 0u) << "the model keeps its own value";

  CEffectSequenceObject two;
  two.AddWindow()->m_rect = SRect{0, 0, 100, 100};
  two.AddWindow()->m_rect = SRect{200, 300, 300, 400};
  two.AddEffect()->m_nDuration = 200;
  two.AddEffect()->m_nDuration = 100;
  EXPECT_EQ(two.WindowFillTime(), 114u);
  SEffectSequence rec = two.ToRecord();
  EXPECT_EQ(rec.effects[0].duration, 200u);
  EXPECT_EQ(rec.effects[1].duration, 114u);
  EXPECT_EQ(rec.windows[1].id, 1);
  EXPECT_EQ(rec.windows[1].x, 200);
  EXPECT_EQ(rec.windows[1].height, 100);
}

TEST(Effects, SyntaxRoundTripAndCompilerCollections) {
  Menu m(3);
  auto* pal = m.epoch->m_palettes.AddPalette();
  auto* pal2 = m.epoch->m_palettes.AddPalette();
  CEffectSequenceObject& seq = m.page->m_inEffects;
  CWindowObject* w0 = seq.AddWindow();
  w0->m_rect = SRect{10, 20, 110, 70};
  CWindowObject* w1 = seq.AddWindow();
  w1->m_rect = SRect{0, 0, 8, 8};
  CEffectObject* e = seq.AddEffect();
  e->m_nDuration = 90000;
  e->m_palette.Set(pal2);
  CCompositionObject* plain = e->AddCompositionObject();
  plain->m_graphic.Set(m.G(2));
  plain->m_window.Set(w1);
  plain->m_nX = 5;
  CCompositionObject* crop = e->AddCompositionObject();
  crop->m_graphic.Set(m.G(0));
  crop->m_window.Set(w0);
  crop->m_bCropped = true;
  crop->m_bForcedOn = true;
  crop->m_crop = SRect{1, 2, 11, 22};
  CEffectObject* e2 = seq.AddEffect();
  e2->m_palette.Set(pal2);
  e2->AddCompositionObject()->m_graphic.Set(m.G(2));
  EXPECT_EQ(seq.Palettes(), (std::vector<CErgbPalette*>{pal2}));
  EXPECT_EQ(seq.Graphics(), (std::vector<CGraphicObject*>{m.G(2), m.G(0)}));
  (void)pal;

  std::vector<uint8_t> bytes(seq.WriteBytes(nullptr, 0, nullptr));
  ASSERT_EQ(seq.WriteBytes(bytes.data(), bytes.size(), nullptr), bytes.size());
  SEffectSequence rec;
  rec::Decode(bytes.data(), bytes.size(), rec);
  EXPECT_EQ(rec.effects[0].objects[0].cropWidth, 0);
  EXPECT_EQ(rec.effects[0].objects[1].cropWidth, 10);
  EXPECT_EQ(rec::Encode(rec.effects[0].objects[0]).size(), 8u) << "uncropped object: 8 bytes";

  CEffectSequenceObject& back = m.page->m_outEffects;
  ASSERT_EQ(back.ParseBytes(bytes.data(), bytes.size(), nullptr), bytes.size());
  ASSERT_EQ(back.m_windows.GetCount(), 2u);
  EXPECT_EQ(back.m_windows.GetAt(0)->m_rect, (SRect{10, 20, 110, 70}));
  ASSERT_EQ(back.GetCount(), 2u);
  CEffectObject* be = back.GetAt(0);
  EXPECT_EQ(be->m_nDuration, 90000u);
  EXPECT_EQ(be->m_palette.p, pal2);
  EXPECT_EQ(be->GetAt(0)->m_graphic.p, m.G(2));
  EXPECT_EQ(be->GetAt(0)->m_window.p, back.m_windows.GetAt(1));
  EXPECT_EQ(be->GetAt(1)->m_crop, (SRect{1, 2, 11, 22}));
  EXPECT_TRUE(be->GetAt(1)->m_bForcedOn);
  EXPECT_EQ(back.WriteBytes(nullptr, 0, nullptr), bytes.size());
}

TEST(MenuSyntax, PageRoundTripThroughTheComposition) {
  Menu m(4);
  CErgbPalette* pal = m.epoch->m_palettes.AddPalette();
  m.page->m_palette.Set(pal);
  CBog* g1 = m.page->AddBog();
  CBdButton* a = g1->AddButton();
  CBdButton* b = g1->AddButton();
  CBog* g2 = m.page->AddBog();
  CBdButton* c = g2->AddButton();
  a->m_nX = 100;
  a->m_nY = 200;
  a->m_bAutoAction = true;
  a->m_nNumericValue = 7;
  a->m_states[0].m_start.Set(m.G(1));
  a->m_states[0].m_end.Set(m.G(3));
  a->m_states[2].m_nSoundId = 2;
  ASSERT_TRUE(a->m_commands.Add("JumpTitle 2"));
  a->m_neighbors.down.Set(c);
  m.page->m_defaultSelected.Set(b);
  m.page->m_defaultActivated.Set(&m.page->m_currentSelected);
  m.ds->m_nUserInterfaceModel = 1;
  m.ds->m_nUserTimeoutDuration = 720000;

  std::vector<uint8_t> bytes(m.ds->WriteBytes(nullptr, 0, nullptr));
  ASSERT_EQ(m.ds->WriteBytes(bytes.data(), bytes.size(), nullptr), bytes.size());
  SInteractiveComposition ic = ParseComposition(bytes.data(), bytes.size());
  ASSERT_EQ(ic.pages.size(), 1u);
  EXPECT_EQ(ic.pages[0].defaultActivatedButtonId, 0xFFFE);
  EXPECT_EQ(ic.pages[0].defaultSelectedButtonId, 1);
  EXPECT_EQ(ic.pages[0].bogs[1].buttons[0].id, 2);
  EXPECT_EQ(ic.pages[0].bogs[0].buttons[0].up, 0) << "no neighbour: the button itself";
  EXPECT_EQ(ic.pages[0].bogs[0].buttons[0].down, 2);
  EXPECT_EQ(ic.pages[0].bogs[0].buttons[1].normal.startObjectId, 0xFFFF);

  CDisplaySet* copy = m.epoch->AddDisplaySet();
  ASSERT_EQ(copy->ParseBytes(bytes.data(), bytes.size(), nullptr), bytes.size());
  ASSERT_EQ(copy->GetCount(), 1u);
  CPage* p = copy->GetAt(0);
  ASSERT_EQ(p->GetCount(), 2u);
  CBdButton* pa = p->GetAt(0)->GetAt(0);
  EXPECT_EQ(pa->m_nX, 100);
  EXPECT_TRUE(pa->m_bAutoAction);
  EXPECT_EQ(pa->m_states[0].m_end.p, m.G(3));
  EXPECT_EQ(pa->m_states[2].m_nSoundId, 2);
  EXPECT_EQ(pa->m_neighbors.down.p, p->GetAt(1)->GetAt(0));
  EXPECT_EQ(pa->m_neighbors.up.p, pa);
  EXPECT_EQ(p->m_defaultSelected.p, p->GetAt(0)->GetAt(1));
  EXPECT_EQ(p->m_defaultActivated.p, &p->m_currentSelected);
  EXPECT_EQ(p->m_palette.p, pal);
  EXPECT_EQ(p->GetAt(0)->m_defaultButton.p, pa);
  EXPECT_EQ(pa->m_commands, a->m_commands);
  EXPECT_EQ(copy->m_nUserTimeoutDuration, 720000u);
  EXPECT_EQ(copy->WriteBytes(nullptr, 0, nullptr), bytes.size());
  std::vector<uint8_t> again(bytes.size());
  copy->WriteBytes(again.data(), again.size(), nullptr);
  EXPECT_EQ(again, bytes);

  EXPECT_EQ(copy->ParseBytes(bytes.data(), bytes.size() - 1, nullptr), 0u) << "short input is refused";
}

TEST(MenuSyntax, SixtyFourCommandButtonsReadBackTheirType) {
  SBog g;
  SButton sb;
  sb.id = 5;
  sb.commands.resize(64);
  sb.commands[59] = {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0x07};
  for (int k = 0; k < 4; ++k) sb.commands[60 + k] = {0x50, 0x40, 0, 1, 0, 0, 0, 0, 0x12, 0x34, 0x56, static_cast<uint8_t>(k)};
  g.buttons.push_back(sb);
  SButton plain = sb;
  plain.id = 6;
  plain.commands.resize(63);
  g.buttons.push_back(plain);
  SButton nomark = sb;
  nomark.id = 7;
  nomark.commands[59][3] = 0xFE;
  g.buttons.push_back(nomark);
  std::vector<uint8_t> bytes = rec::Encode(g);
  CBog bog;
  ASSERT_EQ(bog.ParseBytes(bytes.data(), bytes.size(), nullptr), bytes.size());
  CBdButton* b = bog.GetAt(0);
  EXPECT_EQ(b->m_nButtonType, 7);
  EXPECT_EQ(b->m_params, (std::array<uint32_t, 4>{0x12345600, 0x12345601, 0x12345602, 0x12345603}));
  EXPECT_EQ(b->m_commands.Count(), 64u);
  EXPECT_EQ(b->m_strName, "Button#6");
  EXPECT_EQ(bog.GetAt(1)->m_nButtonType, 0) << "63 commands";
  EXPECT_EQ(bog.GetAt(2)->m_nButtonType, 0) << "no marker";
}

namespace {

std::vector<uint8_t> Stored(CNamedObject& obj) {
  ArchiveOut out;
  CArchive ar(out);
  obj.Serialize(ar);
  return out.Bytes();
}

}  // namespace

TEST(MenuStoredForms, ButtonAndBogFieldsInTheirOrder) {
  Menu m(3);
  CBog* bog = m.page->AddBog();
  CBdButton* a = bog->AddButton();
  CBdButton* b = bog->AddButton();
  a->m_nButtonType = 2;
  a->m_params = {1, 2, 3, 4};
  a->m_nNumericValue = 9;
  a->m_bAutoAction = true;
  a->m_nX = 0x102;
  a->m_nY = 0x304;
  a->m_neighbors.right.Set(b);
  a->m_states[1].m_start.Set(m.G(1));
  a->m_states[1].m_end.Set(m.G(2));
  a->m_states[1].m_nSoundId = 5;
  a->m_states[2].m_bRepeat = true;
  ASSERT_TRUE(a->m_commands.Add("Nop"));
  LeBytes want;
  want.str("Button#1").i32(0).u8(0).u8(2).u32(1).u32(2).u32(3).u32(4).u16(9).u8(1).u16(0x102).u16(0x304);
  want.i32(-1).i32(-1).i32(-1).i32(1);                      // up, down, left, right
  want.u8(0).i32(-1).i32(-1).u8(0xFF).u8(0);                 // normal
  want.u8(0).i32(1).i32(2).u8(5).u8(0);                      // selected
  want.u8(0).i32(-1).i32(-1).u8(0xFF).u8(1);                 // activated
  want.str("").i32(-1).u32(1);                               // commands: one
  std::vector<uint8_t> got = Stored(*a);
  ASSERT_GE(got.size(), want.bytes().size() + 16);
  EXPECT_EQ(std::vector<uint8_t>(got.begin(), got.begin() + static_cast<long>(want.bytes().size())), want.bytes());
  EXPECT_EQ(got.size(), want.bytes().size() + 16);  // one stored command record

  std::vector<uint8_t> bogBytes = Stored(*bog);
  LeBytes tail;
  tail.i32(0);  // the default button's id closes the record
  EXPECT_EQ(std::vector<uint8_t>(bogBytes.end() - 4, bogBytes.end()), tail.bytes());
}

TEST(MenuStoredForms, CroppingRectangleOnlyWhenCropped) {
  CCompositionObject c;
  c.m_nX = 3;
  LeBytes plain;
  plain.str("Composition Object").i32(-1).i32(-1).i32(-1).u8(0).u8(0).i32(3).i32(0);
  EXPECT_EQ(Stored(c), plain.bytes());
  c.m_bCropped = true;
  c.m_crop = SRect{1, 2, 3, 4};
  EXPECT_EQ(Stored(c).size(), plain.bytes().size() + 16);
  CWindowObject w;
  w.m_rect = SRect{5, 6, 7, 8};
  LeBytes win;
  win.str("Window").i32(-1).i32(5).i32(6).i32(7).i32(8);
  EXPECT_EQ(Stored(w), win.bytes());
}

TEST(MenuStoredForms, PageFieldsAfterItsBogs) {
  Menu m;
  CErgbPalette* pal = m.epoch->m_palettes.AddPalette();
  m.page->m_palette.Set(pal);
  m.page->m_nVersion = 4;
  m.page->m_nAnimationFrameRateCode = 3;
  m.page->m_defaultActivated.Set(&m.page->m_currentSelected);
  m.page->m_umt[7] = 0x80;
  LeBytes want;
  want.str("Page#1").i32(0).u32(0).u8(4).u8(3).i32(-1).i32(0xFFFE).i32(0).zeros(7).u8(0x80);
  want.str("In Effect").i32(-1).u32(0).str("Windows").i32(-1).u32(0);
  want.str("Out Effect").i32(-1).u32(0).str("Windows").i32(-1).u32(0);
  EXPECT_EQ(Stored(*m.page), want.bytes());
}

TEST(MenuModel, EpochWideUserInterfaceModel) {
  Menu m;
  CDisplaySet* second = m.epoch->AddDisplaySet();
  EXPECT_EQ(second->m_strName, "DisplaySet#2");
  EXPECT_EQ(second->m_nId, 1);
  m.epoch->SetUserInterfaceModel(true, 8);
  EXPECT_EQ(m.ds->m_nUserInterfaceModel, 1);
  EXPECT_EQ(second->m_nUserTimeoutDuration, 720000u);
  m.epoch->SetUserInterfaceModel(false, 3);
  EXPECT_EQ(second->m_nUserInterfaceModel, 0);
  EXPECT_EQ(second->m_nUserTimeoutDuration, 720000u) << "always-on leaves the time-out alone";
}

TEST(MenuStoredForms, LoadingRefusesWhatTheStreamCannotCarry) {
  CEffectSequenceObject seq;
  for (int i = 0; i < 3; ++i) seq.m_windows.Add(std::make_unique<CWindowObject>());  // past AddWindow's limit
  std::vector<uint8_t> bytes = Stored(seq);
  CEffectSequenceObject back;
  ArchiveIn in(bytes);
  CArchive ar(in);
  EXPECT_THROW(back.Serialize(ar), ArchiveError);

  CEffectObject e;
  for (int i = 0; i < 3; ++i) e.Add(std::make_unique<CCompositionObject>());
  bytes = Stored(e);
  CEffectObject eback;
  ArchiveIn in2(bytes);
  CArchive ar2(in2);
  EXPECT_THROW(eback.Serialize(ar2), ArchiveError);

  CEffectObject ok;
  ok.AddCompositionObject();
  ok.m_nDuration = 77;
  bytes = Stored(ok);
  ArchiveIn in3(bytes);
  CArchive ar3(in3);
  CEffectObject okBack;
  okBack.Serialize(ar3);
  EXPECT_EQ(okBack.m_nDuration, 77u);
  EXPECT_EQ(okBack.GetCount(), 1u);
}
