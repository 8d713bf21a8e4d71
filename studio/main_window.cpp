#include "studio/main_window.h"

#include <algorithm>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QColorDialog>
#include <QDirIterator>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPixmap>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QSpinBox>
#include <QSplitter>
#include <QTemporaryDir>
#include <QThread>
#include <QTableWidget>
#include <QTabWidget>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "bdnav/sound_bdmv.h"
#include "chapters/chapters.h"
#include "edit/chapter_import.h"
#include "edit/commands.h"
#include "edit/rows.h"
#include "edit/sound_build.h"
#include "edit/sources.h"
#include "edit/track_encode.h"
#include "model/menu_import.h"
#include "model/object_path.h"
#include "graphics/menu_model.h"
#include "model/playlist.h"
#include "model/story.h"
#include "platform/paths.h"
#include "streams/coding_type.h"
#include "studio/menu_preview.h"
#include "studio/menu_tabs.h"

namespace zvstudio {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }

// Adding or encoding sources from the window: a progress dialog with Cancel
// while the work runs (events are handled at each report from the interface
// thread), and what the work says gathered for one message box at the end.
class SourceWork : public zvedit::ISourceDisplay {
 public:
  SourceWork(QWidget* parent, const QString& title) : parent_(parent), title_(title) {}
  zv::Progress Callback() override {
    zv::Progress p;
    p.context = this;
    p.fn = [](void* ctx, const zv::SProgressInfo* info) { return static_cast<SourceWork*>(ctx)->Report(*info); };
    return p;
  }
  void SetFrames(int64_t) override {}
  void Finish() override {
    if (dialog_) dialog_->reset();
  }
  void Message(const std::string& text) override { lines += (lines.empty() ? "" : "\n") + text; }
  void Listing(const std::string&) override {}
  std::string lines;

 private:
  int Report(const zv::SProgressInfo& info) {
    // Reports from the work's own threads only read the answer.
    if (QThread::currentThread() != QCoreApplication::instance()->thread()) return cancelled_ ? 0 : 1;
    if (!dialog_) {
      dialog_ = std::make_unique<QProgressDialog>(title_, "Cancel", 0, 100, parent_);
      dialog_->setWindowModality(Qt::WindowModal);
      dialog_->setMinimumDuration(500);
      dialog_->setAutoReset(false);
      dialog_->setAutoClose(false);
    }
    if (info.kind == zv::kProgressValue) dialog_->setValue(std::clamp(info.value, 0, 100));
    if (info.kind == zv::kProgressAction && !info.action.empty()) dialog_->setLabelText(Q(info.action));
    QCoreApplication::processEvents();
    if (dialog_->wasCanceled()) cancelled_ = true;
    return cancelled_ ? 0 : 1;
  }

  QWidget* parent_;
  QString title_;
  std::unique_ptr<QProgressDialog> dialog_;
  std::atomic<bool> cancelled_{false};
};

constexpr int kPathRole = Qt::UserRole + 1;
constexpr int kFactRole = Qt::UserRole + 2;  // a read-only row of the grid

const char* KindName(zv::StreamKind k) {
  switch (k) {
    case zv::StreamKind::kVideo: return "video";
    case zv::StreamKind::kAudio: return "audio";
    case zv::StreamKind::kPg: return "subtitle";
    case zv::StreamKind::kIg: return "menu";
    case zv::StreamKind::kTextSt: return "text subtitle";
    default: return "other";
  }
}

// The tree accepts stream files dropped onto a clip.
class ProjectTree : public QTreeWidget {
 public:
  explicit ProjectTree(MainWindow* w) : window_(w) { setAcceptDrops(true); }

 protected:
  void dragEnterEvent(QDragEnterEvent* e) override {
    if (e->mimeData()->hasUrls()) e->acceptProposedAction();
  }
  void dragMoveEvent(QDragMoveEvent* e) override {
    if (e->mimeData()->hasUrls()) e->acceptProposedAction();
  }
  void dropEvent(QDropEvent* e) override {
    QTreeWidgetItem* item = itemAt(e->position().toPoint());
    if (!item) return;
    QStringList files;
    for (const QUrl& u : e->mimeData()->urls())
      if (u.isLocalFile()) files << u.toLocalFile();
    window_->AddSources(item->data(0, kPathRole).toString(), files);
    e->acceptProposedAction();
  }

 private:
  MainWindow* window_;
};

}  // namespace

// --- prompt ------------------------------------------------------------------

void BoxPrompt::Message(const std::string& text) { QMessageBox::information(parent_, "Zelvane Studio", Q(text)); }

zv::Answer BoxPrompt::Ask(const std::string& text) {
  const auto b = QMessageBox::question(parent_, "Zelvane Studio", Q(text),
                                       QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::No);
  return b == QMessageBox::Yes ? zv::Answer::Yes : b == QMessageBox::No ? zv::Answer::No : zv::Answer::Cancel;
}

// --- build dialog --------------------------------------------------------------

BuildDialog::BuildDialog(QWidget* parent, zv::IPrompt& prompt) : QDialog(parent), prompt_(prompt) {
  setWindowTitle("Build");
  setModal(false);
  auto* v = new QVBoxLayout(this);
  log_ = new QListWidget(this);
  action_ = new QLabel(this);
  bar_ = new QProgressBar(this);
  bar_->setRange(0, 100);
  cancel_ = new QPushButton("Cancel", this);
  v->addWidget(log_);
  v->addWidget(action_);
  v->addWidget(bar_);
  v->addWidget(cancel_, 0, Qt::AlignRight);
  connect(cancel_, &QPushButton::clicked, this, &BuildDialog::OnCancel);
  resize(560, 360);
}

