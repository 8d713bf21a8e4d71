// "Try menu": a built disc run by libbluray, a player library, so that the
// preview is what a player does: its HDMV VM runs the movie objects and
// button commands, its graphics controller draws the menu, and keys reach
// it as a remote control's would. The interactive-graphics plane is shown
// and the player's navigation events are listed.
#pragma once

#include <QElapsedTimer>
#include <QImage>
#include <QTimer>
#include <QStringList>
#include <QWidget>
#include <cstdint>
#include <map>
#include <vector>

#include "graphics/page_render.h"
#include "studio/button_sound.h"
#include "model/project.h"

struct bluray;
struct bd_overlay_s;

namespace zvstudio {

// A menu of the disc compiled from the project as the build compiles it,
// with its buttons' names by (page id, button id): to tell which page and
// button the player shows and the commands that button runs.
struct SPreviewMenu {
  zv::CCompiledPage compiled;
  std::map<std::pair<int, int>, QString> names;  // "Main/chapters"
};

// The project's menus that compile.
std::vector<SPreviewMenu> PreviewMenus(zv::CZvObject& project);

class MenuPreview : public QWidget {
  Q_OBJECT
 public:
  explicit MenuPreview(QWidget* parent = nullptr);
  ~MenuPreview() override;
  MenuPreview(const MenuPreview&) = delete;
  MenuPreview& operator=(const MenuPreview&) = delete;

  // Opens the disc folder and starts it from first play, running it until
  // it waits for the viewer (the preview opens at the menu, not a logo's
  // length later); false with `error` when libbluray cannot open or play
  // it. Button sounds that cannot be read are told in the actions.
  bool Open(const QString& disc, QString& error);
  // Lets the player run until it waits for the viewer (or `maxReads`
  // reads pass). False after a read error.
  bool Run(long maxReads = 20000);
  // "up", "down", "left", "right", "enter", "menu" (top menu), "popup",
  // or a digit. What the key does at once (a selection drawn, its sound)
  // is taken now; what follows (the commands a button runs, a title they
  // play) comes as the real-time clock runs the player on. False for an
  // unknown key.
  bool Press(const QString& key);
  // The interactive-graphics plane as the player composed it (RGBA, the
  // video's size; transparent where no menu draws).
  const QImage& Plane() const { return plane_; }
  // "TITLE 0", "PLAYLIST 00001", "SOUND_EFFECT 0", ... in order.
  const QStringList& Events() const { return events_; }
  // What the viewer's keys made the player do, in plain words: "plays
  // Title 2 (Movie#1/Title#1)", "audio stream 2", "subtitles off", ...
  const QStringList& Actions() const { return actions_; }
  // The player the button sounds the disc asks for are handed to.
  const ButtonSoundPlayer& Sounds() const { return sounds_; }
  // The project's names of the disc's titles, by number.
  void SetTitleNames(std::map<int, QString> names) { titles_ = std::move(names); }
  // The menus the plane is recognised in: after each key the actions say
  // which page and button show ("Chapters: chapter1 selected"), and Enter
  // says the commands the selected button runs ("chapter1 runs: ...").
  void SetMenus(std::vector<SPreviewMenu> menus) { menus_ = std::move(menus); }

 signals:
  // The player ran on (after Open or a key): new events, a new plane.
  void Ran();

 protected:
  void paintEvent(QPaintEvent*) override;
  void keyPressEvent(QKeyEvent* e) override;

 private:
  static void OnOverlay(void* self, const bd_overlay_s* ov);
  // The last event listed, so that repeats of waiting are listed once.
  struct SLastEvent {
    uint32_t event = 0, param = 0;
  };
  // One read of the player and its events; the read's result. `quiet`:
  // nothing came but waiting.
  int ReadOnce(SLastEvent& last, bool& quiet);
  // Lists one event of the player and acts on it (a sound played); `quiet`
  // stays true for waiting.
  void TakeEvent(uint32_t event, uint32_t param, SLastEvent& last, bool& quiet);
  // The real-time clock: between keys the player runs on as time passes,
  // so time-outs and animations happen when they would on a player.
  void Tick();
  void Overlay(const bd_overlay_s& ov);

  bluray* bd_ = nullptr;
  QImage plane_;  // composed as the player draws: a draw replaces its rectangle
  QImage shown_;  // the plane at the last flush
  // The plain words for one of the player's events; empty for those the
  // viewer need not be told.
  QString Describe(int event, uint32_t param) const;
  // The menu, page and button whose selected look the plane shows; false
  // when none matches.
  bool Recognise(const SPreviewMenu*& menu, const zv::SIgPage*& page, const zv::SButton*& button) const;
  void SaySelection();

  ButtonSoundPlayer sounds_;
  QStringList events_;
  QStringList actions_;
  std::map<int, QString> titles_;
  std::vector<SPreviewMenu> menus_;
  QString said_;  // the selection last said
  QTimer clock_;
  QElapsedTimer wall_;
  bool flushed_ = false;
};

// The disc titles of the project by number, as the build numbers them
// ("Movie#1/Title#1"); the project's per-build numbers are assigned anew.
std::map<int, QString> TitleNames(zv::CZvObject& project);

// A window with the preview of the disc at `disc`, a remote-control pad
// (arrows, Enter, Top Menu, Pop-up; the keyboard works too) and the
// player's events; null with `error` when the disc does not open.
QWidget* OpenPreviewWindow(QWidget* parent, const QString& disc, QString& error,
                           std::map<int, QString> titles = {}, std::vector<SPreviewMenu> menus = {});

}  // namespace zvstudio
