#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bdnav/id_bdmv.h"
#include "bdnav/index_bdmv.h"
#include "bdnav/movie_objects.h"
#include "platform/bytes.h"

using namespace zv;

namespace {

// Expected files are spelled out field by field with the plain byte writer.
class Expect {
 public:
  Expect& U8(uint64_t v) { return Put([&](BeWriter& w) { w.U8(v); }, 1); }
  Expect& U16(uint64_t v) { return Put([&](BeWriter& w) { w.U16(v); }, 2); }
  Expect& U32(uint64_t v) { return Put([&](BeWriter& w) { w.U32(v); }, 4); }
  Expect& Text(const std::string& s) {
    bytes_.insert(bytes_.end(), s.begin(), s.end());
    return *this;
  }
  Expect& Zeros(size_t n) {
    bytes_.insert(bytes_.end(), n, 0);
    return *this;
  }
  Expect& Raw(std::initializer_list<uint8_t> b) {
    bytes_.insert(bytes_.end(), b);
    return *this;
  }
  const std::vector<uint8_t>& Bytes() const { return bytes_; }

 private:
  template <class F>
  Expect& Put(F f, size_t n) {
    size_t at = bytes_.size();
    bytes_.resize(at + n);
    BeWriter w(bytes_.data() + at, n);
    f(w);
    return *this;
  }
  std::vector<uint8_t> bytes_;
};

INDEX_BDMV GeneratedIndex(int titles) {
  INDEX_BDMV x;
  x.firstPlayback.movieObjectId = 0;
  x.topMenu.movieObjectId = 1;
  for (int i = 0; i < titles; ++i) {
    TI t;
    t.movieObjectId = static_cast<uint16_t>(2 + i);
    x.titles.push_back(t);
  }
  return x;
}

MOVIE_OBJECTS TwoObjects() {
  MOVIE_OBJECTS m;
  MOVIE_OBJECT& a = m.Add();
  a.resumeIntention = true;
  a.titleSearchMask = true;
  EXPECT_TRUE(a.commands.Add("JumpTitle 1"));
  m.Add();  // no commands
  return m;
}

template <class Rec, class Parse>
void ExpectEveryTruncationFails(const std::vector<uint8_t>& file, Parse parse) {
  for (size_t n = 0; n < file.size(); ++n) {
    Rec rec;
    EXPECT_THROW(parse(file.data(), n, rec), FormatError) << "length " << n;
  }
}

std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const FormatError& e) {
    return e.what();
  }
  return "no error";
}

}  // namespace

TEST(IndexBdmv, EmptyIndexIs108Bytes) {
  INDEX_BDMV x;
  EXPECT_EQ(EncodeIndex(x, nullptr, 0), 108u);
  Expect e;
  e.Text("INDX").Text("0200")
      .U32(78)   // IndexsStartAddress
      .U32(0)    // ExtensionDataStartAddress
      .Zeros(24) // reserved
      .U32(34)   // AppInfoBDMV length
      .Zeros(34) // flags, format, rate, ContentProviderUserData
      .U32(26)   // Indexes length
      .Raw({0x40, 0, 0, 0, 0x00, 0, 0xFF, 0xFF, 0, 0, 0, 0})  // FirstPlayback: HDMV, movie, id -1
      .Raw({0x40, 0, 0, 0, 0x40, 0, 0xFF, 0xFF, 0, 0, 0, 0})  // TopMenu: HDMV, interactive, id -1
      .U16(0);   // Title Count
  EXPECT_EQ(EncodeIndex(x), e.Bytes());
}

