#include <gtest/gtest.h>

#include "le_bytes.h"
#include "named/containers.h"
#include "named/source.h"
#include "platform/paths.h"

using namespace zv;
using zvtest::LeBytes;

namespace {

// Small model classes for exercising the containers.
class CLeaf : public CNamedObject {
  ZV_DECLARE_DYNCREATE(CLeaf)

 public:
  int32_t value = 0;
  void Serialize(CArchive& ar) override {
    CNamedObject::Serialize(ar);
    ar.Int(value);
  }
  void CopyFrom(const CNamedObject& src) override {
    CNamedObject::CopyFrom(src);
    if (auto* l = dynamic_cast<const CLeaf*>(&src)) value = l->value;
  }
};
ZV_IMPLEMENT_DYNCREATE(CLeaf, 1)

class CBigLeaf : public CLeaf {
  ZV_DECLARE_DYNCREATE(CBigLeaf)
};
ZV_IMPLEMENT_DYNCREATE(CBigLeaf, 1)

class CLeafFolder : public CNamedFolder<CLeaf, CLeafFolder> {
  ZV_DECLARE_DYNCREATE(CLeafFolder)
};
ZV_IMPLEMENT_DYNCREATE(CLeafFolder, 1)

class CLeafGroup : public CGroupObject<CLeaf> {
 public:
  const char* DefaultBaseName() const override { return "Leaf"; }
};

struct SRec {
  static constexpr size_t kSize = 3;
  uint8_t a = 0;
  uint16_t b = 0;
  void Serialize(CArchive& ar) {
    ar.Byte(a);
    ar.Word(b);
  }
};

std::vector<uint8_t> Store(CNamedObject& obj) {
  ArchiveOut out;
  CArchive ar(out);
  obj.Serialize(ar);
  return out.Bytes();
}

void Load(CNamedObject& obj, const std::vector<uint8_t>& bytes) {
  ArchiveIn in(bytes);
  CArchive ar(in);
  obj.Serialize(ar);
  EXPECT_TRUE(in.AtEnd());
}

std::string LoadError(CNamedObject& obj, const std::vector<uint8_t>& bytes) {
  try {
    Load(obj, bytes);
  } catch (const ArchiveError& e) {
    return e.what();
  }
  return {};
}

}  // namespace

TEST(NamedObject, SetNameRefusesEmptyAndCaseOnlyChanges) {
  CNamedObject o;
  EXPECT_FALSE(o.SetName(""));
  EXPECT_EQ(o.m_strName, "");
  EXPECT_TRUE(o.SetName("Clip#1"));
  EXPECT_FALSE(o.SetName("CLIP#1"));
  EXPECT_FALSE(o.SetName(""));
  EXPECT_EQ(o.m_strName, "Clip#1");
  EXPECT_TRUE(o.SetName("Clip#2"));
  EXPECT_EQ(o.m_strName, "Clip#2");
}

TEST(NamedObject, FindByIdResolvesOnlyKnownIds) {
  CLeaf a, b;
  a.m_nId = 0;
  b.m_nId = 5;
  CNamedObject unnamed;  // id -1
  CNamedPtrCollection c;
  c.Add(&unnamed);
  c.Add(&a);
  c.Add(&b);
  EXPECT_EQ(c.FindById(-1), nullptr);  // never the object without an id
  EXPECT_EQ(c.FindById(5), &b);
  EXPECT_EQ(c.FindById(0), &a);
  EXPECT_EQ(c.FindById(3), nullptr);
}

TEST(Group, IdsAreNeverReusedAndNamesFollowTheId) {
  CLeafGroup g;
  CLeaf* first = g.CreateChild();
  EXPECT_EQ(first->m_nId, 0);
  EXPECT_EQ(first->m_strName, "Leaf#1");
  EXPECT_EQ(first->m_pParent, &g);
  g.CreateChild("Other");
  EXPECT_EQ(g.GetAt(1)->m_strName, "Other#2");
  g.RemoveAt(0);
  g.RemoveAt(0);
  CLeaf* again = g.CreateChild();
  EXPECT_EQ(again->m_nId, 2);
  EXPECT_EQ(again->m_strName, "Leaf#3");

  // Stored form: byte 0, next id, then the array record.
  again->value = 7;
  LeBytes want;
  want.u8(0).i32(3)            // format byte, m_nNextId
      .str("").i32(-1)         // group name, id
      .u32(1)                  // child count
      .str("Leaf#3").i32(2).i32(7);
  EXPECT_EQ(Store(g), want.bytes());

  CLeafGroup loaded;
  Load(loaded, want.bytes());
  EXPECT_EQ(loaded.m_nNextId, 3);
  EXPECT_EQ(loaded.CreateChild()->m_nId, 3);
}

