#include "graphics/segments.h"

#include <gtest/gtest.h>

#include "graphics/composition.h"
#include "platform/bytes.h"
#include "platform/file.h"
#include "records/dump_tree.h"
#include "support/test_support.h"

using namespace zv;
using V = std::vector<uint8_t>;

namespace {

// A presentation display set: PCS with one plain and one cropped object,
// WDS with one window, a PDS of two entries, one ODS, END.
CDsData SampleDisplaySet() {
  CDsData ds;
  ds.m_pcs = std::make_unique<CPcs>();
  ds.m_pcs->m_composition.video = SVideoDescriptor{1920, 1080, 1, 0};
  ds.m_pcs->m_composition.number = 5;
  ds.m_pcs->m_composition.state = 2;
  ds.m_pcs->m_nPaletteIdRef = 0;
  SCompositionObject plain;
  plain.objectIdRef = 1;
  plain.x = 100;
  plain.y = 200;
  SCompositionObject cropped = plain;
  cropped.cropped = true;
  cropped.forcedOn = true;
  cropped.cropWidth = 10;
  cropped.cropHeight = 20;
  ds.m_pcs->m_objects = {plain, cropped};
  ds.m_wds = std::make_unique<CWds>();
  ds.m_wds->m_windows = {SWindow{0, 100, 200, 300, 40}};
  auto pds = std::make_unique<CPds>();
  pds->m_entries = {SPaletteEntry{0, 16, 128, 128, 0}, SPaletteEntry{1, 235, 128, 128, 255}};
  ds.m_pds.push_back(std::move(pds));
  auto ods = std::make_unique<COds>();
  ods->m_nObjectId = 1;
  ods->m_sequence.fragment = {0x00, 0x00, 0x09, 0x00, 0x02, 0x00, 0x01, 0x01, 0x01, 0x00, 0x00};
  ds.m_ods.push_back(std::move(ods));
  ds.m_end = std::make_unique<CEs>();
  for (const CSegmentBase* s : ds.Segments()) const_cast<CSegmentBase*>(s)->m_nPts = 900000;
  return ds;
}

V WriteToBytes(CDsData& ds, bool headed, V* index = nullptr) {
  zvtest::TempDir dir;
  File f, idx;
  EXPECT_TRUE(f.Open(dir / "s.sup", File::kCreate));
  if (index) {
    EXPECT_TRUE(idx.Open(dir / "s.sup.mui", File::kCreate));
  }
  std::string error;
  EXPECT_TRUE(WriteDisplaySet(f, ds, headed, index ? &idx : nullptr, error)) << error;
  f.Close();
  if (index) {
    idx.Close();
    *index = zvtest::ReadBytes(dir / "s.sup.mui");
  }
  return zvtest::ReadBytes(dir / "s.sup");
}

int ReadFromBytes(const V& bytes, bool headed, CDsData& ds, std::string& error) {
  CMemoryInput in(bytes.data(), bytes.size());
  return ReadDisplaySet(in, ds, headed, error);
}

}  // namespace

TEST(Segments, FixedLayouts) {
  CEs end;
  EXPECT_EQ(end.Bytes(), (V{0x80, 0x00, 0x00}));

  CPds pds;
  pds.m_nPaletteId = 3;
  pds.m_entries.resize(300);
  V bytes = pds.Bytes();
  ASSERT_EQ(bytes.size(), 3u + 1282u);
  EXPECT_EQ(bytes[1] << 8 | bytes[2], 1282);
  EXPECT_EQ(pds.Write(nullptr), 1285u);
  EXPECT_EQ(pds.m_nLength, 0) << "measuring leaves the length";
  V buf(1285);
  EXPECT_EQ(pds.Write(buf.data()), 1285u);
  EXPECT_EQ(pds.m_nLength, 1282);
  EXPECT_EQ(buf, bytes);

  CDsData ds = SampleDisplaySet();
  // Hand-computed PCS: 16-byte header and descriptors, 8 + 16 object bytes.
  EXPECT_EQ(ds.m_pcs->Bytes(), (V{
                                   0x16, 0x00, 0x23,              // type, length 35
                                   0x07, 0x80, 0x04, 0x38, 0x10,  // 1920x1080, frame rate 1
                                   0x00, 0x05, 0x80,              // composition 5, epoch start
                                   0x00, 0x00, 0x02,              // no palette update, palette 0, 2 objects
                                   0x00, 0x01, 0x00, 0x00, 0x00, 0x64, 0x00, 0xC8,  // plain
                                   0x00, 0x01, 0x00, 0xC0, 0x00, 0x64, 0x00, 0xC8,  // cropped, forced on
                                   0x00, 0x00, 0x00, 0x00, 0x00, 0x0A, 0x00, 0x14,
                               }));
  EXPECT_EQ(ds.m_wds->Bytes(), (V{0x17, 0x00, 0x0A, 0x01, 0x00, 0x00, 0x64, 0x00, 0xC8, 0x01, 0x2C, 0x00, 0x28}));
  CWds three;
  three.m_windows.resize(3);
  EXPECT_TRUE(three.Bytes().empty());
  EXPECT_EQ(three.Write(nullptr), 0u);

  SCompositionObject o;
  o.forcedOn = true;
  CPcs one;
  one.m_objects = {o};
  EXPECT_EQ(one.Bytes().size(), 3u + 11u + 8u);
  EXPECT_EQ(one.Bytes()[3 + 11 + 3], 0x40) << "forced-on is bit 6 of the fourth byte";
}