TEST(IndexBdmv, EntriesAndTopMenuPlaybackType) {
  INDEX_BDMV x = GeneratedIndex(1);
  x.topMenu.playbackType = 0;  // written as interactive regardless
  TI bdj;
  bdj.objectType = 2;
  bdj.accessType = 1;
  bdj.playbackType = 2;
  bdj.bdjName = "00001";
  x.titles.push_back(bdj);
  std::vector<uint8_t> file = EncodeIndex(x);
  ASSERT_EQ(file.size(), 108u + 24);
  Expect e;
  e.U32(26 + 24)                                             // Indexes length
      .Raw({0x40, 0, 0, 0, 0x00, 0, 0x00, 0x00, 0, 0, 0, 0})  // FirstPlayback -> object 0
      .Raw({0x40, 0, 0, 0, 0x40, 0, 0x00, 0x01, 0, 0, 0, 0})  // TopMenu -> object 1
      .U16(2)                                                // Title Count
      .Raw({0x40, 0, 0, 0, 0x00, 0, 0x00, 0x02, 0, 0, 0, 0})  // Title 1 -> object 2
      .Raw({0x90, 0, 0, 0, 0x80, 0}).Text("00001").U8(0);    // Title 2: BD-J, access 1, "00001"
  EXPECT_EQ(std::vector<uint8_t>(file.begin() + 78, file.end()), e.Bytes());

  // A BD-J top menu is written with playback type 3.
  x.topMenu.objectType = 2;
  file = EncodeIndex(x);
  EXPECT_EQ(file[82 + 12], 0x80);
  EXPECT_EQ(file[82 + 12 + 4], 0xC0);
  EXPECT_EQ(std::string(file.begin() + 82 + 12 + 6, file.begin() + 82 + 12 + 11), "00000");
}

TEST(IndexBdmv, WriterRefusesFieldsThatDoNotFit) {
  INDEX_BDMV x;
  x.titles.resize(70000);
  EXPECT_THROW(EncodeIndex(x, nullptr, 0), std::out_of_range);
  x.titles.resize(1);
  x.titles[0].objectType = 4;
  EXPECT_THROW(EncodeIndex(x, nullptr, 0), std::out_of_range);
  x.titles[0] = TI{2, 0, 2, 0, "0001"};
  EXPECT_THROW(EncodeIndex(x, nullptr, 0), std::out_of_range);
  x.titles[0].bdjName = "00001";
  std::vector<uint8_t> small(EncodeIndex(x, nullptr, 0) - 1);
  EXPECT_THROW(EncodeIndex(x, small.data(), small.size()), std::out_of_range);
}

TEST(IndexBdmv, WriteParseWriteIsIdentical) {
  INDEX_BDMV x = GeneratedIndex(3);
  x.titles[1] = TI{2, 1, 3, 0xFFFF, "12345"};
  x.extensionData = {0, 0, 0, 4, 1, 2, 3, 4};  // length 4, then the data
  std::vector<uint8_t> file = EncodeIndex(x);
  EXPECT_EQ(file[12] << 24 | file[13] << 16 | file[14] << 8 | file[15], 108 + 36);

  INDEX_BDMV back;
  EXPECT_EQ(ParseIndex(file.data(), file.size(), back), file.size());
  EXPECT_EQ(back.indexesStartAddress, 78u);
  EXPECT_EQ(back.titles, x.titles);
  EXPECT_EQ(back.firstPlayback, x.firstPlayback);
  EXPECT_EQ(back.extensionData, x.extensionData);
  EXPECT_EQ(EncodeIndex(back), file);
}

