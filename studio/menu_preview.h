// "Try menu": a built disc run by libbluray, a player library, so that the
// preview is what a player does: its HDMV VM runs the movie objects and
// button commands, its graphics controller draws the menu, and keys reach
// it as a remote control's would. The interactive-graphics plane is shown
// and the player's navigation events are listed.
#pragma once

#include <QImage>
#include <QStringList>
#include <QWidget>
#include <cstdint>

struct bluray;
struct bd_overlay_s;

namespace zvstudio {

class MenuPreview : public QWidget {
  Q_OBJECT
 public:
  explicit MenuPreview(QWidget* parent = nullptr);
  ~MenuPreview() override;
  MenuPreview(const MenuPreview&) = delete;
  MenuPreview& operator=(const MenuPreview&) = delete;

  // Opens the disc folder and starts it from first play; false with
  // `error` when libbluray cannot open or play it.
  bool Open(const QString& disc, QString& error);
  // Lets the player run until it waits for the viewer (or `maxReads`
  // reads pass). False after a read error.
  bool Run(long maxReads = 20000);
  // "up", "down", "left", "right", "enter", "menu" (top menu), "popup",
  // or a digit; then runs the player. False for an unknown key.
  bool Press(const QString& key);
  // The interactive-graphics plane as the player composed it (RGBA, the
  // video's size; transparent where no menu draws).
  const QImage& Plane() const { return plane_; }
  // "TITLE 0", "PLAYLIST 00001", "SOUND_EFFECT 0", ... in order.
  const QStringList& Events() const { return events_; }

 signals:
  // The player ran on (after Open or a key): new events, a new plane.
  void Ran();

 protected:
  void paintEvent(QPaintEvent*) override;
  void keyPressEvent(QKeyEvent* e) override;

 private:
  static void OnOverlay(void* self, const bd_overlay_s* ov);
  void Overlay(const bd_overlay_s& ov);

  bluray* bd_ = nullptr;
  QImage plane_;  // composed as the player draws: a draw replaces its rectangle
  QImage shown_;  // the plane at the last flush
  QStringList events_;
};

// A window with the preview of the disc at `disc`, a remote-control pad
// (arrows, Enter, Top Menu, Pop-up; the keyboard works too) and the
// player's events; null with `error` when the disc does not open.
QWidget* OpenPreviewWindow(QWidget* parent, const QString& disc, QString& error);

}  // namespace zvstudio