zv::Progress BuildDialog::Open() {
  zv::Progress p;
  p.context = this;
  p.fn = [](void* ctx, const zv::SProgressInfo* info) { return static_cast<BuildDialog*>(ctx)->Report(*info); };
  return p;
}

int BuildDialog::Report(const zv::SProgressInfo& info) {
  const zv::SProgressInfo copy = info;
  QMetaObject::invokeMethod(this, [this, copy] {
    switch (copy.kind) {
      case zv::kProgressValue: bar_->show(), bar_->setValue(copy.value); break;
      case zv::kProgressItem: log_->addItem(Q(zv::LogLine(copy.item))), log_->scrollToBottom(); break;
      case zv::kProgressAction: action_->setText(Q(copy.action)); break;
      default: bar_->hide(); break;
    }
  });
  return cancelled_ ? 0 : 1;
}

QStringList BuildDialog::LogLines() const {
  QStringList out;
  for (int i = 0; i < log_->count(); ++i) out << log_->item(i)->text();
  return out;
}

void BuildDialog::OnCancel() {
  if (cancelled_) return;
  if (prompt_.Ask("Really want to stop current build? ") == zv::Answer::Yes) cancelled_ = true;
}

void BuildDialog::closeEvent(QCloseEvent* e) {
  // The dialog goes away when the build ends; closing it asks to cancel.
  OnCancel();
  e->ignore();
}

// --- main window -----------------------------------------------------------------

MainWindow::MainWindow(zv::IPrompt* prompt) : boxes_(std::make_unique<BoxPrompt>(this)), prompt_(prompt ? prompt : boxes_.get()) {
  settings_.Load();
  tree_ = new ProjectTree(this);
  tree_->setHeaderHidden(true);
  grid_ = new QTableWidget(0, 2, this);
  grid_->setHorizontalHeaderLabels({"Setting", "Value"});
  grid_->horizontalHeader()->setStretchLastSection(true);
  grid_->verticalHeader()->hide();
  grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  clipView_ = new QTableWidget(0, 5, this);
  clipView_->setHorizontalHeaderLabels({"Track", "Kind", "Coding", "Language", "Stream file"});
  clipView_->horizontalHeader()->setStretchLastSection(true);
  clipView_->verticalHeader()->hide();
  clipView_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  titleView_ = new QTreeWidget(this);
  titleView_->setHeaderLabels({"Play item / chapter", "Clip / time", "Name"});
  // The grid above, the clip and title views below it.
  tabs_ = new QTabWidget(this);
  tabs_->addTab(clipView_, "Clip");
  // The title view: play items with their chapters; chapter names are
  // edited in place.
  auto* titlePane = new QWidget(this);
  auto* tv = new QVBoxLayout(titlePane);
  tv->setContentsMargins(0, 0, 0, 0);
  tv->addWidget(titleView_);
  auto* buttons = new QHBoxLayout;
  auto* addChapter = new QPushButton("Add Chapter...", titlePane);
  auto* removeChapter = new QPushButton("Remove Chapter", titlePane);
  auto* importChapters = new QPushButton("Import Chapters...", titlePane);
  buttons->addWidget(addChapter);
  buttons->addWidget(removeChapter);
  buttons->addWidget(importChapters);
  buttons->addStretch();
  tv->addLayout(buttons);
  connect(addChapter, &QPushButton::clicked, this, &MainWindow::OnAddChapter);
  connect(removeChapter, &QPushButton::clicked, this, &MainWindow::OnRemoveChapter);
  connect(importChapters, &QPushButton::clicked, this, &MainWindow::OnImportChapters);
  connect(titleView_, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int column) {
    if (refreshing_ || column != 2 || !item->parent()) return;
    zv::CPiObject* pi = TitleViewItem();
    const size_t n = static_cast<size_t>(item->data(0, kPathRole).toInt());
    if (!pi || n < 1 || n > pi->m_chapters.m_points.size()) return;
    pi->m_chapters.m_points[n - 1].name = S(item->text(2));
    Changed();
  });
  tabs_->addTab(titlePane, "Title");
  menuTabs_ = new MenuTabs(
      *tabs_, project_,
      [this](const ChangeFn& change, const std::string& select) { return EditPage(change, select); },
      [this](const QString& page) { Select(page); });
  menuTabs_->SetBackground(settings_.BgColor());
  auto* right = new QSplitter(Qt::Vertical, this);
  right->addWidget(grid_);
  right->addWidget(tabs_);
  right->setStretchFactor(0, 3);
  right->setStretchFactor(1, 2);
  auto* split = new QSplitter(this);
  split->addWidget(tree_);
  split->addWidget(right);
  split->setStretchFactor(1, 2);
  setCentralWidget(split);
  connect(tree_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
    if (refreshing_) return;
    selectedPath_ = item ? PathOf(item) : QString();
    RefreshGrid();
    RefreshViews();
  });
  BuildMenus();
  resize(1000, 640);
  NewProject();
}

MainWindow::~MainWindow() {
  if (build_) build_->RequestCancel();
  if (worker_.joinable()) worker_.join();
}