TEST(IndexBdmv, TruncatedOrCorruptFilesFail) {
  std::vector<uint8_t> good = EncodeIndex(GeneratedIndex(2));
  ExpectEveryTruncationFails<INDEX_BDMV>(good, ParseIndex);

  auto parse = [](std::vector<uint8_t> f) {
    return ErrorOf([&] {
      INDEX_BDMV x;
      ParseIndex(f.data(), f.size(), x);
    });
  };
  auto with = [&](size_t at, uint32_t v) {
    std::vector<uint8_t> f = good;
    BeWriter(f.data() + at, 4).U32(v);
    return f;
  };
  std::vector<uint8_t> f = good;
  f[0] = 'X';
  EXPECT_EQ(parse(f), "index.bdmv: header: type indicator is \"XNDX\", not \"INDX\"");
  EXPECT_NE(parse(with(8, 5000)).find("index.bdmv: Indexes:"), std::string::npos);
  EXPECT_EQ(parse(with(8, 20)), "index.bdmv: Indexes: IndexsStartAddress 20 points inside the header");
  EXPECT_EQ(parse(with(40, 10)), "index.bdmv: AppInfoBDMV: length 10 is shorter than 34");
  EXPECT_NE(parse(with(40, 0x7FFFFFFF)).find("AppInfoBDMV"), std::string::npos);
  // Title Count 2 with room for one title only.
  EXPECT_EQ(parse(with(78, 38)), "index.bdmv: Indexes: Title Count 2 does not fit the length 38");
  EXPECT_NE(parse(with(78, 0xFFFFFFFF)).find("Indexes"), std::string::npos);
  EXPECT_EQ(parse(with(12, 100)), "index.bdmv: ExtensionData: ExtensionDataStartAddress 100 points inside the indexes");
  EXPECT_NE(parse(with(12, static_cast<uint32_t>(good.size()))).find("ExtensionData"), std::string::npos);
  std::vector<uint8_t> ext = good;
  BeWriter(ext.data() + 12, 4).U32(static_cast<uint32_t>(good.size()));
  ext.insert(ext.end(), {0x80, 0, 0, 0});
  EXPECT_EQ(parse(ext), "index.bdmv: ExtensionData: length 2147483648 is out of range");
}

TEST(IndexBdmv, Dump) {
  INDEX_BDMV x = GeneratedIndex(1);
  std::string d = DumpIndex(x);
  for (const char* line : {"TypeIndicator: INDX\n", "IndexsStartAddress: 78\n", "AppInfoBDMV: 34\n",
                           "Indexes: 38\n", "  FirstPlayback: \n", "    HDMV_TitlePlaybackType: 0\n",
                           "  Title Count: 1\n", "  Title 1: \n", "    TitleAccessType: 0\n",
                           "    MovieObjectID: 2\n"})
    EXPECT_NE(d.find(line), std::string::npos) << line << "\n" << d;
  x.titles[0] = TI{2, 0, 2, 0, "00007"};
  d = DumpIndex(x);
  EXPECT_NE(d.find("    BDJ_TitlePlaybackType: 2\n    BDJO_FileName: 00007\n"), std::string::npos) << d;
}

TEST(MovieObjectBdmv, HandComputedFile) {
  Expect e;
  e.Text("MOBJ").Text("0200")
      .U32(0)                     // ExtensionDataStartAddress
      .Zeros(28)                  // reserved
      .U32(4 + 2 + (4 + 12) + 4)  // MovieObjects length
      .U32(0)                     // reserved
      .U16(2)                     // MovieObject Count
      .U8(0xA0).U8(0).U16(1)      // resume intention + title search mask, 1 command
      .Raw({0x21, 0x81, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0})  // JumpTitle 1
      .U8(0).U8(0).U16(0);        // second object, no commands
  MOVIE_OBJECTS m = TwoObjects();
  EXPECT_EQ(EncodeMovieObjects(m, nullptr, 0), e.Bytes().size());
  EXPECT_EQ(EncodeMovieObjects(m), e.Bytes());
}