TEST(Group, DamagedCounterDoesNotHandOutAnExistingId) {
  LeBytes file;
  file.u8(0).i32(0).str("G").i32(-1).u32(1).str("Leaf#5").i32(4).i32(0);
  CLeafGroup g;
  Load(g, file.bytes());
  EXPECT_EQ(g.CreateChild()->m_nId, 5);
}

TEST(PtrArray, EmptyArrayAndAccessOutOfRange) {
  CNamedPtrArray<CLeaf> a("List");
  EXPECT_EQ(Store(a), LeBytes().str("List").i32(-1).u32(0).bytes());
  EXPECT_EQ(a.GetAt(0), nullptr);
  EXPECT_THROW(a.RemoveAt(0), std::invalid_argument);
  a.Add(std::make_unique<CLeaf>());
  EXPECT_EQ(a.GetAt(1), nullptr);
  EXPECT_EQ(a.IndexOf(a.GetAt(0)), 0);
  CLeaf stranger;
  EXPECT_EQ(a.IndexOf(&stranger), -1);
}

TEST(PtrArray, LoadReplacesChildrenAndCopyIsDeep) {
  CNamedPtrArray<CLeaf> a("A");
  auto* leaf = a.Add(std::make_unique<CLeaf>());
  leaf->SetName("x");
  leaf->value = 42;
  CNamedPtrArray<CLeaf> b("B");
  b.Add(std::make_unique<CLeaf>());
  b.Add(std::make_unique<CLeaf>());
  Load(b, Store(a));
  ASSERT_EQ(b.GetCount(), 1u);
  EXPECT_EQ(b.GetAt(0)->value, 42);
  EXPECT_EQ(b.GetAt(0)->m_pParent, &b);

  CNamedPtrArray<CLeaf> c;
  c.CopyFrom(a);
  ASSERT_EQ(c.GetCount(), 1u);
  EXPECT_NE(c.GetAt(0), leaf);
  EXPECT_EQ(c.GetAt(0)->m_pParent, &c);
  EXPECT_EQ(c.GetAt(0)->value, 42);
  EXPECT_EQ(c.m_strName, "A");
}

TEST(PtrArray, CorruptCountFailsWithoutAllocating) {
  // A count of 2^32-1 with no data behind it.
  std::vector<uint8_t> bytes = LeBytes().str("").i32(-1).u32(0xFFFFFFFF).bytes();
  CNamedPtrArray<CLeaf> a;
  EXPECT_NE(LoadError(a, bytes), "");
}

TEST(Folder, ClassTagsFirstUseAndLaterUse) {
  CLeafFolder f;
  f.SetName("F");
  f.Add(std::make_unique<CBigLeaf>())->value = 1;
  f.Add(std::make_unique<CBigLeaf>())->value = 2;
  auto* sub = f.AddFolder(std::make_unique<CLeafFolder>());
  sub->SetName("S");
  sub->Add(std::make_unique<CBigLeaf>())->value = 3;

  LeBytes want;
  want.str("F").i32(-1)
      .u32(2)                                          // item count
      .u16(0xFFFF).u16(1).u16(8).raw("CBigLeaf")       // new class tag: index 1
      .str("").i32(-1).i32(1)
      .str("").i32(-1).i32(2)
      .u32(1)                                          // sub-folder count
      .u16(0xFFFF).u16(1).u16(11).raw("CLeafFolder")   // index 2
      .str("S").i32(-1)
      .u32(1).u16(0x8001)                              // CBigLeaf again, by index
      .str("").i32(-1).i32(3)
      .u32(0);                                         // no sub-folders: no tag
  EXPECT_EQ(Store(f), want.bytes());

  CLeafFolder back;
  Load(back, want.bytes());
  ASSERT_EQ(back.GetCount(), 2u);
  EXPECT_NE(dynamic_cast<CBigLeaf*>(back.GetAt(0)), nullptr);
  EXPECT_EQ(back.GetAt(1)->value, 2);
  ASSERT_EQ(back.GetFolderCount(), 1u);
  EXPECT_EQ(back.GetFolderAt(0)->GetAt(0)->value, 3);
  EXPECT_EQ(back.GetFolderAt(0)->m_pParent, &back);
  EXPECT_EQ(back.TotalCount(), 3u);
}