void MainWindow::BuildMenus() {
  auto act = [this](QMenu* m, const QString& text, QKeySequence key, auto fn) {
    QAction* a = m->addAction(text);
    if (!key.isEmpty()) a->setShortcut(key);
    connect(a, &QAction::triggered, this, fn);
    return a;
  };
  QMenu* file = menuBar()->addMenu("&File");
  QToolBar* bar = addToolBar("Main");
  bar->setObjectName("toolbar");
  bar->addAction(act(file, "&New", QKeySequence::New, &MainWindow::OnNew));
  bar->addAction(act(file, "&Open...", QKeySequence::Open, &MainWindow::OnOpen));
  bar->addAction(act(file, "&Save", QKeySequence::Save, &MainWindow::OnSave));
  act(file, "Save &As...", QKeySequence::SaveAs, &MainWindow::OnSaveAs);
  file->addSeparator();
  bar->addAction(act(file, "&Build...", QKeySequence(Qt::Key_F7), &MainWindow::OnBuild));
  file->addSeparator();
  act(file, "E&xit", QKeySequence::Quit, [this] { close(); });

  QMenu* edit = menuBar()->addMenu("&Edit");
  bar->addSeparator();
  bar->addAction(act(edit, "&Undo", QKeySequence::Undo, [this] { Undo(); }));
  bar->addAction(act(edit, "&Redo", QKeySequence::Redo, [this] { Redo(); }));
  edit->addSeparator();
  act(edit, "&Delete", QKeySequence::Delete, &MainWindow::OnDelete);

  QMenu* project = menuBar()->addMenu("&Project");
  act(project, "New &Movie", QKeySequence(), [this] { OnAdd(0); });
  act(project, "New &Title", QKeySequence(), [this] { OnAdd(1); });
  act(project, "New &Clip", QKeySequence(), [this] { OnAdd(2); });
  act(project, "New &IG", QKeySequence(), [this] { OnAdd(3); });
  act(project, "New Play Item", QKeySequence(), [this] { OnAdd(4); });
  act(project, "New Page", QKeySequence(), [this] { OnAdd(5); });
  act(project, "New BOG", QKeySequence(), [this] { OnAdd(6); });
  act(project, "New &Empty Button", QKeySequence(), [this] { OnAdd(7); });
  act(project, "New Graphic...", QKeySequence(), [this] { OnAdd(8); });
  project->addSeparator();
  act(project, "Add &Source Files...", QKeySequence("Ctrl+I"), &MainWindow::OnAddSources);
  act(project, "Import &PSD file...", QKeySequence(), [this] { OnImport(true); });
  act(project, "Import I&ES file...", QKeySequence(), [this] { OnImport(false); });
  act(project, "Import C&hapters...", QKeySequence(), &MainWindow::OnImportChapters);
  act(project, "Build Button &Sound...", QKeySequence(), &MainWindow::OnBuildSound);
  act(project, "Button Sound &File...", QKeySequence(), &MainWindow::OnSoundFile);
  project->addSeparator();
  act(project, "&Try Menu", QKeySequence(Qt::Key_F5), [this] { TryMenu(); });

  QMenu* help = menuBar()->addMenu("&Help");
  act(help, "&About", QKeySequence(), &MainWindow::OnAbout);
}

void MainWindow::Fail(const QString& what, const std::string& why) {
  prompt_->Message(S(what.isEmpty() ? QString() : what + ": ") + why);
}

void MainWindow::RefreshTitle() {
  const QString name = path_.isEmpty() ? QString("Untitled") : QFileInfo(path_).fileName();
  setWindowTitle(name + "[*] - Zelvane Studio");
  setWindowModified(history_.IsModified());
}

QString MainWindow::PathOf(QTreeWidgetItem* item) const { return item->data(0, kPathRole).toString(); }

void MainWindow::RefreshTree() {
  refreshing_ = true;
  tree_->clear();
  QTreeWidgetItem* current = nullptr;
  auto node = [&](QTreeWidgetItem* parent, const std::string& name, const std::string& path) {
    auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tree_);
    item->setText(0, Q(name));
    item->setData(0, kPathRole, Q(path));
    if (Q(path) == selectedPath_) current = item;
    return item;
  };
  // Films with their clips (and tracks), menus (down to the buttons) and
  // titles (with their play items), by the paths `set` takes.
  for (zv::CFilmObject* film : project_.Films()) {
    const std::string fp = film->m_strName;
    QTreeWidgetItem* f = node(nullptr, fp, fp);
    for (size_t i = 0; i < film->m_stories.GetCount(); ++i) {
      zv::CStoryObject* story = film->m_stories.GetAt(i);
      const std::string sp = fp + "/" + story->m_strName;
      QTreeWidgetItem* s = node(f, story->m_strName, sp);
      for (size_t k = 0; k < story->m_vecTracks.size(); ++k)
        node(s, "Track#" + std::to_string(k + 1), sp + "/Track#" + std::to_string(k + 1));
    }
    for (size_t i = 0; i < film->m_menus.GetCount(); ++i) {
      zv::CZvIgObject* menu = film->m_menus.GetAt(i);
      const std::string mp = fp + "/" + menu->m_strName;
      QTreeWidgetItem* m = node(f, menu->m_strName, mp);
      for (size_t e = 0; e < menu->GetCount(); ++e) {
        zv::CEpoch* epoch = menu->GetAt(e);
        const std::string ep = mp + "/" + epoch->m_strName;
        QTreeWidgetItem* ei = node(m, epoch->m_strName, ep);
        for (size_t d = 0; d < epoch->GetCount(); ++d) {
          zv::CDisplaySet* ds = epoch->GetAt(d);
          const std::string dp = ep + "/" + ds->m_strName;
          QTreeWidgetItem* di = node(ei, ds->m_strName, dp);
          for (size_t p = 0; p < ds->GetCount(); ++p) {
            zv::CPage* page = ds->GetAt(p);
            const std::string pp = dp + "/" + page->m_strName;
            QTreeWidgetItem* pi = node(di, page->m_strName, pp);
            for (size_t g = 0; g < page->GetCount(); ++g) {
              zv::CBog* bog = page->GetAt(g);
              const std::string bp = pp + "/" + bog->m_strName;
              QTreeWidgetItem* bi = node(pi, bog->m_strName, bp);
              for (size_t b = 0; b < bog->GetCount(); ++b)
                node(bi, bog->GetAt(b)->m_strName, bp + "/" + bog->GetAt(b)->m_strName);
            }
          }
        }
      }
    }
    for (size_t i = 0; i < film->m_playlists.GetCount(); ++i) {
      zv::CPlObject* pl = film->m_playlists.GetAt(i);
      const std::string tp = fp + "/" + pl->m_strName;
      QTreeWidgetItem* t = node(f, pl->m_strName, tp);
      for (size_t k = 0; k < pl->GetCount(); ++k) node(t, "PI#" + std::to_string(k + 1), tp + "/PI#" + std::to_string(k + 1));
    }
  }
  tree_->expandToDepth(0);
  if (current)
    for (QTreeWidgetItem* up = current->parent(); up; up = up->parent()) up->setExpanded(true);
  if (current) tree_->setCurrentItem(current);
  else selectedPath_.clear();
  refreshing_ = false;
  RefreshGrid();
  RefreshViews();
}