TEST(MovieObjectBdmv, WriteParseWriteIsIdentical) {
  MOVIE_OBJECTS m = TwoObjects();
  m.objects[1].menuCallMask = true;
  for (const char* t : {"If GPR2011 == 0", "GoTo 4", "SetStream GPR2010 GPR2011 1 X X", "GoTo 5",
                        "SetStream GPR2010 X 0 X X", "PlayPlaylist 0"})
    ASSERT_TRUE(m.objects[1].commands.Add(t));
  m.extensionData = {0, 0, 0, 2, 9, 9};
  std::vector<uint8_t> file = EncodeMovieObjects(m);
  const uint32_t ext = file[8] << 24 | file[9] << 16 | file[10] << 8 | file[11];
  EXPECT_EQ(ext, file.size() - 6);

  MOVIE_OBJECTS back;
  EXPECT_EQ(ParseMovieObjects(file.data(), file.size(), back), file.size());
  EXPECT_EQ(back.objects, m.objects);
  EXPECT_EQ(back.extensionData, m.extensionData);
  EXPECT_EQ(EncodeMovieObjects(back), file);
}

TEST(MovieObjectBdmv, TruncatedOrCorruptFilesFail) {
  std::vector<uint8_t> good = EncodeMovieObjects(TwoObjects());
  ExpectEveryTruncationFails<MOVIE_OBJECTS>(good, ParseMovieObjects);

  auto parse = [](const std::vector<uint8_t>& f) {
    return ErrorOf([&] {
      MOVIE_OBJECTS x;
      ParseMovieObjects(f.data(), f.size(), x);
    });
  };
  std::vector<uint8_t> f = good;
  f[3] = 'X';
  EXPECT_EQ(parse(f), "MovieObject.bdmv: header: type indicator is \"MOBX\", not \"MOBJ\"");
  f = good;
  BeWriter(f.data() + 40, 4).U32(0xFFFFFFF0);  // length past the end
  EXPECT_NE(parse(f).find("MovieObject.bdmv: MovieObjects:"), std::string::npos);
  f = good;
  BeWriter(f.data() + 48, 2).U16(0xFFFF);  // count far beyond the length
  EXPECT_EQ(parse(f), "MovieObject.bdmv: MovieObjects: MovieObject Count 65535 does not fit the length 26");
  f = good;
  BeWriter(f.data() + 52, 2).U16(3);  // first object claims 3 commands
  EXPECT_EQ(parse(f), "MovieObject.bdmv: MovieObjects: MovieObject 0: Command Count 3 runs past the length 26");
  f = good;
  BeWriter(f.data() + 8, 4).U32(50);
  EXPECT_NE(parse(f).find("points inside the movie objects"), std::string::npos);
}

TEST(MovieObjectBdmv, DumpShowsCommandsAsText) {
  MOVIE_OBJECTS m = TwoObjects();
  CNavCmd foreign;
  foreign.bytes = {0x78, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  m.objects[1].commands.Add(foreign);
  std::string d = DumpMovieObjects(m);
  for (const char* line : {"MovieObjects: 38\n", "  MovieObject Count: 2\n", "  MovieObject 0: \n",
                           "    TerminalInfo: 0xA0\n", "      ResumeIntentionFlag: 1\n", "      MenuCallMask: 0\n",
                           "      TitleSearchMask: 1\n", "    Command Count: 1\n", "      Command 0: JumpTitle 1\n",
                           "      Command 0: raw 78 00 00 00 00 00 00 00 00 00 00 01\n"})
    EXPECT_NE(d.find(line), std::string::npos) << line << "\n" << d;
}

TEST(IdBdmv, WriteReadAndReject) {
  ID_BDMV id;
  std::vector<uint8_t> file = EncodeId(id);
  Expect e;
  e.Text("BDID").Text("0200").Zeros(96);
  EXPECT_EQ(file, e.Bytes());
  ID_BDMV back;
  EXPECT_EQ(ParseId(file.data(), file.size(), back), 104u);
  EXPECT_EQ(back.version, "0200");
  EXPECT_NE(DumpId(back).find("Data: all zero\n"), std::string::npos);
  ExpectEveryTruncationFails<ID_BDMV>(file, ParseId);
  file[0] = 'I';
  EXPECT_EQ(ErrorOf([&] { ParseId(file.data(), file.size(), back); }),
            "id.bdmv: header: type indicator is \"IDID\", not \"BDID\"");
}