TEST(Segments, DisplaySetRoundTripsInBothFramings) {
  for (bool headed : {false, true}) {
    CDsData ds = SampleDisplaySet();
    V index;
    V bytes = WriteToBytes(ds, headed, &index);
    CDsData back;
    std::string error;
    ASSERT_EQ(ReadFromBytes(bytes, headed, back, error), kDsOk) << error;
    ASSERT_TRUE(back.m_pcs && back.m_wds && back.m_end);
    ASSERT_EQ(back.m_pds.size(), 1u);
    ASSERT_EQ(back.m_ods.size(), 1u);
    EXPECT_EQ(back.m_nCompositionState, 2);
    EXPECT_EQ(back.m_pcs->m_objects.size(), 2u);
    EXPECT_EQ(back.m_pcs->m_objects[1].cropHeight, 20);
    EXPECT_EQ(back.m_pds[0]->m_entries[1].y, 235);
    EXPECT_EQ(back.m_ods[0]->m_sequence.fragment, ds.m_ods[0]->m_sequence.fragment);
    EXPECT_EQ(WriteToBytes(back, headed), bytes) << "written again, the same bytes";
    EXPECT_EQ(back.m_pcs->FilePosition, headed ? 10 : 0);
    // A second read finds the end.
    CMemoryInput in(bytes.data(), bytes.size());
    ASSERT_EQ(ReadDisplaySet(in, back, headed, error), kDsOk);
    EXPECT_EQ(ReadDisplaySet(in, back, headed, error), kDsEndOfFile);

    // One 14-byte index record per segment.
    ASSERT_EQ(index.size(), 14u * 5);
    EXPECT_EQ(index[0], 0x16);
    EXPECT_EQ((V(index.begin() + 1, index.begin() + 14)),
              (V{0, 0, 0, 38, 0x01, 0xA2, 0xDA, 0x90, 0x00, 0xD1, 0x6D, 0x48, 0})) << "(900000 + 54000000) >> 1, >> 2";
    if (headed) {
      // Every segment is prefixed "PG" with PTS and DTS.
      EXPECT_EQ((V(bytes.begin(), bytes.begin() + 10)), (V{'P', 'G', 0x00, 0x0D, 0xBB, 0xA0, 0, 0, 0, 0}));
      size_t pos = 0, count = 0;
      while (pos < bytes.size()) {
        EXPECT_EQ(bytes[pos], 'P');
        EXPECT_EQ(bytes[pos + 1], 'G');
        pos += 10 + 3 + (bytes[pos + 11] << 8 | bytes[pos + 12]);
        ++count;
      }
      EXPECT_EQ(count, 5u);
    }
  }
  // Without a PCS the magic is "IG".
  CDsData ig;
  ig.m_ics.push_back(std::make_unique<CIcs>());
  ig.m_end = std::make_unique<CEs>();
  V bytes = WriteToBytes(ig, true);
  EXPECT_EQ(bytes[0], 'I');
  EXPECT_EQ(bytes[10 + 12 + 10], 0x80);
  bytes[0] = 'i', bytes[1] = 'g';  // any letter case is read
  CDsData back;
  std::string error;
  EXPECT_EQ(ReadFromBytes(bytes, true, back, error), kDsOk) << error;
}

