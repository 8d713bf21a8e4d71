// The desktop shell on the offscreen platform: the grid's editors make the
// same disc as the command line, refuse what `set` refuses, and the window
// asks before unsaved changes are lost.
#include <QAction>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QLineEdit>
#include <QSignalSpy>
#include <QImage>
#include <QSpinBox>
#include <QTableWidget>
#include <QtTest>
#include <QProgressDialog>
#include <filesystem>
#include <string>
#include <vector>

#include "model/object_path.h"
#include "model/project.h"
#include "platform/settings.h"
#include "platform/prompt.h"
#include "studio/main_window.h"
#include "support/test_support.h"

namespace {

zvtest::RunResult Zv(const std::vector<std::string>& args) {
  std::vector<std::string> argv{ZV_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  return zvtest::Run(argv);
}

// Every file below `root`, relative path to bytes.
std::map<std::string, std::vector<uint8_t>> Tree(const std::string& root) {
  std::map<std::string, std::vector<uint8_t>> out;
  for (const auto& e : std::filesystem::recursive_directory_iterator(root))
    if (e.is_regular_file()) out[std::filesystem::relative(e.path(), root).string()] = zvtest::ReadBytes(e.path().string());
  return out;
}

// The files that differ between two trees, for the failure message.
std::string Differences(const std::map<std::string, std::vector<uint8_t>>& a,
                        const std::map<std::string, std::vector<uint8_t>>& b) {
  std::string out;
  for (const auto& [name, bytes] : a)
    if (!b.count(name) || b.at(name) != bytes) out += name + " ";
  for (const auto& [name, bytes] : b)
    if (!a.count(name)) out += name + " ";
  return out;
}

void TypeInto(QWidget* editor, const QString& text) {
  auto* line = qobject_cast<QLineEdit*>(editor);
  QVERIFY(line);
  line->setText(text);
  emit line->editingFinished();
  QCoreApplication::processEvents();
}

QAction* Action(QWidget& w, const QString& text) {
  for (QAction* a : w.findChildren<QAction*>())
    if (a->text() == text) return a;
  return nullptr;
}

// The path of the first object below `level` (the project when null) of type T.
template <class T>
std::string FirstOf(zv::CZvObject& project, zv::CNamedObject* level = nullptr, const std::string& prefix = {}) {
  for (const auto& [name, obj] : zv::ChildrenOf(project, level)) {
    const std::string path = prefix.empty() ? name : prefix + "/" + name;
    if (dynamic_cast<T*>(obj)) return path;
    const std::string below = FirstOf<T>(project, obj, path);
    if (!below.empty()) return below;
  }
  return {};
}

// Drops `files` onto the tree row of `path`, as a file manager would.
bool DropOnto(zvstudio::MainWindow& w, const QString& path, const QStringList& files) {
  auto* tree = w.findChild<QTreeWidget*>();
  if (!tree || !w.Select(path)) return false;
  QTreeWidgetItem* item = tree->currentItem();
  if (!item) return false;
  tree->scrollToItem(item);
  QMimeData data;
  QList<QUrl> urls;
  for (const QString& f : files) urls << QUrl::fromLocalFile(f);
  data.setUrls(urls);
  const QPointF at = tree->visualItemRect(item).center();
  QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(tree->viewport(), &enter);
  if (!enter.isAccepted()) return false;
  QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(tree->viewport(), &drop);
  QCoreApplication::processEvents();
  return true;
}

}  // namespace

class StudioTest : public QObject {
  Q_OBJECT
 private slots:
  void init() { qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config_.Path())); }

  // A scripted session through the grid's editors builds the disc the same
  // steps make through the command line, byte for byte; a cancelled rebuild
  // leaves that disc as it was.
  void gridBuildsTheCommandLinesDisc() {
    zvtest::TempDir dir;
    const std::string video = zvtest::CopyFixture("h264_1080p2398.264", dir.Path());
    const std::string audio = zvtest::CopyFixture("ac3_stereo.ac3", dir.Path());
    // Each import converts its own copy of the design (a conversion is kept
    // beside the design and reused with a message).
    std::filesystem::create_directory(dir / "cli");
    std::filesystem::create_directory(dir / "gui");
    const std::string psd = zvtest::CopyFixture("psd/menu_disc.psd", dir / "cli");
    const std::string guiPsd = zvtest::CopyFixture("psd/menu_disc.psd", dir / "gui");
    const std::string cli = dir / "cli.zvpj";
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"new", cli},
             {"source", "add", cli, "Movie#1/Clip#1", video, audio},
             {"set", cli, "Movie#1/Clip#1/Track#2", "language=fra"},
             {"set", cli, "Movie#1/Title#1", "playback-count=2", "uo.ChapterSearch=1", "playback=Random"},
             {"menu", "import-psd", cli, "Movie#1/IG#1", psd},
             {"build", cli, dir / "out-cli", "--yes"}}) {
      const zvtest::RunResult r = Zv(args);
      QVERIFY2(r.status == 0, (args[0] + ": " + r.err).c_str());
    }

    zv::ScriptedPrompt prompt(zv::Answer::Yes);
    zvstudio::MainWindow w(&prompt);
    QVERIFY(w.AddSources("Movie#1/Clip#1", {QString::fromStdString(video), QString::fromStdString(audio)}));
    QVERIFY(w.Select("Movie#1/Clip#1/Track#2"));
    TypeInto(w.Editor("language"), "fra");
    QVERIFY(w.Select("Movie#1/Title#1"));
    auto* count = qobject_cast<QSpinBox*>(w.Editor("playback-count"));
    QVERIFY(count);
    QCOMPARE(count->maximum(), 65535);
    count->setValue(2);
    QCoreApplication::processEvents();
    auto* uo = qobject_cast<QCheckBox*>(w.Editor("uo.ChapterSearch"));
    QVERIFY(uo);
    uo->setChecked(true);
    QCoreApplication::processEvents();
    auto* playback = qobject_cast<QComboBox*>(w.Editor("playback"));
    QVERIFY(playback);
    QCOMPARE(playback->count(), 3);
    emit playback->textActivated("Random");
    QCoreApplication::processEvents();
    QVERIFY(w.ImportMenu("Movie#1/IG#1", QString::fromStdString(guiPsd)));
    QVERIFY(w.IsModified());
    QVERIFY(w.windowTitle().contains("[*]"));
    QVERIFY(w.SaveTo(QString::fromStdString(dir / "gui.zvpj")));
    QVERIFY(!w.IsModified());
    QVERIFY2(prompt.messages.empty(), prompt.messages.empty() ? "" : prompt.messages[0].c_str());

    zvstudio::BuildDialog* dialog = w.StartBuild(QString::fromStdString(dir / "out-gui/"));
    QVERIFY(dialog);
    QVERIFY(!w.centralWidget()->isEnabled());
    QSignalSpy done(dialog, &zvstudio::BuildDialog::Finished);
    QVERIFY(done.wait(120000));
    QCOMPARE(done.at(0).at(0).toInt(), int(zv::kOk));
    QVERIFY(w.centralWidget()->isEnabled());
    QVERIFY2(prompt.messages.empty(), prompt.messages.empty() ? "" : prompt.messages[0].c_str());
    const auto gui = Tree(dir / "out-gui/Zelvane/DISC");
    QVERIFY(gui.size() > 10);
    const auto cliDisc = Tree(dir / "out-cli/Zelvane/DISC");
    QVERIFY2(gui == cliDisc, Differences(gui, cliDisc).c_str());
    // The remembered folder is the command line's too.
    zv::Settings settings;
    settings.Load();
    QCOMPARE(QString::fromStdString(settings.OutFolder()), QString::fromStdString(dir / "out-gui/"));

    // Cancelled at its first report, a rebuild leaves the disc as it was.
    QVERIFY(w.Select("Movie#1/Title#1"));
    qobject_cast<QSpinBox*>(w.Editor("playback-count"))->setValue(3);
    QCoreApplication::processEvents();
    dialog = w.StartBuild(QString::fromStdString(dir / "out-gui/"));
    QVERIFY(dialog);
    const size_t asked = prompt.questions.size();
    dialog->OnCancel();
    QCOMPARE(prompt.questions.at(asked), std::string("Really want to stop current build? "));
    QSignalSpy stopped(dialog, &zvstudio::BuildDialog::Finished);
    QVERIFY(stopped.wait(120000));
    QCOMPARE(stopped.at(0).at(0).toInt(), int(zv::kCancelled));
    QVERIFY(gui == Tree(dir / "out-gui/Zelvane/DISC"));
  }

  // A refused value shows `set`'s own message and leaves the project as it
  // was; undo and redo then step through the accepted changes.
  // An encode asked in the grid shows its progress and stops at Cancel: the
  // project stays as it was and no encoded stream is left beside the source.
  void anEncodeInTheGridCanBeCancelled() {
    zvtest::TempDir dir;
    const std::string file = dir / "p.zvpj", camera = dir / "camera.264";
    const zvtest::RunResult made =
        zvtest::Run({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc2=size=1920x1080:rate=30000/1001", "-t", "2",
                     "-c:v", "libx264", "-preset", "veryfast", "-profile:v", "high", "-level", "4.1", "-x264opts",
                     "bluray-compat=1:keyint=15", camera});
    QVERIFY2(made.status == 0, made.err.c_str());
    QCOMPARE(Zv({"new", file}).status, 0);
    const zvtest::RunResult added = Zv({"source", "add", file, "Movie#1/Clip#1", camera});
    QVERIFY2(added.status == 0, added.err.c_str());
    const auto before = Tree(dir.Path());
    zv::ScriptedPrompt prompt(zv::Answer::Yes);
    zvstudio::MainWindow w(&prompt);
    QVERIFY(w.OpenFile(QString::fromStdString(file)));
    const std::vector<uint8_t> project = zv::StoreProject(w.Project(), file);
    QVERIFY(w.Select("Movie#1/Clip#1/Track#1"));
    auto* box = qobject_cast<QCheckBox*>(w.Editor("encode"));
    QVERIFY(box);
    bool sawProgress = false;
    QTimer cancel;
    QObject::connect(&cancel, &QTimer::timeout, [&] {
      if (auto* d = w.findChild<QProgressDialog*>()) {
        sawProgress = true;
        d->cancel();
      }
    });
    cancel.start(20);
    box->setChecked(true);
    QCoreApplication::processEvents();
    cancel.stop();
    QVERIFY(sawProgress);
    QVERIFY(zv::StoreProject(w.Project(), file) == project);
    QVERIFY(!w.IsModified());
    const auto after = Tree(dir.Path());
    QVERIFY2(after == before, qPrintable(QString::fromStdString(Differences(before, after))));
  }

  void refusesWhatSetRefuses() {
    zvtest::TempDir dir;
    const std::string file = dir / "p.zvpj";
    QCOMPARE(Zv({"new", file}).status, 0);
    zv::ScriptedPrompt prompt(zv::Answer::Yes);
    zvstudio::MainWindow w(&prompt);
    QVERIFY(w.OpenFile(QString::fromStdString(file)));
    const std::vector<uint8_t> before = zv::StoreProject(w.Project(), file);
    QVERIFY(w.Select("Movie#1/Title#1"));
    TypeInto(w.Editor("name"), "Main/Feature");
    const zvtest::RunResult cli = Zv({"set", file, "Movie#1/Title#1", "name=Main/Feature"});
    QCOMPARE(cli.status, 2);
    QCOMPARE(prompt.messages.size(), size_t(1));
    QCOMPARE(QString::fromStdString("zelvane set: " + prompt.messages[0] + "\n"), QString::fromStdString(cli.err));
    QVERIFY(zv::StoreProject(w.Project(), file) == before);
    QVERIFY(!w.IsModified());
    QCoreApplication::processEvents();
    QCOMPARE(qobject_cast<QLineEdit*>(w.Editor("name"))->text(), QString("Title#1"));

    TypeInto(w.Editor("name"), "Feature");
    QVERIFY(w.IsModified());
    QVERIFY(w.Select("Movie#1/Feature"));
    QVERIFY(w.Undo());
    QVERIFY(zv::StoreProject(w.Project(), file) == before);
    QVERIFY(!w.IsModified());
    QVERIFY(w.Redo());
    QVERIFY(w.Select("Movie#1/Feature"));
  }

  // Every kind of change (sources, each editor kind, a refused value, add and
  // delete commands) is one step: undo walks back through the saved bytes of
  // each state and redo forward again. A value refused through the language
  // editor gives `set`'s message and no step.
  void undoAndRedoStepThroughEveryChange() {
    zvtest::TempDir dir;
    const std::string file = dir / "p.zvpj";
    const std::string video = zvtest::CopyFixture("h264_1080p2398.264", dir.Path());
    const std::string audio = zvtest::CopyFixture("ac3_stereo.ac3", dir.Path());
    QCOMPARE(Zv({"new", file}).status, 0);
    zv::ScriptedPrompt prompt(zv::Answer::Yes);
    zvstudio::MainWindow w(&prompt);
    QVERIFY(w.OpenFile(QString::fromStdString(file)));
    std::vector<std::vector<uint8_t>> states{zv::StoreProject(w.Project(), file)};
    const auto step = [&] {
      QCoreApplication::processEvents();
      states.push_back(zv::StoreProject(w.Project(), file));
      QVERIFY(states.back() != states[states.size() - 2]);
    };
    QVERIFY(w.AddSources("Movie#1/Clip#1", {QString::fromStdString(video), QString::fromStdString(audio)}));
    step();
    QVERIFY(w.Select("Movie#1/Clip#1/Track#2"));
    TypeInto(w.Editor("language"), "fra");
    step();
    QVERIFY(w.Select("Movie#1/Clip#1/Track#2"));
    TypeInto(w.Editor("language"), "f1");
    const std::string cliFile = dir / "cli.zvpj";
    QCOMPARE(Zv({"new", cliFile}).status, 0);
    QCOMPARE(Zv({"source", "add", cliFile, "Movie#1/Clip#1", video, audio}).status, 0);
    const zvtest::RunResult cli = Zv({"set", cliFile, "Movie#1/Clip#1/Track#2", "language=f1"});
    QCOMPARE(cli.status, 2);
    QCOMPARE(prompt.messages.size(), size_t(1));
    QCOMPARE(QString::fromStdString("zelvane set: " + prompt.messages[0] + "\n"), QString::fromStdString(cli.err));
    QVERIFY(zv::StoreProject(w.Project(), file) == states.back());
    QVERIFY(w.Select("Movie#1/Title#1"));
    qobject_cast<QCheckBox*>(w.Editor("random-access"))->toggle();
    step();
    QVERIFY(w.Select("Movie#1/Title#1"));
    emit qobject_cast<QComboBox*>(w.Editor("mode"))->textActivated("Separate");
    step();
    QVERIFY(w.Select("Movie#1"));
    Action(w, "New &Title")->trigger();
    step();
    QVERIFY(w.Select("Movie#1/Title#1"));
    Action(w, "&Delete")->trigger();
    step();

    for (size_t i = states.size() - 1; i > 0; --i) {
      QVERIFY(w.Undo());
      QVERIFY2(zv::StoreProject(w.Project(), file) == states[i - 1], std::to_string(i - 1).c_str());
    }
    QVERIFY(!w.IsModified());
    for (size_t i = 1; i < states.size(); ++i) {
      QVERIFY(w.Redo());
      QVERIFY2(zv::StoreProject(w.Project(), file) == states[i], std::to_string(i).c_str());
    }
    QVERIFY(w.IsModified());
  }

  // The program's own options: --version, and --screenshot of a project
  // with an object selected; an object that is not there is refused.
  void programOptions() {
    const zvtest::RunResult version = zvtest::Run({ZV_STUDIO, "--version"});
    QCOMPARE(version.status, 0);
    QCOMPARE(QString::fromStdString(version.out), QString("zelvane-studio " ZV_VERSION "\n"));
    zvtest::TempDir dir;
    const std::string file = dir / "p.zvpj";
    QCOMPARE(Zv({"new", file}).status, 0);
    const std::string png = dir / "shot.png";
    const zvtest::RunResult shot = zvtest::Run({ZV_STUDIO, "--screenshot", png, file, "--select", "Movie#1/Title#1"});
    QVERIFY2(shot.status == 0, shot.err.c_str());
    const QImage image(QString::fromStdString(png));
    QVERIFY(image.width() >= 800 && image.height() >= 500);
    const zvtest::RunResult bad = zvtest::Run({ZV_STUDIO, "--screenshot", png, file, "--select", "Movie#1/Title#9"});
    QCOMPARE(bad.status, 2);
    QVERIFY(bad.err.find("no object \"Movie#1/Title#9\"") != std::string::npos);
    // The window at a given size; a size that is none, and a preview of a
    // folder that is not a disc, are refused.
    const zvtest::RunResult sized = zvtest::Run({ZV_STUDIO, "--screenshot", png, file, "--size", "1280x900"});
    QVERIFY2(sized.status == 0, sized.err.c_str());
    QCOMPARE(QImage(QString::fromStdString(png)).size(), QSize(1280, 900));
    const zvtest::RunResult size = zvtest::Run({ZV_STUDIO, "--screenshot", png, file, "--size", "12x"});
    QCOMPARE(size.status, 64);
    QVERIFY2(size.err.find("\"12x\" is not a window size") != std::string::npos, size.err.c_str());
    const zvtest::RunResult noDisc = zvtest::Run({ZV_STUDIO, "--screenshot", png, file, "--preview", dir.Path()});
    QCOMPARE(noDisc.status, 2);
    QVERIFY2(noDisc.err.find("Cannot open the disc") != std::string::npos, noDisc.err.c_str());
  }

  // Closing with unsaved changes asks, and only Yes lets them go.
  void closingWithChangesAsks() {
    zv::ScriptedPrompt prompt(zv::Answer::No);
    zvstudio::MainWindow w(&prompt);
    w.show();
    QVERIFY(w.close());  // nothing changed: no question
    QVERIFY(prompt.questions.empty());
    w.show();
    QVERIFY(w.Select("Movie#1/Title#1"));
    qobject_cast<QSpinBox*>(w.Editor("playback-count"))->setValue(5);
    QCoreApplication::processEvents();
    QVERIFY(!w.close());
    QCOMPARE(prompt.questions.size(), size_t(1));
    QCOMPARE(prompt.questions[0], std::string("Discard the unsaved changes of Untitled? "));
    QVERIFY(w.isVisible());
    prompt.queued.push_back(zv::Answer::Yes);
    QVERIFY(w.close());
  }

  // The add and delete commands of the menus change the project as the
  // command line's do, and undo takes them back.
  void addAndDeleteActions() {
    zv::ScriptedPrompt prompt(zv::Answer::Yes);
    zvstudio::MainWindow w(&prompt);
    const std::vector<uint8_t> fresh = zv::StoreProject(w.Project(), std::string());
    std::string error;
    QVERIFY(w.Select("Movie#1"));
    for (const char* text : {"New &Title", "New &Clip", "New &IG"}) {
      QAction* a = Action(w, text);
      QVERIFY2(a, text);
      a->trigger();
    }
    QVERIFY(zv::FindObject(w.Project(), "Movie#1/Title#2", error));
    QVERIFY(zv::FindObject(w.Project(), "Movie#1/Clip#2", error));
    QVERIFY(zv::FindObject(w.Project(), "Movie#1/IG#2", error));
    QVERIFY(w.Select("Movie#1/IG#2"));
    Action(w, "New Page")->trigger();
    const std::string page = FirstOf<zv::CPage>(w.Project(), zv::FindObject(w.Project(), "Movie#1/IG#2", error),
                                                "Movie#1/IG#2");
    QVERIFY(!page.empty());
    QVERIFY(w.Select(QString::fromStdString(page)));
    Action(w, "New BOG")->trigger();
    const std::string bog = page + "/" + FirstOf<zv::CBog>(w.Project(), zv::FindObject(w.Project(), page, error));
    QVERIFY(w.Select(QString::fromStdString(bog)));
    Action(w, "New &Empty Button")->trigger();
    QVERIFY(!FirstOf<zv::CBdButton>(w.Project(), zv::FindObject(w.Project(), bog, error)).empty());
    QVERIFY(prompt.messages.empty());

    // Delete asks, and a No keeps the object.
    QVERIFY(w.Select("Movie#1/Title#2"));
    prompt.queued.push_back(zv::Answer::No);
    Action(w, "&Delete")->trigger();
    QVERIFY(zv::FindObject(w.Project(), "Movie#1/Title#2", error));
    QCOMPARE(prompt.questions.back(), std::string("Delete \"Movie#1/Title#2\"? "));
    Action(w, "&Delete")->trigger();
    QVERIFY(!zv::FindObject(w.Project(), "Movie#1/Title#2", error));
    QVERIFY(w.IsModified());
    // Without a film selected, a title has nowhere to go.
    w.NewProject();
    Action(w, "New &Title")->trigger();
    QCOMPARE(prompt.messages.back(), std::string("Select a film first"));
    QVERIFY(zv::StoreProject(w.Project(), std::string()) == fresh);
  }

  // Files dropped onto a clip are added as `source add` adds them; a drop
  // with a refused file leaves nothing of it behind.
  void dropFilesOntoAClip() {
    zvtest::TempDir dir;
    const std::string video = zvtest::CopyFixture("h264_1080p2398.264", dir.Path());
    const std::string audio = zvtest::CopyFixture("ac3_stereo.ac3", dir.Path());
    const std::string bad = zvtest::CopyFixture("fail_44k.ac3", dir.Path());
    zv::ScriptedPrompt prompt(zv::Answer::Yes);
    zvstudio::MainWindow w(&prompt);
    w.resize(1000, 700);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QVERIFY(DropOnto(w, "Movie#1/Clip#1", {QString::fromStdString(video), QString::fromStdString(audio)}));
    std::string error;
    auto* clip = dynamic_cast<zv::CStoryObject*>(zv::FindObject(w.Project(), "Movie#1/Clip#1", error));
    QVERIFY(clip);
    QCOMPARE(clip->TrackRefs().size(), size_t(2));
    QVERIFY(w.IsModified());
    QVERIFY2(prompt.messages.empty(), prompt.messages.empty() ? "" : prompt.messages[0].c_str());

    const std::vector<uint8_t> before = zv::StoreProject(w.Project(), std::string());
    QVERIFY(DropOnto(w, "Logos/Clip#1", {QString::fromStdString(audio), QString::fromStdString(bad)}));
    // The analysis says why, then the window says what was not added.
    QVERIFY(!prompt.messages.empty());
    QVERIFY2(prompt.messages.back().find("fail_44k.ac3\" was not added to \"Logos/Clip#1\"") != std::string::npos,
             prompt.messages.back().c_str());
    QVERIFY(zv::StoreProject(w.Project(), std::string()) == before);
    QVERIFY(w.Undo());  // the step undone is the first drop: the refused one made none
    clip = dynamic_cast<zv::CStoryObject*>(zv::FindObject(w.Project(), "Movie#1/Clip#1", error));
    QVERIFY(clip && clip->TrackRefs().empty());
  }

  // Under the settings the grid shows, greyed, what `show` prints but `set`
  // does not change; objects without settings (a display set) have these
  // rows alone. Looking changes nothing.
  void readOnlyRowsUnderTheSettings() {
    zvtest::TempDir dir;
    const QString video = QString::fromStdString(zvtest::CopyFixture("h264_1080p2398.264", dir.Path()));
    const QString audio = QString::fromStdString(zvtest::CopyFixture("ac3_stereo.ac3", dir.Path()));
    zv::ScriptedPrompt prompt(zv::Answer::Yes);
    zvstudio::MainWindow w(&prompt);
    QVERIFY(w.AddSources("Movie#1/Clip#1", {video, audio}));
    const std::vector<uint8_t> before = zv::StoreProject(w.Project(), std::string());

    QVERIFY(w.Select("Movie#1/Clip#1"));
    QVERIFY(w.Editor("name"));
    QCOMPARE(w.Facts("source"), (QStringList{video, audio}));
    QVERIFY(!w.Editor("source"));
    QTableWidget* grid = nullptr;
    for (auto* t : w.findChildren<QTableWidget*>())
      if (t->horizontalHeaderItem(0) && t->horizontalHeaderItem(0)->text() == "Setting") grid = t;
    QVERIFY(grid);
    int sources = 0;
    for (int r = 0; r < grid->rowCount(); ++r)
      if (grid->item(r, 0)->text() == "source") {
        ++sources;
        QCOMPARE(grid->item(r, 1)->flags(), Qt::NoItemFlags);
        QVERIFY(!grid->cellWidget(r, 1));
      }
    QCOMPARE(sources, 2);
    // The clip view lists the tracks from the same rows.
    QTableWidget* clipView = nullptr;
    for (auto* t : w.findChildren<QTableWidget*>())
      if (t->horizontalHeaderItem(0) && t->horizontalHeaderItem(0)->text() == "Track") clipView = t;
    QVERIFY(clipView);
    QCOMPARE(clipView->rowCount(), 2);
    QCOMPARE(clipView->item(1, 1)->text(), QString("audio"));
    QCOMPARE(clipView->item(1, 2)->text(), QString("0x81"));
    std::string error;
    auto* clip = dynamic_cast<zv::CStoryObject*>(zv::FindObject(w.Project(), "Movie#1/Clip#1", error));
    QVERIFY(clip);
    QCOMPARE(clipView->item(1, 3)->text(), QString::fromStdString(clip->TrackRefs()[1].language));
    QCOMPARE(clipView->item(1, 4)->text(), audio);

    QVERIFY(w.Select("Movie#1/Clip#1/Track#2"));
    QCOMPARE(w.Facts("coding-type"), QStringList{"129"});  // AC-3
    QCOMPARE(w.Facts("path"), QStringList{audio});
    QVERIFY(w.Editor("language"));
    QVERIFY(w.Select("Movie#1"));
    QCOMPARE(w.Facts("type"), QStringList{"Movie"});
    QVERIFY(w.Select("Movie#1/Title#1/PI#1"));
    QCOMPARE(w.Facts("story"), QStringList{"Clip#1"});
    QVERIFY(w.Select("Movie#1/IG#1/Epoch#1/DisplaySet#1"));
    QCOMPARE(w.Facts("user-interface-model"), QStringList{"1"});
    QCOMPARE(w.Facts("state"), QStringList{"2"});
    QCOMPARE(grid->rowCount(), 5);
    QVERIFY(zv::StoreProject(w.Project(), std::string()) == before);
  }

  // Every command of the seed's menus is in the menu bar, the usual ones
  // with their usual shortcuts; New Movie adds a movie as `movie add` does.
  void everyCommandIsInTheMenus() {
    zv::ScriptedPrompt prompt(zv::Answer::Yes);
    zvstudio::MainWindow w(&prompt);
    std::map<QString, QAction*> inMenus;
    for (QAction* top : w.menuBar()->actions())
      if (top->menu())
        for (QAction* a : top->menu()->actions())
          if (!a->isSeparator()) inMenus[a->text().remove('&').remove("...")] = a;
    for (const char* name : {"New", "Open", "Save", "Save As", "Build", "Exit", "Undo", "Redo", "Delete", "New Movie",
                             "New Title", "New Clip", "New IG", "New Empty Button", "Import PSD file", "Import IES file",
                             "Build Button Sound", "About"})
      QVERIFY2(inMenus.count(name), name);
    QCOMPARE(inMenus["New"]->shortcut(), QKeySequence(QKeySequence::New));
    QCOMPARE(inMenus["Open"]->shortcut(), QKeySequence(QKeySequence::Open));
    QCOMPARE(inMenus["Save"]->shortcut(), QKeySequence(QKeySequence::Save));
    QCOMPARE(inMenus["Undo"]->shortcut(), QKeySequence(QKeySequence::Undo));
    QCOMPARE(inMenus["Redo"]->shortcut(), QKeySequence(QKeySequence::Redo));

    zvtest::TempDir dir;
    const std::string cli = dir / "cli.zvpj";
    QCOMPARE(Zv({"new", cli}).status, 0);
    QCOMPARE(Zv({"movie", "add", cli}).status, 0);
    inMenus["New Movie"]->trigger();
    QVERIFY(prompt.messages.empty());
    QVERIFY(zv::StoreProject(w.Project(), cli) == zvtest::ReadBytes(cli));
  }

  // The title view gives a chapter's time as `show` does: while the item's
  // frame rate is unknown, as a frame number rather than a made-up timecode.
  void chapterTimesAsShowGivesThem() {
    zv::ScriptedPrompt prompt(zv::Answer::Yes);
    zvstudio::MainWindow w(&prompt);
    std::string error;
    auto* item = dynamic_cast<zv::CPiObject*>(zv::FindObject(w.Project(), "Movie#1/Title#1/PI#1", error));
    QVERIFY(item);
    item->m_chapters.m_nFpsCode = 0;
    item->m_chapters.m_points = {{"", 1, 0}, {"Later", 1, 58}, {"", 1, -1}};
    QVERIFY(w.Select("Movie#1"));
    QVERIFY(w.Select("Movie#1/Title#1"));
    QTreeWidget* view = nullptr;
    for (auto* t : w.findChildren<QTreeWidget*>())
      if (t->headerItem()->text(0) == "Play item / chapter") view = t;
    QVERIFY(view);
    QCOMPARE(view->topLevelItemCount(), 1);
    QTreeWidgetItem* pi = view->topLevelItem(0);
    QCOMPARE(pi->childCount(), 3);
    QCOMPARE(pi->child(0)->text(1), QString("00:00:00:00"));
    QCOMPARE(pi->child(1)->text(1), QString("frame 58"));
    QCOMPARE(pi->child(2)->text(1), QString("end"));
    item->m_chapters.m_nFpsCode = 3;
    QVERIFY(w.Select("Movie#1"));
    QVERIFY(w.Select("Movie#1/Title#1"));
    QCOMPARE(view->topLevelItem(0)->child(1)->text(1), QString("00:00:02:08"));
  }

  // A page's grid ends with the page editor's background colour, chosen
  // with the colour dialog and kept in the settings file.
  void bgColorEditor() {
    zv::ScriptedPrompt prompt(zv::Answer::Yes);
    zvstudio::MainWindow w(&prompt);
    std::string error;
    QVERIFY(w.Select("Movie#1/IG#1"));
    QVERIFY(!w.Editor("BG Color"));  // a menu has none; a page has
    Action(w, "New Page")->trigger();
    const std::string page = FirstOf<zv::CPage>(w.Project(), zv::FindObject(w.Project(), "Movie#1/IG#1", error),
                                                "Movie#1/IG#1");
    QVERIFY(w.Select(QString::fromStdString(page)));
    auto* pick = qobject_cast<QPushButton*>(w.Editor("BG Color"));
    QVERIFY(pick);
    QCOMPARE(pick->text(), QString("#808000"));
    const std::vector<uint8_t> project = zv::StoreProject(w.Project(), std::string());
    QTimer::singleShot(0, [] {
      auto* dialog = qobject_cast<QColorDialog*>(QApplication::activeModalWidget());
      QVERIFY(dialog);
      dialog->setCurrentColor(QColor(0x12, 0x34, 0x56));
      dialog->accept();
    });
    pick->click();
    QCOMPARE(pick->text(), QString("#123456"));
    zv::Settings settings;
    settings.Load();
    QCOMPARE(settings.BgColor(), 0x123456u);
    QCOMPARE(QString::fromStdString(settings.Get("BG Color")), QString("0x123456"));
    QVERIFY(zv::StoreProject(w.Project(), std::string()) == project);  // a user setting, not the project's

    // Cancelling the dialog keeps the colour.
    QTimer::singleShot(0, [] {
      auto* dialog = qobject_cast<QColorDialog*>(QApplication::activeModalWidget());
      QVERIFY(dialog);
      dialog->setCurrentColor(Qt::red);
      dialog->reject();
    });
    pick->click();
    settings.Load();
    QCOMPARE(settings.BgColor(), 0x123456u);
  }

 private:
  zvtest::TempDir config_;
};

QTEST_MAIN(StudioTest)
#include "studio_test.moc"