void MainWindow::RefreshGrid() {
  grid_->setRowCount(0);
  zvedit::Target t;
  std::string error;
  if (selectedPath_.isEmpty() || !zvedit::FindTarget(project_, S(selectedPath_), t, error)) return;
  const auto rows = zvedit::HasSettings(t) ? zvedit::Describe(project_, t) : std::vector<zvedit::PropertyInfo>();
  grid_->setRowCount(static_cast<int>(rows.size()));
  for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
    const zvedit::PropertyInfo& p = rows[static_cast<size_t>(r)];
    grid_->setItem(r, 0, new QTableWidgetItem(Q(p.key)));
    const std::string key = p.key;
    QWidget* editor = nullptr;
    switch (p.kind) {
      case zvedit::ValueKind::kBool: {
        auto* box = new QCheckBox(grid_);
        const bool digits = p.value == "1" || p.value == "0";
        box->setChecked(p.value == "yes" || p.value == "1");
        connect(box, &QCheckBox::toggled, this, [this, key, digits](bool on) {
          ApplyEdit(key, digits ? (on ? "1" : "0") : (on ? "yes" : "no"));
        });
        editor = box;
        break;
      }
      case zvedit::ValueKind::kInt: {
        auto* spin = new QSpinBox(grid_);
        spin->setRange(static_cast<int>(p.lo), static_cast<int>(p.hi));
        spin->setValue(std::stoi(p.value));
        spin->setKeyboardTracking(false);
        connect(spin, &QSpinBox::valueChanged, this, [this, key](int v) { ApplyEdit(key, std::to_string(v)); });
        editor = spin;
        break;
      }
      case zvedit::ValueKind::kChoice: {
        auto* combo = new QComboBox(grid_);
        for (const std::string& c : p.choices) combo->addItem(Q(c));
        combo->setCurrentText(Q(p.value));
        connect(combo, &QComboBox::textActivated, this, [this, key, old = p.value](const QString& v) {
          if (S(v) != old && !v.isEmpty()) ApplyEdit(key, S(v));
        });
        editor = combo;
        break;
      }
      default: {
        auto* line = new QLineEdit(Q(p.value), grid_);
        if (p.kind == zvedit::ValueKind::kLanguage) line->setMaxLength(3);
        connect(line, &QLineEdit::editingFinished, this, [this, key, line, old = p.value] {
          if (S(line->text()) != old) ApplyEdit(key, S(line->text()));
        });
        editor = line;
        break;
      }
    }
    editor->setObjectName(Q(key));
    grid_->setCellWidget(r, 1, editor);
  }
  if (dynamic_cast<zv::CPage*>(t.object)) AddBgColorRow();
  // What `show` prints but `set` does not change, greyed under the settings.
  if (t.object) {
    // Button sizes come from their pictures.
    for (zv::CNamedObject* up = t.object; up; up = up->m_pParent)
      if (auto* menu = dynamic_cast<zv::CIgObject*>(up)) zvedit::LoadGraphicSizes(*menu);
    const auto facts = t.isTrack ? zvedit::TrackFacts(*t.story, t.trackIndex) : zvedit::Facts(*t.object);
    for (const zvedit::PropertyInfo& p : facts) {
      const int r = grid_->rowCount();
      grid_->setRowCount(r + 1);
      for (int c = 0; c < 2; ++c) {
        auto* item = new QTableWidgetItem(Q(c == 0 ? p.key : p.value));
        item->setFlags(Qt::NoItemFlags);
        item->setData(kFactRole, true);
        grid_->setItem(r, c, item);
      }
    }
  }
  grid_->resizeColumnToContents(0);
}

QStringList MainWindow::Facts(const QString& key) const {
  QStringList out;
  for (int r = 0; r < grid_->rowCount(); ++r)
    if (grid_->item(r, 0)->data(kFactRole).toBool() && grid_->item(r, 0)->text() == key) out << grid_->item(r, 1)->text();
  return out;
}

QWidget* MainWindow::Editor(const QString& key) const {
  for (int r = 0; r < grid_->rowCount(); ++r)
    if (grid_->item(r, 0)->text() == key) return grid_->cellWidget(r, 1);
  return nullptr;
}

