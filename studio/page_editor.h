// The page editor of one menu, its pages as tabs: a page drawn as the
// player draws it (the build's compiled objects and palette, over "BG
// Color"), each button's rectangle with its name and type, the neighbours
// as arrows and the buttons no arrow key reaches flagged. Buttons are
// selected by clicking (Ctrl or Shift adds, a rubber band takes all it
// touches), moved by dragging or with the arrow keys (snapping to a grid
// and other buttons' edges when asked), aligned, distributed and grouped
// into a BOG; every change goes through the shared command layer, so undo,
// redo and the property grid stay in step.
#pragma once

#include <QImage>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "graphics/page_render.h"
#include "model/project.h"

class QCheckBox;
class QSpinBox;
class QComboBox;
class QLabel;
class QTabBar;
template <typename T>
class QFutureWatcher;

namespace zvstudio {

// Runs `change` on the project as one undoable step, then selects the
// object at `select` (read after the change, which may fill it in). A change that fails says why in its error and must
// have changed nothing; the window shows the error.
using ChangeFn = std::function<bool(std::string& error)>;
using EditPage = std::function<bool(const ChangeFn& change, const std::string& select)>;

class PageCanvas;

class PageEditor : public QWidget {
  Q_OBJECT
 public:
  PageEditor(zv::CZvObject& project, EditPage edit, QWidget* parent = nullptr);

  // Shows the page of the object at `path` (a menu, page, BOG or button;
  // a button becomes the selected one). False when the object is not part
  // of a menu page.
  bool ShowFor(const QString& path);
  // Reads the model again (after an edit, undo or redo).
  void Refresh();
  void SetBackground(QRgb rgb);

  QString PagePath() const { return pagePath_; }
  // The menu's path: the page's without epoch, display set and page.
  QString MenuPath() const;
  // The paths of the pages shown as tabs (the menu's first display set).
  QStringList PagePaths() const;
  // The button last clicked; the selection holds it and any added to it.
  QString SelectedButton() const { return selected_; }
  QStringList SelectedButtons() const { return selection_; }
  void SelectButton(const QString& name);

  enum class Align { kLeft, kRight, kTop, kBottom, kCentreH, kCentreV };
  // The selected buttons lined up on the edge or centre line of the box
  // around them, one undoable step.
  bool AlignSelected(Align how);
  // The selected buttons (three or more) spread with equal gaps between
  // the outermost ones, which stay; one undoable step.
  bool DistributeSelected(bool horizontally);
  // The selected buttons moved into a new BOG (emptied BOGs go), one
  // undoable step.
  bool GroupSelected();
  // Gives the button `name` the picture `file` (a new graphic of the menu)
  // in state 0 normal, 1 selected, 2 activated.
  bool SetPicture(const QString& name, int state, const QString& file);
  // While dragging: the selection's top-left snaps to an 8-pixel grid, or
  // to another button's edge within 10 pixels.
  void SetSnap(bool on);
  static constexpr int kGrid = 8;
  static constexpr int kSnapReach = 10;
  // Missing pictures and the compiler's warnings for the menu.
  QStringList Warnings() const { return warnings_; }
  // 0 normal, 1 selected, 2 activated: the state the selected button is
  // drawn in.
  void SetState(int state);
  // The frames of the selected button's animation in the state shown (1
  // for a still picture), and the one shown, from 0.
  int FrameCount() const;
  void SetFrame(int frame);
  // Names of the buttons no arrow key reaches.
  QStringList Unreachable() const { return unreachable_; }
  // "A overlaps B" for buttons of different BOGs whose rectangles meet:
  // the player draws both, the later over the earlier.
  QStringList Overlaps() const { return overlaps_; }
  // What went wrong compiling the page, empty when it is drawn.
  QString Problem() const { return problem_; }
  QWidget* Canvas() const;
  // Widget position of page point (x, y) on the canvas.
  QPoint ToCanvas(int x, int y) const;
  // Adds a button for each PNG file as if dropped at page point `at`; false
  // when one is refused. Dropped on a button, the one file becomes that
  // button's picture in the state the switch shows.
  bool DropPictures(const QStringList& files, QPoint at);

