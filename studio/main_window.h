// The desktop shell's main window: the project tree, the property grid
// built from the shared descriptions of settings, the clip and title views,
// the commands, and the build dialog.
#pragma once

#include <QDialog>
#include <QMainWindow>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "edit/history.h"
#include "edit/properties.h"
#include "model/build.h"
#include "model/project.h"
#include "platform/prompt.h"
#include "platform/settings.h"

class QAction;
class QComboBox;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QTableWidget;
class QTabWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace zvstudio {

class MenuTabs;
class PageEditor;

// Message boxes and Yes/No/Cancel questions; only Yes proceeds.
class BoxPrompt : public zv::IPrompt {
 public:
  explicit BoxPrompt(QWidget* parent) : parent_(parent) {}
  void Message(const std::string& text) override;
  zv::Answer Ask(const std::string& text) override;

 private:
  QWidget* parent_;
};

// Modeless over the disabled main window: the log, the action text, the
// progress bar and Cancel. The build itself runs on a worker thread; its
// progress reaches the dialog through queued calls.
class BuildDialog : public QDialog, public zv::ITaskDialog {
  Q_OBJECT
 public:
  BuildDialog(QWidget* parent, zv::IPrompt& prompt);
  zv::Progress Open() override;
  void Close() override {}
  // Called by the worker; answers 0 once a cancel was confirmed.
  int Report(const zv::SProgressInfo& info);
  QStringList LogLines() const;
  void RequestCancel() { cancelled_ = true; }

 signals:
  void Finished(int result);

 public slots:
  void OnCancel();

 protected:
  void closeEvent(QCloseEvent* e) override;

 private:
  zv::IPrompt& prompt_;
  QListWidget* log_;
  QLabel* action_;
  QProgressBar* bar_;
  QPushButton* cancel_;
  std::atomic<bool> cancelled_{false};
};

class MainWindow : public QMainWindow {
  Q_OBJECT
 public:
  // Messages and questions go to `prompt` when given (tests), else to
  // message boxes.
  explicit MainWindow(zv::IPrompt* prompt = nullptr);
  ~MainWindow() override;

  bool OpenFile(const QString& path);
  bool SaveTo(const QString& path);
  void NewProject();
  // Selects the object at `path` ("Movie#1/Clip#1/Track#2") in the tree.
  bool Select(const QString& path);
  QString SelectedPath() const { return selectedPath_; }
  // The grid's editor of `key` for the selected object, null when the
  // object has no such setting.
  QWidget* Editor(const QString& key) const;
  // The values of the read-only row `key` (a clip's sources, a chapter), in order.
  QStringList Facts(const QString& key) const;
  bool IsModified() const { return history_.IsModified(); }
  zv::CZvObject& Project() { return project_; }
  QString FilePath() const { return path_; }

  // Starts a build into `folder` (the Build command asks for it); the
  // dialog reports its end through BuildDialog::Finished.
  // `remember`: the folder becomes the remembered "OutFolder".
  BuildDialog* StartBuild(const QString& folder, bool remember = true);
  // Builds the project into a temporary folder (not remembered as
  // "OutFolder") and, once built, opens the preview of that disc.
  void TryMenu();
  BuildDialog* CurrentBuild() const { return build_; }

  // Adds stream files to the clip `clipPath`; false when one is refused.
  bool AddSources(const QString& clipPath, const QStringList& files);
  bool RunTrackEncodes(const zvedit::Target& t);
  // Writes a button-sound file from WAV files, asking before replacing one.
  bool BuildSound(const QString& out, const QStringList& wavs);
  bool ImportMenu(const QString& menuPath, const QString& file);
  bool Undo();
  bool Redo();
  // The page editor of the menu shown last.
  PageEditor* PageView() const;

 protected:
  void closeEvent(QCloseEvent* e) override;

 private:
  void BuildMenus();
  void RefreshTree();
  void RefreshGrid();
  void AddBgColorRow();
  void RefreshViews();
  void RefreshTitle();
  void ApplyEdit(const std::string& key, const std::string& value);
  void Changed();
  bool ConfirmDiscard();
  zv::CNamedObject* SelectedObject() const;
  QString PathOf(QTreeWidgetItem* item) const;
  void OnNew();
  void OnOpen();
  void OnSave();
  void OnSaveAs();
  void OnBuild();
  void OnAdd(int what);
  void OnDelete();
  void OnAddSources();
  void OnImport(bool psd);
  void OnImportChapters();
  void OnAddChapter();
  void OnRemoveChapter();
  // The play item the title view works on: the selected one, or the one
  // picked in the view of the selected title.
  zv::CPiObject* TitleViewItem() const;
  void OnSoundFile();
  void OnBuildSound();
  void OnAbout();
  void Fail(const QString& what, const std::string& why);
  // The page editor's edits, each one undoable step.
  bool EditPage(const std::function<bool(std::string&)>& change, const std::string& select);

  std::unique_ptr<BoxPrompt> boxes_;
  zv::IPrompt* prompt_;
  zv::CZvObject project_;
  zvedit::CHistory history_;
  zv::Settings settings_;
  QString path_;
  QString selectedPath_;
  QTreeWidget* tree_;
  QTableWidget* grid_;
  QTabWidget* tabs_;
  QTableWidget* clipView_;
  QTreeWidget* titleView_;
  MenuTabs* menuTabs_ = nullptr;
  BuildDialog* build_ = nullptr;
  std::thread worker_;
  bool refreshing_ = false;
};

}  // namespace zvstudio