TEST(Segments, ReadersRefuseBadInput) {
  CDsData ds = SampleDisplaySet();
  V raw = WriteToBytes(ds, false);
  std::string error;
  CDsData back;
  // Every cut-off prefix fails with a message.
  for (size_t cut = 1; cut < raw.size(); ++cut) {
    V part(raw.begin(), raw.begin() + static_cast<long>(cut));
    error.clear();
    ASSERT_EQ(ReadFromBytes(part, false, back, error), kDsBad) << cut;
    EXPECT_FALSE(error.empty());
  }
  // Two PCS.
  V twice = ds.m_pcs->Bytes();
  twice.insert(twice.end(), raw.begin(), raw.end());
  EXPECT_EQ(ReadFromBytes(twice, false, back, error), kDsBad);
  EXPECT_NE(error.find("a second Pcs segment"), std::string::npos) << error;
  // Unknown type.
  V unknown = raw;
  unknown[0] = 0x19;
  EXPECT_EQ(ReadFromBytes(unknown, false, back, error), kDsBad);
  EXPECT_EQ(error, "at byte 0: unknown segment type 0x19");
  // A count beyond the body: the WDS says two windows, holds one.
  V wds = ds.m_wds->Bytes();
  wds[3] = 2;
  wds.insert(wds.end(), {0x80, 0, 0});
  EXPECT_EQ(ReadFromBytes(wds, false, back, error), kDsBad);
  EXPECT_NE(error.find("Wds: "), std::string::npos) << error;
  EXPECT_NE(error.find("Window"), std::string::npos) << error;
  // A body longer than its fields (a PDS with a partial entry).
  V pds = ds.m_pds[0]->Bytes();
  pds.push_back(7);
  pds[2] += 1;
  pds.insert(pds.end(), {0x80, 0, 0});
  EXPECT_EQ(ReadFromBytes(pds, false, back, error), kDsBad);
  // The segment body cut off by the end of the file.
  V shortBody = {0x80, 0x00, 0x05, 0x00};
  EXPECT_EQ(ReadFromBytes(shortBody, false, back, error), kDsBad);
  EXPECT_EQ(error, "at byte 0: EndSegment segment is cut off: its length says 5 bytes, 1 remain");
  // Headed framing without a magic.
  V headed = WriteToBytes(ds, true);
  headed[0] = 'X';
  EXPECT_EQ(ReadFromBytes(headed, true, back, error), kDsBad);
  // Empty input is the end, not a failure.
  EXPECT_EQ(ReadFromBytes({}, false, back, error), kDsEndOfFile);
}

