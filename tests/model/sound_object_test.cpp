// A button sound of the model: which paths it takes, its name, and its path
// stored relative to the project file.
#include "model/sound_object.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/test_support.h"

using namespace zv;
namespace fs = std::filesystem;

TEST(SoundObject, SetPathTakesOnlyCompatibleWavsAndNamesTheSoundAfterIt) {
  zvtest::TempDir dir;
  fs::create_directories(dir / "disc/wav");
  const std::string click = dir / "disc/wav/Click.wav";
  fs::copy_file(zvtest::DataPath("sounds/click_48k.wav"), click);
  fs::copy_file(zvtest::DataPath("sounds/stereo_44k.wav"), dir / "disc/wav/slow.wav");

  CSoFolder folder;
  CSoundObject* s = folder.Add(std::make_unique<CSoundObject>());
  EXPECT_FALSE(s->SetPath(dir / "disc/wav/slow.wav"));
  EXPECT_EQ(s->Path(), "");
  EXPECT_TRUE(s->SetPath(click));
  EXPECT_EQ(s->m_strName, "Click");
  EXPECT_FALSE(s->SetPath(dir / "disc/wav/CLICK.wav"));  // the same path in another case
  // A name of the user's stays.
  CSoundObject named;
  named.m_strName = "Yes";
  EXPECT_TRUE(named.SetPath(click));
  EXPECT_EQ(named.m_strName, "Yes");
  EXPECT_TRUE(named.SetPath(""));
  EXPECT_EQ(named.Path(), "");

  // Stored relative to the project, found again after the folder moved.
  ArchiveOut out;
  {
    CArchive ar(out, dir / "disc/p.zvpj");
    folder.Serialize(ar);
  }
  fs::rename(dir / "disc", dir / "moved");
  ArchiveIn in(out.Bytes());
  CArchive ar(in, dir / "moved/p.zvpj");
  CSoFolder back;
  back.Serialize(ar);
  ASSERT_EQ(back.GetCount(), 1u);
  EXPECT_EQ(back.GetAt(0)->Path(), dir / "moved/wav/Click.wav");
  EXPECT_EQ(back.GetAt(0)->m_strName, "Click");
}