TEST(Folder, EmptyFolderWritesNoTag) {
  CLeafFolder f;
  EXPECT_EQ(Store(f), LeBytes().str("").i32(-1).u32(0).u32(0).bytes());
}

TEST(Folder, BadClassTagsFailTheLoad) {
  CLeafFolder f;
  // Unregistered class name.
  LeBytes unknown;
  unknown.str("").i32(-1).u32(1).u16(0xFFFF).u16(1).u16(5).raw("CNope").str("").i32(-1).i32(0).u32(0);
  EXPECT_NE(LoadError(f, unknown.bytes()).find("CNope"), std::string::npos);
  // Index 1 used before any class was defined.
  LeBytes early;
  early.str("").i32(-1).u32(1).u16(0x8001).str("").i32(-1).i32(0).u32(0);
  EXPECT_NE(LoadError(f, early.bytes()).find("index 1"), std::string::npos);
  // The long form of a defined index is accepted.
  LeBytes big;
  big.str("").i32(-1).u32(1).u16(0xFFFF).u16(7).u16(5).raw("CLeaf").str("").i32(-1).i32(9)  // schema 7 accepted
      .u32(1).u16(0x7FFF).u32(0x80000001).str("").i32(-1).u32(0).u32(0);
  // Sub-folder index 1 names CLeaf, which is not a folder.
  EXPECT_NE(LoadError(f, big.bytes()), "");
  // A registered class of the wrong kind is refused too.
  LeBytes wrongKind;
  wrongKind.str("").i32(-1).u32(1).u16(0xFFFF).u16(1).u16(11).raw("CLeafFolder").str("").i32(-1).u32(0).u32(0).u32(0);
  EXPECT_NE(LoadError(f, wrongKind.bytes()), "");
}

TEST(Folder, LongClassIndexResolves) {
  LeBytes bytes;
  bytes.str("").i32(-1).u32(1).u16(0xFFFF).u16(1).u16(5).raw("CLeaf").str("").i32(-1).i32(9)
      .u32(1).u16(0xFFFF).u16(1).u16(11).raw("CLeafFolder")
      .str("").i32(-1).u32(1).u16(0x7FFF).u32(0x80000001).str("").i32(-1).i32(10).u32(0);
  CLeafFolder f;
  Load(f, bytes.bytes());
  ASSERT_EQ(f.GetFolderCount(), 1u);
  ASSERT_EQ(f.GetFolderAt(0)->GetCount(), 1u);
  EXPECT_EQ(f.GetFolderAt(0)->GetAt(0)->value, 10);
}

TEST(Folder, DeepNestingFailsCleanly) {
  LeBytes bytes;
  for (int i = 0; i < 200; ++i) {
    bytes.str("").i32(-1).u32(0).u32(1);
    if (i == 0) bytes.u16(0xFFFF).u16(1).u16(11).raw("CLeafFolder");
    else bytes.u16(0x8001);
  }
  CLeafFolder f;
  EXPECT_NE(LoadError(f, bytes.bytes()).find("deeply"), std::string::npos);
}

TEST(Folder, CopyKeepsItemClassesAndEmptiesSubFolders) {
  CLeafFolder f;
  f.Add(std::make_unique<CBigLeaf>())->value = 5;
  f.AddFolder(std::make_unique<CLeafFolder>())->Add(std::make_unique<CLeaf>());
  CLeafFolder c;
  c.CopyFrom(f);
  ASSERT_EQ(c.GetCount(), 1u);
  EXPECT_NE(dynamic_cast<CBigLeaf*>(c.GetAt(0)), nullptr);
  EXPECT_EQ(c.GetAt(0)->value, 5);
  ASSERT_EQ(c.GetFolderCount(), 1u);
  EXPECT_EQ(c.GetFolderAt(0)->GetCount(), 0u);
}

