// The Delete command's cascade in the model: what refers to a deleted
// object goes with it or lets go of it, and what cannot be deleted stays.
#include <gtest/gtest.h>

#include "model/object_path.h"
#include "model/playlist.h"
#include "model/project.h"

using namespace zv;

namespace {

TEST(DeleteObject, AStoryTakesItsPlayItemsAndAMenuLeavesItsTitles) {
  CZvObject p;
  p.InitNew();
  CFilmObject* movie = p.m_movies.GetAt(0);
  CStoryObject* first = movie->m_stories.GetAt(0);
  CStoryObject* second = movie->m_stories.CreateChild();
  CPlObject* title = movie->m_playlists.GetAt(0);
  AddStoriesToPlaylist(*title, movie->m_stories);
  ASSERT_EQ(title->GetCount(), 2u);
  CPlObject* other = movie->m_playlists.CreateChild();
  AddStoriesToPlaylist(*other, movie->m_stories);

  ASSERT_TRUE(DeleteObject(p, first));
  EXPECT_EQ(movie->m_stories.GetCount(), 1u);
  for (CPlObject* pl : {title, other}) {
    ASSERT_EQ(pl->GetCount(), 1u);
    EXPECT_EQ(pl->GetAt(0)->m_pStory, second);
  }

  CZvIgObject* menu = movie->m_menus.GetAt(0);
  ASSERT_EQ(title->m_pMenu, menu);
  ASSERT_TRUE(DeleteObject(p, menu));
  EXPECT_EQ(movie->m_menus.GetCount(), 0u);
  EXPECT_EQ(title->m_pMenu, nullptr);

  ASSERT_TRUE(DeleteObject(p, other->GetAt(0)));
  EXPECT_EQ(other->GetCount(), 0u);
  EXPECT_EQ(title->GetCount(), 1u);
  ASSERT_TRUE(DeleteObject(p, other));
  EXPECT_EQ(movie->m_playlists.GetCount(), 1u);
  ASSERT_TRUE(DeleteObject(p, movie));
  EXPECT_EQ(p.m_movies.GetCount(), 0u);
}

TEST(DeleteObject, FixedFilmsAndGroupsStay) {
  CZvObject p;
  p.InitNew();
  std::string error;
  for (const char* path : {"Top Menu", "Movie#1/Clips"}) {
    CNamedObject* obj = FindObject(p, path, error);
    ASSERT_NE(obj, nullptr) << error;
    EXPECT_FALSE(DeleteObject(p, obj)) << path;
  }
  EXPECT_FALSE(DeleteObject(p, nullptr));
  EXPECT_EQ(p.m_movies.GetCount(), 1u);
  EXPECT_EQ(p.m_movies.GetAt(0)->m_stories.GetCount(), 1u);
}

}  // namespace