void MainWindow::RefreshViews() {
  clipView_->setRowCount(0);
  const bool was = refreshing_;
  refreshing_ = true;
  titleView_->clear();
  refreshing_ = was;
  zvedit::Target t;
  std::string error;
  if (selectedPath_.isEmpty() || !zvedit::FindTarget(project_, S(selectedPath_), t, error)) return;
  if (t.story) {
    const auto refs = t.story->TrackRefs();
    clipView_->setRowCount(static_cast<int>(refs.size()));
    for (int r = 0; r < static_cast<int>(refs.size()); ++r) {
      const size_t index = static_cast<size_t>(r);
      const auto facts = zvedit::TrackFacts(*t.story, index);
      const QStringList cells{
          QString::number(r + 1), KindName(refs[index].kind),
          QString("0x%1").arg(zvedit::RowNumber(facts, "coding-type"), 2, 16, QChar('0')).toUpper().replace("0X", "0x"),
          Q(zvedit::RowValue(zvedit::DescribeTrackOf(project_, *t.story, index), "language")),
          Q(zvedit::RowValue(facts, "path"))};
      for (int c = 0; c < cells.size(); ++c) clipView_->setItem(r, c, new QTableWidgetItem(cells[c]));
    }
    clipView_->resizeColumnsToContents();
    tabs_->setCurrentWidget(clipView_);
  }
  zv::CPlObject* pl = dynamic_cast<zv::CPlObject*>(t.object);
  if (auto* pi = dynamic_cast<zv::CPiObject*>(t.object)) pl = dynamic_cast<zv::CPlObject*>(pi->m_pParent);
  if (pl) {
    refreshing_ = true;
    for (size_t i = 0; i < pl->GetCount(); ++i) {
      zv::CPiObject* pi = pl->GetAt(i);
      auto* item = new QTreeWidgetItem(titleView_);
      item->setText(0, QString("PI#%1").arg(i + 1));
      item->setText(1, pi->m_pStory ? Q(pi->m_pStory->m_strName) : QString("(no clip)"));
      const zv::CChapters& ch = pi->m_chapters;
      item->setData(0, kPathRole, static_cast<int>(i + 1));
      for (size_t c = 0; c < ch.m_points.size(); ++c) {
        auto* row = new QTreeWidgetItem(item);
        row->setData(0, kPathRole, static_cast<int>(c + 1));
        row->setFlags(row->flags() | Qt::ItemIsEditable);
        row->setText(0, QString("Chapter %1").arg(c + 1));
        row->setText(1, Q(zvedit::ChapterTime(ch.m_points[c], ch.m_nFpsCode)));
        row->setText(2, Q(ch.m_points[c].name));
      }
    }
    titleView_->expandAll();
    titleView_->resizeColumnToContents(0);
    tabs_->setCurrentIndex(1);
    refreshing_ = was;
  }
  menuTabs_->ShowFor(selectedPath_);
}

bool MainWindow::EditPage(const std::function<bool(std::string&)>& change, const std::string& select) {
  std::string error;
  if (!change(error)) return Fail({}, error), false;
  Changed();
  selectedPath_ = Q(select);
  RefreshTree();
  RefreshGrid();
  return true;
}

void MainWindow::ApplyEdit(const std::string& key, const std::string& value) {
  zvedit::Target t;
  std::string error;
  if (!zvedit::FindTarget(project_, S(selectedPath_), t, error)) return Fail({}, error);
  if (!zvedit::ApplyProperty(project_, t, key, value, error)) {
    // The project is unchanged; the grid goes back to its values.
    QMetaObject::invokeMethod(this, [this] { RefreshGrid(); }, Qt::QueuedConnection);
    return Fail({}, "\"" + S(selectedPath_) + "\": " + error);
  }
  zvedit::FinishChange(t);
  if (t.story && !t.story->m_encodeAsks.empty() && !RunTrackEncodes(t)) return;
  // A new name moves the object's path.
  if (key == "name") {
    const int slash = selectedPath_.lastIndexOf('/');
    selectedPath_ = (slash < 0 ? QString() : selectedPath_.left(slash + 1)) + Q(value);
  }
  Changed();
  QMetaObject::invokeMethod(this, [this] { RefreshTree(); }, Qt::QueuedConnection);
}

// An encode asked in the grid is done at once; its notes go to one message
// box, and a refused or failed one leaves the project as it was.
bool MainWindow::RunTrackEncodes(const zvedit::Target& t) {
  SourceWork shown(this, "Encoding...");
  const QString clip = selectedPath_.left(std::max<int>(0, selectedPath_.lastIndexOf('/')));
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const int rc = zvedit::RunTrackEncodes(*t.story, S(clip), shown);
  QApplication::restoreOverrideCursor();
  if (!shown.lines.empty()) prompt_->Message(shown.lines);
  if (rc == zv::kOk) return true;
  std::string message;
  if (history_.Revert(project_, *prompt_, message) != zv::kOk) Fail("Encode", message);
  QMetaObject::invokeMethod(this, [this] { RefreshTree(); RefreshGrid(); }, Qt::QueuedConnection);
  return false;
}

void MainWindow::Changed() {
  history_.Commit(project_);
  RefreshTitle();
  menuTabs_->Refresh();
}

PageEditor* MainWindow::PageView() const { return menuTabs_->Current(); }

bool MainWindow::Undo() {
  std::string message;
  if (!history_.CanUndo()) return false;
  if (history_.Undo(project_, *prompt_, message) != zv::kOk) return Fail("Undo", message), false;
  RefreshTree();
  menuTabs_->Refresh();
  RefreshTitle();
  return true;
}

bool MainWindow::Redo() {
  std::string message;
  if (!history_.CanRedo()) return false;
  if (history_.Redo(project_, *prompt_, message) != zv::kOk) return Fail("Redo", message), false;
  RefreshTree();
  menuTabs_->Refresh();
  RefreshTitle();
  return true;
}

zv::CNamedObject* MainWindow::SelectedObject() const {
  zvedit::Target t;
  std::string error;
  if (selectedPath_.isEmpty() || !zvedit::FindTarget(const_cast<zv::CZvObject&>(project_), S(selectedPath_), t, error))
    return nullptr;
  return t.isTrack ? nullptr : t.object;
}

bool MainWindow::Select(const QString& path) {
  selectedPath_ = path;
  RefreshTree();
  return selectedPath_ == path && !path.isEmpty();
}