TEST(Segments, DumpLinesAndLabels) {
  CDsData ds = SampleDisplaySet();
  std::string text;
  ds.m_pcs->Dump(text, "");
  EXPECT_NE(text.find("PTS: 00:00:10:000(900000)\n"), std::string::npos) << text;
  EXPECT_NE(text.find("SegmentDescriptor: \n  SegmentType: 0x16(22)\n  SegmentLength: 35\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Width/Height: 1920/1080\n"), std::string::npos) << text;
  EXPECT_NE(text.find("FrameRate: 1(23.976)\n"), std::string::npos) << text;
  EXPECT_NE(text.find("CompositionState: 2(Epoch Start)\n"), std::string::npos) << text;
  EXPECT_NE(text.find("CompositionObject 2: \n"), std::string::npos) << text;
  EXPECT_NE(text.find("ObjectCroppingHeight: 20\n"), std::string::npos) << text;
  text.clear();
  ds.m_ods[0]->Dump(text, "");
  EXPECT_NE(text.find("FirstFlag/LastFlag: 1/1\n"), std::string::npos) << text;
  EXPECT_NE(text.find("FragmentSize: 11\n"), std::string::npos) << text;
  EXPECT_NE(text.find("ObjectDataLength: 9\n"), std::string::npos) << text;
  EXPECT_NE(text.find("ObjectWidth: 2\n"), std::string::npos) << text;
  text.clear();
  ds.m_pds[0]->Dump(text, "");
  EXPECT_NE(text.find("PaletteEntryCount: 2\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("PaletteEntry 1"), std::string::npos) << "entries are not listed";
  text.clear();
  ds.m_wds->Dump(text, "");
  EXPECT_NE(text.find("Window 1: \n"), std::string::npos) << text;
  EXPECT_NE(text.find("HorPos/VerPos: 100/200\n"), std::string::npos) << text;
  EXPECT_EQ(VideoDescriptorText(SVideoDescriptor{1920, 1080, 1, 0}), "1920x1080 23.976");
  EXPECT_EQ(VideoDescriptorText(SVideoDescriptor{720, 576, 9, 0}), "720x576");
  EXPECT_EQ(TicksText(900000), "00:00:10:000");
  EXPECT_EQ(TicksText(90u * 3723004), "01:02:03:004");
}

TEST(InteractiveComposition, SyntaxRoundTripsWithItsLayout) {
  SInteractiveComposition ic;
  ic.streamModel = 1;
  ic.userTimeOutDuration = 0x123456;
  SIgPage page;
  page.id = 0;
  SBog bog;
  SButton b;
  b.id = 7;
  b.commands.push_back({0x21, 0x81, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0});
  bog.defaultButtonIdRef = 7;
  bog.buttons.push_back(b);
  page.bogs.push_back(bog);
  SEffect fx;
  fx.duration = 90000;
  fx.objects.resize(1);
  page.inEffects.windows.resize(1);
  page.inEffects.effects.push_back(fx);
  ic.pages.push_back(page);
  V bytes = WriteComposition(ic);
  ASSERT_GT(bytes.size(), 8u);
  EXPECT_EQ(static_cast<size_t>(bytes[0] << 16 | bytes[1] << 8 | bytes[2]), bytes.size() - 3);
  EXPECT_EQ(bytes[3], 0x80) << "stream model 1";
  // Stream model 1: the user time-out directly follows the model byte.
  EXPECT_EQ((V(bytes.begin() + 4, bytes.begin() + 8)), (V{0x12, 0x34, 0x56, 0x01}));
  // Page: id, version, UMT, in effects (1 window, 1 effect), out effects
  // (none), frame rate, default buttons 0xFFFF.
  size_t page0 = 8;
  size_t afterIn = page0 + 2 + 8 + 1 + 9 + 1 + (3 + 1 + 1 + 8);
  EXPECT_EQ((V(bytes.begin() + static_cast<long>(afterIn), bytes.begin() + static_cast<long>(afterIn) + 8)),
            (V{0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x00}));
  SInteractiveComposition back = ParseComposition(bytes.data(), bytes.size());
  ASSERT_EQ(back.pages.size(), 1u);
  ASSERT_EQ(back.pages[0].bogs.size(), 1u);
  EXPECT_EQ(back.pages[0].bogs[0].buttons[0].id, 7);
  EXPECT_EQ(back.pages[0].bogs[0].buttons[0].commands[0], b.commands[0]);
  EXPECT_EQ(back.pages[0].inEffects.effects[0].duration, 90000u);
  EXPECT_EQ(back.pages[0].defaultSelectedButtonId, 0xFFFF);
  EXPECT_EQ(WriteComposition(back), bytes);

  // Stream model 0 carries both time-outs (33 bits after 7 reserved).
  ic.streamModel = 0;
  ic.compositionTimeOutPts = 0x1FFFFFFFFull;
  ic.selectionTimeOutPts = 5;
  V timed = WriteComposition(ic);
  EXPECT_EQ(timed.size(), bytes.size() + 10);
  EXPECT_EQ((V(timed.begin() + 3, timed.begin() + 14)), (V{0x00, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x05}));
  EXPECT_EQ(ParseComposition(timed.data(), timed.size()).compositionTimeOutPts, 0x1FFFFFFFFull);

  // A wrong length or a cut-off composition is refused.
  V bad = bytes;
  bad[2] += 1;
  bad.push_back(0);
  EXPECT_THROW(ParseComposition(bad.data(), bad.size()), FormatError);
  for (size_t cut = 0; cut < bytes.size(); ++cut) EXPECT_THROW(ParseComposition(bytes.data(), cut), FormatError);

  // Fragments of the ICS join into the composition again.
  V big(150000, 0xAB);
  CIcs model;
  std::vector<std::unique_ptr<CIcs>> frags;
  FragmentComposition(big, model, frags);
  ASSERT_EQ(frags.size(), 3u);
  EXPECT_TRUE(frags[0]->m_sequence.first && !frags[0]->m_sequence.last);
  EXPECT_TRUE(!frags[2]->m_sequence.first && frags[2]->m_sequence.last);
  EXPECT_EQ(frags[0]->Bytes().size(), 0xFFFFu + 3);
  CDsData ds;
  ds.m_ics = std::move(frags);
  EXPECT_EQ(ds.Composition(), big);
}