  // The page as drawn (without the editor's marks), page-sized.
  const QImage& PageImage() const { return image_; }

  // Whether an edit that changes more than positions compiles the menu on
  // a worker thread, so that a heavy menu leaves the window responsive
  // (the page says "compiling…" meanwhile and the latest edit's result is
  // shown). On in the shell; off, the edit returns with the page drawn.
  static void SetCompileInBackground(bool on);
  bool Compiling() const { return compiling_; }

 signals:
  // A compilation on the worker ended and its page is shown.
  void Compiled();

  // A page tab was chosen.
  void PageChosen(const QString& path);

 private:
  friend class PageCanvas;
  struct SButtonBox {
    QString name;
    QString bogPath;  // the BOG's path; the button's is bogPath + "/" + name
    QString type;
    int id = 0;
    QRect rect;  // page pixels
    int neighbour[4] = {-1, -1, -1, -1};  // up, down, left, right: ids
    bool unreachable = false;
  };

  // The menu to compile (a copy of the project, with what the copy
  // cannot carry), and what became of it.
  struct SCompileJob;
  struct SCompileResult {
    uint64_t generation = 0;
    zv::CCompiledPage compiled;
    QString problem;
    QStringList warnings;
  };
  static std::shared_ptr<SCompileResult> RunCompile(const std::shared_ptr<SCompileJob>& job);
  void CompileNow(zv::CMenuIgObject& menu);
  void StartCompile(zv::CMenuIgObject& menu);
  void Launch(std::shared_ptr<SCompileJob> job);
  void CompileFinished();

  zv::CPage* FindPage() const;
  std::string Signature(const zv::CPage& page) const;
  // The video file of the clip the page's menu is shown over (its film's
  // first clip with a primary video track); empty when none.
  std::string BackgroundClip() const;
  void Redraw();
  void RefreshPageTabs();
  // Missing pictures of the page's buttons.
  void FindMissingPictures(const zv::CPage& page);
  const SButtonBox* BoxOf(const QString& name) const;
  // Moves the selected buttons by (dx, dy) page pixels through the command
  // layer.
  void MoveSelected(int dx, int dy);
  // The drag offset (dx, dy) of the selection adjusted to the grid or to
  // the other buttons' edges.
  QPoint Snapped(QPoint offset) const;
  // New top-left corners of buttons, one undoable step.
  bool PlaceButtons(const std::vector<std::pair<SButtonBox, QPoint>>& places);
  // Sets the neighbour of button `from` in the direction of `to` (the one
  // of up, down, left, right nearest the line between their centres).
  bool LinkNeighbour(const QString& from, const QString& to);
  // A new BOG with a button showing the picture `file` (added to the
  // menu's graphics) in every state, its top-left corner at `at`.
  bool AddPictureButton(const QString& file, QPoint at);
  // A setting of the page through the shared command layer.
  bool SetPage(const std::string& key, const std::string& value);
  // Settings of one button through the shared command layer.
  bool SetButton(const SButtonBox& b, const std::vector<std::pair<std::string, std::string>>& settings);

  zv::CZvObject& project_;
  EditPage edit_;
  PageCanvas* canvas_;
  QTabBar* pages_;
  QComboBox* state_;
  QSpinBox* frame_;
  QLabel* frames_;
  QComboBox* under_;
  QCheckBox* snap_;  // "BG Color" or the first frame of the background clip
  QLabel* status_;
  QString pagePath_;
  QString selected_;
  QStringList selection_;
  QString problem_;
  QStringList warnings_;
  QStringList compileWarnings_;
  bool fillingTabs_ = false;
  QStringList unreachable_;
  QStringList overlaps_;
  int pageId_ = -1;
  zv::SColor background_{0x80, 0x80, 0x00, 255};
  std::string signature_;
  zv::CCompiledPage compiled_;
  std::vector<SButtonBox> boxes_;
  QImage image_;
  zv::CPicture backdrop_;
  bool compiling_ = false;
  uint64_t generation_ = 0;  // of the latest compilation asked for
  std::shared_ptr<SCompileJob> pending_;  // asked for while another ran
  QFutureWatcher<std::shared_ptr<SCompileResult>>* compile_;
  std::string backdropPath_;
};

}  // namespace zvstudio
