// Objects coded on several cores at once: the object segments and the log
// are those of coding each object in turn, and a stop asked for in the log
// ends compilation before the remaining objects are added.
#include <gtest/gtest.h>

#include <algorithm>

#include "graphics/ig_compiler.h"
#include "graphics/object_coding.h"

using namespace zv;

namespace {

// A true-colour picture of soft-edged gradients that differs with `n`, so
// that every object has a palette and coding of its own.
std::unique_ptr<CPicture> Picture(int n) {
  auto p = std::make_unique<CPicture>();
  p->Allocate(120 + n, 60, PixelFormat::Argb32);
  for (int y = 0; y < p->height; ++y)
    for (int x = 0; x < p->width; ++x) {
      uint8_t* px = p->Row(y) + static_cast<size_t>(x) * 4;
      px[0] = x < 3 ? 0 : x < 6 ? 100 : 255;
      px[1] = static_cast<uint8_t>(x * 2 + n * 9);
      px[2] = static_cast<uint8_t>(y * 4 + n);
      px[3] = static_cast<uint8_t>((x ^ y) + n * 31);
    }
  return p;
}

struct Menu {
  CIgObject ig;
  CEpoch* epoch;
  CPage* page;
  std::vector<CGraphicObject*> graphics;
  explicit Menu(int buttons) {
    EXPECT_TRUE(ig.SetVideoFormat(5));
    epoch = ig.AddEpoch();
    page = epoch->AddDisplaySet()->AddPage();  // no palette: one is made from the pictures
    for (int b = 0; b < buttons; ++b) {
      CBdButton* button = page->AddBog()->AddButton();
      button->m_nX = static_cast<uint16_t>((b % 4) * 300);
      button->m_nY = static_cast<uint16_t>((b / 4) * 100);
      for (int s = 0; s < 2; ++s) {
        auto g = std::make_unique<CGraphicObject>();
        g->m_nId = static_cast<int32_t>(graphics.size());
        g->SetName("G" + std::to_string(g->m_nId));
        g->m_picture = Picture(b * 2 + s);
        g->m_nWidth = g->m_picture->width;
        g->m_nHeight = g->m_picture->height;
        graphics.push_back(epoch->m_graphics.Add(std::move(g)));
        button->m_states[s].m_start.Set(graphics.back());
        button->m_states[s].m_end.Set(graphics.back());
      }
    }
  }
};

struct Log {
  std::vector<std::string> lines;
  size_t stopAt = SIZE_MAX;
  Progress progress() {
    return Progress{[](void* c, const SProgressInfo* i) {
                      auto* self = static_cast<Log*>(c);
                      self->lines.push_back(i->item);
                      return self->lines.size() < self->stopAt ? 1 : 0;
                    },
                    this};
  }
};

TEST(ParallelObjectCoding, SegmentsAndLogAreThoseOfCodingInTurnAndAStopEndsIt) {
  Menu m(6);
  CDsData out;
  Log log;
  ASSERT_TRUE(CompileDisplaySet(m.ig, *m.epoch, *m.epoch->GetAt(0), log.progress(), out));
  ASSERT_EQ(m.page->m_palette.p, nullptr);

  // The same objects coded one by one with the palette the page was given.
  const auto pds = std::find_if(out.m_pds.begin(), out.m_pds.end(), [](const auto& p) { return p->m_nPaletteId == 0; });
  ASSERT_NE(pds, out.m_pds.end());
  std::vector<const CGraphicObject*> used(m.graphics.begin(), m.graphics.end());
  std::unique_ptr<CErgbPalette> palette = BuildPagePalette(used);
  ASSERT_NE(palette, nullptr);
  CDsData inTurn;
  std::vector<std::string> inTurnLog;
  for (const CGraphicObject* g : m.graphics)
    ASSERT_TRUE(CompileGraphicObject(*g, "   ", [&](const std::string& s) { inTurnLog.push_back(s); }, inTurn,
                                     palette.get()));
  // The stream orders objects as its pages show them; the segments of each
  // object are the same.
  auto sorted = [](const CDsData& d) {
    std::vector<std::vector<uint8_t>> all;
    for (const auto& o : d.m_ods) all.push_back(o->Bytes());
    std::sort(all.begin(), all.end());
    return all;
  };
  EXPECT_EQ(sorted(out), sorted(inTurn));
  // Each object's line once, in the order of its segments in the stream.
  std::vector<std::string> objectLines;
  for (const std::string& l : log.lines)
    if (l.find(" G") != std::string::npos && l.size() > 3 && l.compare(l.size() - 3, 3, "...") == 0)
      objectLines.push_back(l);
  ASSERT_EQ(objectLines.size(), m.graphics.size());
  std::vector<std::string> streamOrder;
  for (const auto& o : out.m_ods) {
    const std::vector<uint8_t> b = o->Bytes();
    ASSERT_GE(b.size(), 6u);
    const std::string name = " G" + std::to_string(b[3] << 8 | b[4]) + "...";
    if (streamOrder.empty() || streamOrder.back() != name) streamOrder.push_back(name);
  }
  ASSERT_EQ(streamOrder.size(), objectLines.size());
  for (size_t i = 0; i < objectLines.size(); ++i)
    EXPECT_NE(objectLines[i].find(streamOrder[i]), std::string::npos) << objectLines[i] << " vs " << streamOrder[i];

  // A stop on the third object's line: compilation fails with at most the
  // objects coded before it added.
  const auto third = std::find(log.lines.begin(), log.lines.end(), objectLines[2]);
  Menu again(6);
  CDsData stopped;
  Log stopping;
  stopping.stopAt = static_cast<size_t>(third - log.lines.begin()) + 1;
  EXPECT_FALSE(CompileDisplaySet(again.ig, *again.epoch, *again.epoch->GetAt(0), stopping.progress(), stopped));
  EXPECT_EQ(stopping.lines.size(), stopping.stopAt);
  EXPECT_LT(stopped.m_ods.size(), out.m_ods.size());
}

}  // namespace