void MainWindow::NewProject() {
  project_.Reset();
  project_.InitNew();
  path_.clear();
  history_.Reset(project_);
  menuTabs_->CloseAll();
  selectedPath_.clear();
  RefreshTree();
  RefreshTitle();
}

bool MainWindow::OpenFile(const QString& file) {
  zv::CZvObject loaded;
  bool modified = false;
  std::string message;
  if (zv::OpenProjectFile(S(file), loaded, *prompt_, zv::Progress{}, modified, message) != zv::kOk)
    return Fail("Cannot open \"" + file + "\"", message), false;
  // Loading again into the window's own project keeps its address stable.
  project_.Reset();
  const std::vector<uint8_t> bytes = zv::StoreProject(loaded, std::string());
  if (zv::LoadProject(bytes, std::string(), project_, message) != zv::kOk) return Fail(file, message), false;
  project_.ReloadSources(zv::Progress{}, *prompt_);
  path_ = QFileInfo(file).absoluteFilePath();
  history_.Reset(project_);
  if (modified) history_.Commit(project_);  // what reopening changed is unsaved
  menuTabs_->CloseAll();
  selectedPath_.clear();
  RefreshTree();
  RefreshTitle();
  return true;
}

bool MainWindow::SaveTo(const QString& file) {
  std::string message;
  if (zv::SaveProjectFile(S(file), project_, message) != zv::kOk) return Fail("Cannot save \"" + file + "\"", message), false;
  path_ = QFileInfo(file).absoluteFilePath();
  history_.MarkSaved();
  RefreshTitle();
  return true;
}

bool MainWindow::ConfirmDiscard() {
  if (!history_.IsModified()) return true;
  const QString name = path_.isEmpty() ? QString("Untitled") : QFileInfo(path_).fileName();
  return prompt_->Ask(S("Discard the unsaved changes of " + name + "? ")) == zv::Answer::Yes;
}

void MainWindow::closeEvent(QCloseEvent* e) {
  if (build_ || !ConfirmDiscard()) e->ignore();
  else e->accept();
}

void MainWindow::OnNew() {
  if (ConfirmDiscard()) NewProject();
}

void MainWindow::OnOpen() {
  if (!ConfirmDiscard()) return;
  const QString f = QFileDialog::getOpenFileName(this, "Open project", QString(), "Zelvane projects (*.zvpj)");
  if (!f.isEmpty()) OpenFile(f);
}

void MainWindow::OnSave() {
  if (path_.isEmpty()) OnSaveAs();
  else SaveTo(path_);
}

void MainWindow::OnSaveAs() {
  QString f = QFileDialog::getSaveFileName(this, "Save project", path_, "Zelvane projects (*.zvpj)");
  if (f.isEmpty()) return;
  if (!f.endsWith(".zvpj", Qt::CaseInsensitive)) f += ".zvpj";
  SaveTo(f);
}

void MainWindow::OnBuild() {
  const QString folder =
      QFileDialog::getExistingDirectory(this, "Output folder", Q(settings_.OutFolder()), QFileDialog::ShowDirsOnly);
  if (!folder.isEmpty()) StartBuild(folder);
}

BuildDialog* MainWindow::StartBuild(const QString& folder, bool remember) {
  if (build_) return nullptr;
  build_ = new BuildDialog(this, *prompt_);
  build_->setAttribute(Qt::WA_DeleteOnClose, false);
  centralWidget()->setEnabled(false);
  menuBar()->setEnabled(false);
  for (QToolBar* bar : findChildren<QToolBar*>()) bar->setEnabled(false);
  build_->show();
  settings_.Load();  // the command line may have changed it meanwhile
  const std::string out = zv::AbsolutePath(S(folder));
  // Questions the build asks reach the window through a blocking call.
  struct WorkerPrompt : zv::IPrompt {
    QObject* ui;
    zv::IPrompt* inner;
    void Message(const std::string& text) override {
      QMetaObject::invokeMethod(ui, [&] { inner->Message(text); }, Qt::BlockingQueuedConnection);
    }
    zv::Answer Ask(const std::string& text) override {
      zv::Answer a = zv::Answer::Cancel;
      QMetaObject::invokeMethod(ui, [&] { a = inner->Ask(text); }, Qt::BlockingQueuedConnection);
      return a;
    }
  };
  // The build works on its own copy, read back from the archive form as the
  // command line reads the saved file: what the model keeps only in memory
  // (decoded pictures of a fresh import) must not make another disc, and the
  // window's project stays the interface thread's alone.
  auto copy = std::make_shared<zv::CZvObject>();
  std::string message;
  if (zv::LoadProject(zv::StoreProject(project_, std::string()), std::string(), *copy, message) != zv::kOk) {
    Fail("Build", message);
    copy.reset();
  } else {
    copy->ReloadSources(zv::Progress{}, *prompt_);
  }
  BuildDialog* dialog = build_;
  worker_ = std::thread([this, dialog, out, copy, remember] {
    WorkerPrompt prompt;
    prompt.ui = this;
    prompt.inner = prompt_;
    const int rc = copy ? zv::BuildProject(*copy, out, prompt, *dialog, remember ? &settings_ : nullptr) : int(zv::kFailed);
    QMetaObject::invokeMethod(this, [this, dialog, rc] {
      worker_.join();
      centralWidget()->setEnabled(true);
      menuBar()->setEnabled(true);
      for (QToolBar* bar : findChildren<QToolBar*>()) bar->setEnabled(true);
      build_ = nullptr;
      dialog->hide();
      emit dialog->Finished(rc);
      dialog->deleteLater();
    });
  });
  return dialog;
}