TEST(TypeArray, RecordsRoundTripAndCountsAreChecked) {
  CTypeArray<SRec> t("T");
  t.Add(SRec{1, 0x0203});
  t.Add(SRec{4, 0x0506});
  std::vector<uint8_t> want = LeBytes().str("T").i32(-1).u32(2).u8(1).u16(0x0203).u8(4).u16(0x0506).bytes();
  EXPECT_EQ(Store(t), want);
  CTypeArray<SRec> back;
  Load(back, want);
  ASSERT_EQ(back.GetCount(), 2u);
  EXPECT_EQ(back.GetAt(1)->b, 0x0506);
  EXPECT_EQ(back.GetAt(2), nullptr);
  CTypeArray<SRec> bad;
  EXPECT_NE(LoadError(bad, LeBytes().str("").i32(-1).u32(3).u8(1).u16(2).bytes()), "");
}

TEST(Source, StoredFormWithPathsAndFileList) {
  CSource s;
  s.m_strPath = "/discs/a/video.264";
  s.m_strSecondPath = "/other/audio.ac3";
  s.m_nTimeMode = 1;
  s.m_nInPoint = 1000;
  s.m_nOutPoint = 5000;
  s.m_nGraphicsOffset = -3;
  s.m_isrcCountry[0] = 'D';
  s.m_isrcNumber[4] = 9;
  LeBytes want;
  want.str("").i32(-1).u8(0).u8(0)  // name, id, byte 0, no file list
      .str("./a/video.264")         // relative to /discs/p.zvpj
      .str("../other/audio.ac3")
      .u8(1).i32(1000).i32(5000).i32(-3)
      .raw("eng")
      .raw("D").zeros(1).zeros(3).zeros(2).zeros(4).u8(9);
  ArchiveOut out;
  CArchive ar(out, "/discs/p.zvpj");
  s.Serialize(ar);
  EXPECT_EQ(out.Bytes(), want.bytes());

  // A project moved elsewhere: paths follow it; '\' from Windows is a separator.
  LeBytes moved;
  moved.str("").i32(-1).u8(0).u8(0).str(".\\a\\video.264").str("").u8(0).i32(0).i32(0).i32(0).raw("fra").zeros(12);
  ArchiveIn in(moved.bytes());
  CArchive lar(in, "/new/place/p.zvpj");
  CSource back;
  back.Serialize(lar);
  EXPECT_EQ(back.m_strPath, "/new/place/a/video.264");
  EXPECT_EQ(back.m_strSecondPath, "");
  EXPECT_EQ(back.m_language.Text(), "fra");

  // With a file list the two paths are not stored.
  CSource l;
  l.m_pFileList = std::make_unique<CFileList>();
  l.m_pFileList->m_nReserved = 0xABCD;
  l.m_pFileList->m_items.push_back({"/discs/p1.m2v", 1000});
  LeBytes wantList;
  wantList.str("").i32(-1).u8(0).u8(1)
      .u8(0).u32(0xABCD).u32(1)         // list: version, kept word, count
      .u8(0).str("./p1.m2v").i32(1000)  // item: version, path, duration
      .u8(0).i32(0).i32(0).i32(0).raw("eng").zeros(12);
  ArchiveOut out2;
  CArchive ar2(out2, "/discs/p.zvpj");
  l.Serialize(ar2);
  EXPECT_EQ(out2.Bytes(), wantList.bytes());

  CSource copy;
  copy.CopyFrom(l);
  ASSERT_NE(copy.m_pFileList, nullptr);
  EXPECT_NE(copy.m_pFileList.get(), l.m_pFileList.get());
  EXPECT_EQ(copy.m_pFileList->m_items[0].path, "/discs/p1.m2v");
}

TEST(Source, OverlongPathIsKeptOnLoadForReopeningToRefuse) {
  std::string longName(300, 'x');
  std::vector<uint8_t> bytes;
  ArchiveOut out;
  out.String("");
  out.I32(-1);
  out.U8(0);
  out.U8(0);
  out.String(longName);
  out.String("");
  for (int i = 0; i < 13 + 3 + 12; ++i) out.U8(0);
  ArchiveIn in(out.Bytes());
  CArchive ar(in, "/p/x.zvpj");
  CSource s;
  ASSERT_NO_THROW(s.Serialize(ar));
  EXPECT_EQ(s.m_strPath, "/p/" + longName);
  std::string error;
  EXPECT_FALSE(CheckPathLength(s.m_strPath, error));
  EXPECT_NE(error.find("too long"), std::string::npos);
}