void MainWindow::TryMenu() {
  // The disc lives as long as its preview window.
  auto dir = std::make_shared<QTemporaryDir>();
  if (!dir->isValid()) return Fail("Try Menu", "Cannot create a temporary folder");
  BuildDialog* dialog = StartBuild(dir->path(), false);
  if (!dialog) return;
  connect(dialog, &BuildDialog::Finished, this, [this, dir](int rc) {
    if (rc != zv::kOk) return;
    QString disc;
    for (QDirIterator it(dir->path(), {"index.bdmv"}, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
      disc = QFileInfo(it.next()).dir().absolutePath() + "/..";
    QString error;
    QWidget* window = disc.isEmpty() ? nullptr : OpenPreviewWindow(this, disc, error, TitleNames(project_), PreviewMenus(project_));
    if (!window) return Fail("Try Menu", S(error.isEmpty() ? "the build made no disc" : error));
    connect(window, &QObject::destroyed, this, [dir] {});
  });
}

void MainWindow::OnAdd(int what) {
  zv::CNamedObject* obj = SelectedObject();
  zv::CFilmObject* film = obj ? zv::FilmOf(obj) : nullptr;
  if (auto* f = dynamic_cast<zv::CFilmObject*>(obj)) film = f;
  std::string error;
  std::string made;
  const std::string path = S(selectedPath_);
  switch (what) {
    case 0: made = "Movies/" + zvedit::AddMovie(project_)->m_strName; break;
    case 1:
    case 2:
    case 3: {
      if (!film) return Fail({}, "Select a film first");
      zv::CNamedObject* o = what == 1 ? static_cast<zv::CNamedObject*>(zvedit::AddTitle(*film))
                            : what == 2 ? static_cast<zv::CNamedObject*>(zvedit::AddClip(*film))
                                        : zvedit::AddMenu(*film);
      made = o->m_strName;
      break;
    }
    case 4: {
      auto* pl = dynamic_cast<zv::CPlObject*>(obj);
      if (!pl || !film || film->m_stories.GetCount() == 0) return Fail({}, "Select a title of a film with a clip first");
      if (!zvedit::AddPlayItem(project_, *pl, film->m_stories.GetAt(0)->m_strName, error)) return Fail({}, error);
      break;
    }
    case 5: {
      std::string where;
      if (!obj || !zvedit::AddPage(*obj, path, where, error)) return Fail({}, obj ? error : "Select a menu first");
      break;
    }
    case 6:
      if (!obj || !zvedit::AddBog(*obj, path, error)) return Fail({}, obj ? error : "Select a page first");
      break;
    case 7:
      if (!obj || !zvedit::AddButton(*obj, path, error)) return Fail({}, obj ? error : "Select a BOG first");
      break;
    case 8: {
      if (!obj) return Fail({}, "Select a menu first");
      const QString f = QFileDialog::getOpenFileName(this, "Picture", QString(), "Pictures (*.png *.jpg *.jpeg *.gif *.bmp)");
      if (f.isEmpty()) return;
      if (!zvedit::AddGraphic(*obj, path, S(f), error)) return Fail({}, error);
      break;
    }
  }
  Changed();
  RefreshTree();
}

void MainWindow::OnDelete() {
  zv::CNamedObject* obj = SelectedObject();
  std::string error;
  if (!obj) return;
  if (prompt_->Ask(S("Delete \"" + selectedPath_ + "\"? ")) != zv::Answer::Yes) return;
  if (!zvedit::Delete(project_, obj, S(selectedPath_), error)) return Fail({}, error);
  selectedPath_.clear();
  Changed();
  RefreshTree();
}

bool MainWindow::AddSources(const QString& clipPath, const QStringList& files) {
  zvedit::Target t;
  std::string error;
  if (!zvedit::FindTarget(project_, S(clipPath), t, error) || !t.story || t.isTrack)
    return Fail({}, "Drop stream files onto a clip"), false;
  // What adding says goes to one message box at the end.
  SourceWork shown(this, "Adding sources...");
  zvedit::SAddSources request;
  request.clipName = S(clipPath);
  for (const QString& f : files) request.files.push_back(zv::AbsolutePath(S(f)));
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const int rc = zvedit::AddSources(*t.story, request, shown, *prompt_);
  QApplication::restoreOverrideCursor();
  if (!shown.lines.empty()) prompt_->Message(shown.lines);
  if (rc != zv::kOk) {
    // Nothing of a refused or cancelled drop stays, as with the command line.
    std::string message;
    if (history_.Revert(project_, *prompt_, message) != zv::kOk) Fail("Add sources", message);
    RefreshTree();
    return false;
  }
  Changed();
  selectedPath_ = clipPath;
  RefreshTree();
  return true;
}

void MainWindow::OnAddSources() {
  const QStringList files = QFileDialog::getOpenFileNames(this, "Stream files");
  if (!files.isEmpty()) AddSources(selectedPath_, files);
}

bool MainWindow::ImportMenu(const QString& menuPath, const QString& file) {
  std::string error;
  auto* menu = dynamic_cast<zv::CZvIgObject*>(zv::FindObject(project_, S(menuPath), error));
  if (!menu) return Fail({}, error.empty() ? "Select a menu first" : error), false;
  std::string message, warning;
  int rc;
  if (file.endsWith(".psd", Qt::CaseInsensitive))
    rc = zv::ImportPsdIntoMenu(*menu, zv::AbsolutePath(S(file)), false, zv::Progress{}, message, warning);
  else
    rc = zv::ImportIesIntoMenu(*menu, zv::AbsolutePath(S(file)), message) ? zv::kOk : zv::kFailed;
  if (rc != zv::kOk) return Fail(file, message), false;
  if (!warning.empty()) prompt_->Message(warning);
  Changed();
  RefreshTree();
  return true;
}

void MainWindow::OnImport(bool psd) {
  const QString f = QFileDialog::getOpenFileName(this, psd ? "Import PSD file" : "Import IES file", QString(),
                                                 psd ? "Layered designs (*.psd)" : "IES files (*.ies)");
  if (!f.isEmpty()) ImportMenu(selectedPath_, f);
}

zv::CPiObject* MainWindow::TitleViewItem() const {
  zv::CNamedObject* obj = SelectedObject();
  if (auto* pi = dynamic_cast<zv::CPiObject*>(obj)) return pi;
  auto* pl = dynamic_cast<zv::CPlObject*>(obj);
  if (!pl || pl->GetCount() == 0) return nullptr;
  QTreeWidgetItem* item = titleView_->currentItem();
  if (item && item->parent()) item = item->parent();
  const int n = item ? item->data(0, kPathRole).toInt() : 1;
  return n >= 1 && static_cast<size_t>(n) <= pl->GetCount() ? pl->GetAt(static_cast<size_t>(n - 1)) : pl->GetAt(0);
}

void MainWindow::OnAddChapter() {
  zv::CPiObject* pi = TitleViewItem();
  if (!pi) return Fail({}, "Select a title or a play item first");
  int code = 0;
  std::string error;
  if (!zvedit::ChapterRateFor(*pi, 0, S(selectedPath_), code, error)) return Fail({}, error);
  bool ok = false;
  const QString time = QInputDialog::getText(this, "Add Chapter", "Time (hh:mm:ss:ff, hh:mm:ss.mmm or end):",
                                             QLineEdit::Normal, "00:00:00:00", &ok);
  if (!ok) return;
  if (zvedit::AddChapter(*pi, code, S(time.trimmed()), std::string(), error) == 0) return Fail({}, error);
  Changed();
  RefreshViews();
}

void MainWindow::OnRemoveChapter() {
  zv::CPiObject* pi = TitleViewItem();
  QTreeWidgetItem* item = titleView_->currentItem();
  if (!pi || !item || !item->parent()) return Fail({}, "Select a chapter first");
  std::string error;
  if (!zvedit::RemoveChapter(*pi, static_cast<size_t>(item->data(0, kPathRole).toInt()), S(selectedPath_), error))
    return Fail({}, error);
  Changed();
  RefreshViews();
}

void MainWindow::OnImportChapters() {
  zv::CPiObject* pi = TitleViewItem();
  if (!pi) return Fail({}, "Select a title or a play item first");
  const QString f = QFileDialog::getOpenFileName(this, "Chapters", QString(), "Chapter lists (*.csv *.txt)");
  if (f.isEmpty()) return;
  std::string message;
  int code = 0;
  if (!zvedit::ChapterRateFor(*pi, 0, S(selectedPath_), code, message) || !zvedit::ImportChapters(*pi, code, S(f), message))
    return Fail({}, message);
  Changed();
  RefreshViews();
}

void MainWindow::OnSoundFile() {
  const QString f = QFileDialog::getOpenFileName(this, "Button sound file", QString(), "Sound files (*.bdmv)");
  if (f.isEmpty() || !project_.LoadSoundFile(zv::AbsolutePath(S(f)), *prompt_)) return;
  Changed();
}

void MainWindow::OnBuildSound() {
  const QStringList wavs = QFileDialog::getOpenFileNames(this, "Button sounds", QString(), "WAV files (*.wav)");
  if (wavs.isEmpty()) return;
  const QString out = QFileDialog::getSaveFileName(this, "Button sound file", "sound.bdmv", "Sound files (*.bdmv)",
                                                   nullptr, QFileDialog::DontConfirmOverwrite);
  if (!out.isEmpty()) BuildSound(out, wavs);
}

bool MainWindow::BuildSound(const QString& out, const QStringList& wavs) {
  std::vector<std::string> files;
  for (const QString& w : wavs) files.push_back(S(w));
  std::vector<zvedit::SBuiltSound> built;
  std::string error;
  const int rc = zvedit::BuildSoundFile(S(out), files, *prompt_, built, error);
  if (rc == zv::kCancelled) return false;
  if (rc != zv::kOk) return Fail({}, error), false;
  prompt_->Message(S(out) + ": " + zv::kMsgSoundBuildOk + "(" + std::to_string(built.size()) + " sounds)");
  return true;
}

// The background the page editor shows behind a page: a user setting, kept
// in the settings file the command line reads too, not in the project.
void MainWindow::AddBgColorRow() {
  const int r = grid_->rowCount();
  grid_->setRowCount(r + 1);
  grid_->setItem(r, 0, new QTableWidgetItem("BG Color"));
  settings_.Load();  // the command line may have changed it meanwhile
  auto* pick = new QPushButton(grid_);
  pick->setObjectName("BG Color");
  auto show = [pick](const QColor& c) {
    QPixmap swatch(16, 16);
    swatch.fill(c);
    pick->setIcon(QIcon(swatch));
    pick->setText(c.name());
  };
  show(QColor(QRgb(settings_.BgColor())));
  connect(pick, &QPushButton::clicked, this, [this, show] {
    settings_.Load();
    const QColor chosen = QColorDialog::getColor(QColor(QRgb(settings_.BgColor())), this, "BG Color",
                                                 QColorDialog::DontUseNativeDialog);
    if (!chosen.isValid()) return;  // cancelled
    settings_.SetBgColor(chosen.rgb() & 0xFFFFFFu);
    std::string error;
    if (!settings_.Save(error)) return Fail("BG Color", error);
    show(chosen);
    menuTabs_->SetBackground(chosen.rgb());
  });
  grid_->setCellWidget(r, 1, pick);
}

void MainWindow::OnAbout() {
  prompt_->Message("Zelvane Studio " ZV_VERSION "\nBlu-ray disc authoring");
}

}  // namespace zvstudio
