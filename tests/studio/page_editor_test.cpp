// The page editor on the offscreen platform, over the demo's top menu: it
// draws what `menu render` draws, a drag or an arrow key moves a button
// through the shared command layer (the grid and undo follow), and a button
// no arrow key reaches is flagged.
#include <QColorDialog>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QtTest>
#include <filesystem>
#include <string>
#include <vector>

#include "edit/properties.h"
#include "model/project.h"
#include "bdnav/sound_bdmv.h"
#include "platform/image.h"
#include "platform/prompt.h"
#include "platform/settings.h"
#include "studio/main_window.h"
#include "studio/menu_preview.h"
#include "studio/page_editor.h"
#include "support/test_support.h"

namespace {

const char* kMain = "Top Menu/IG#1/Epoch#1/DisplaySet#1/Main";

// A setting as `set` and `show` read it.
std::string ValueOf(zv::CZvObject& project, const std::string& path, const std::string& key) {
  zvedit::Target t;
  std::string error;
  if (!zvedit::FindTarget(project, path, t, error)) return "(" + error + ")";
  for (const zvedit::PropertyInfo& p : zvedit::Describe(project, t))
    if (p.key == key) return p.value;
  return "(no " + key + ")";
}

// The window over a project file, its prompt answering yes (and keeping
// what it was told).
struct EditorWindow {
  explicit EditorWindow(const std::string& project) : opened(w.OpenFile(QString::fromStdString(project))) {}
  zv::ScriptedPrompt prompt{zv::Answer::Yes};
  zvstudio::MainWindow w{&prompt};
  bool opened;
};

// Shows the window with the editor's canvas at half the page's size, so
// that page pixels fall on whole widget pixels.
bool ShowHalfSize(zvstudio::MainWindow& w, zvstudio::PageEditor& editor) {
  w.show();
  if (!QTest::qWaitForWindowExposed(&w)) return false;
  editor.Canvas()->setFixedSize(960, 540);
  QCoreApplication::processEvents();
  return true;
}

// How many pixels of `got` differ from what `menu render` draws of page
// `page` of the top menu in `project` with `options`; -1 with `error`
// when it could not be drawn or has another size.
int DiffersFromRender(const QImage& got, const std::string& project, const std::string& page,
                      const std::vector<std::string>& options, std::string& error) {
  const std::string png = project + ".render.png";
  std::vector<std::string> args{ZV_BINARY, "menu", "render", project, "Top Menu/IG#1", page, png};
  args.insert(args.end(), options.begin(), options.end());
  const zvtest::RunResult r = zvtest::Run(args);
  if (r.status != 0) return error = r.err, -1;
  zv::CPicture want;
  if (!zv::DecodeImageFile(png, want, error)) return -1;
  if (got.width() != want.width || got.height() != want.height) return error = "the sizes differ", -1;
  int differ = 0;
  for (int y = 0; y < want.height; ++y)
    for (int x = 0; x < want.width; ++x) {
      const zv::SColor c = want.At(x, y);
      const QColor g = got.pixelColor(x, y);
      differ += g.red() != c.r || g.green() != c.g || g.blue() != c.b || g.alpha() != c.a;
    }
  return differ;
}

}  // namespace

// `w` and `prompt` of a window over `project`; OPEN_EDITOR also selects
// `object` and gives the `editor` of its page.
#define OPEN_WINDOW(project)                                      \
  EditorWindow session{project};                                  \
  QVERIFY(session.opened);                                        \
  [[maybe_unused]] zv::ScriptedPrompt& prompt = session.prompt;   \
  zvstudio::MainWindow& w = session.w
#define OPEN_EDITOR(project, object)         \
  OPEN_WINDOW(project);                      \
  QVERIFY(w.Select(object));                 \
  zvstudio::PageEditor* editor = w.PageView(); \
  QVERIFY(editor)

class PageEditorTest : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() {
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config_.Path()));
    const zvtest::RunResult r = zvtest::Run({ZV_BINARY, "demo", dir_.Path() + "/demo", "--yes"});
    QVERIFY2(r.status == 0, r.err.c_str());
    project_ = dir_.Path() + "/demo/demo.zvpj";
    // The checks read each edit's page as the edit returns; the worker has
    // a test of its own.
    zvstudio::PageEditor::SetCompileInBackground(false);
  }

  // In the shell an edit that recompiles the menu returns before the
  // compilation ends: the page says "compiling…" over the last drawing
  // until the worker's result comes, and that result is drawn as `menu
  // render` (which compiles as the editor did before) draws the edited
  // project. Of two edits in a row only the latter's result is shown.
  void aRecompilingEditLeavesTheWindowFree() {
    zvstudio::PageEditor::SetCompileInBackground(true);
    struct Restore {
      ~Restore() { zvstudio::PageEditor::SetCompileInBackground(false); }
    } restore;
    OPEN_EDITOR(project_, QString::fromStdString(std::string(kMain) + "/Bog#3/audio"));
    QSignalSpy compiled(editor, &zvstudio::PageEditor::Compiled);
    auto* status = editor->findChild<QLabel*>("status");
    QVERIFY(status);
    QVERIFY(editor->Compiling());  // opening the page compiles there too
    QVERIFY(status->text().contains("compiling…"));
    QVERIFY(compiled.wait(30000));
    QVERIFY2(editor->Problem().isEmpty(), qPrintable(editor->Problem()));
    const QImage before = editor->PageImage();
    QVERIFY(!before.isNull());
    QCOMPARE(editor->SelectedButton(), QString("audio"));
    editor->SetState(1);
    compiled.clear();
    const std::string menu = dir_.Path() + "/demo/media/menu/";
    QVERIFY(editor->SetPicture("audio", 1, QString::fromStdString(menu + "chapter1_s.png")));
    QVERIFY(editor->Compiling());
    QVERIFY(status->text().contains("compiling…"));
    QVERIFY(editor->PageImage() == before);
    QVERIFY(editor->SetPicture("audio", 1, QString::fromStdString(menu + "back_s.png")));
    QVERIFY(editor->Compiling());
    QTRY_VERIFY_WITH_TIMEOUT(!editor->Compiling(), 30000);
    QCOMPARE(compiled.count(), 1);
    QVERIFY(!status->text().contains("compiling…"));
    QVERIFY2(editor->Problem().isEmpty(), qPrintable(editor->Problem()));
    QVERIFY(editor->PageImage() != before);
    QVERIFY(w.SaveTo(QString::fromStdString(dir_.Path() + "/worker.zvpj")));
    std::string error;
    const int differ = DiffersFromRender(editor->PageImage(), dir_.Path() + "/worker.zvpj", "Main",
                                         {"--button", "audio", "--state", "selected"}, error);
    QVERIFY2(differ >= 0, error.c_str());
    QCOMPARE(differ, 0);
    QVERIFY2(prompt.messages.empty(), prompt.messages.empty() ? "" : prompt.messages[0].c_str());
    // Another page of the menu, with a warning of the compiler's, is what
    // the editor compiling on the interface thread shows.
    const QString audioPage = "Top Menu/IG#1/Epoch#1/DisplaySet#1/Audio";
    QVERIFY(w.Select(audioPage));
    QVERIFY(!editor->Compiling());
    const QImage image = editor->PageImage();
    const QStringList warnings = editor->Warnings(), unreachable = editor->Unreachable();
    QCOMPARE(warnings.size(), 1);
    zvstudio::PageEditor::SetCompileInBackground(false);
    {
      OPEN_EDITOR(dir_.Path() + "/worker.zvpj", audioPage);
      QVERIFY(!editor->Compiling());
      QVERIFY(editor->PageImage() == image);
      QCOMPARE(editor->Warnings(), warnings);
      QCOMPARE(editor->Unreachable(), unreachable);
    }
  }

  void dragMovesTheButtonAndUndoPutsItBack() {
    const std::string trailer = std::string(kMain) + "/Bog#4/trailer";
    OPEN_EDITOR(project_, QString::fromStdString(trailer));
    QCOMPARE(editor->PagePath(), QString(kMain));
    QCOMPARE(editor->SelectedButton(), QString("trailer"));
    QVERIFY2(editor->Problem().isEmpty(), qPrintable(editor->Problem()));
    QVERIFY(ShowHalfSize(w, *editor));
    QCOMPARE(ValueOf(w.Project(), trailer, "x"), std::string("760"));
    QCOMPARE(ValueOf(w.Project(), trailer, "y"), std::string("820"));

    QCOMPARE(editor->Overlaps(), QStringList());
    QWidget* canvas = editor->Canvas();
    const QPoint from = editor->ToCanvas(760 + 40, 820 + 30);
    const QPoint to = editor->ToCanvas(760 + 40 + 100, 820 + 30 - 50);
    QTest::mousePress(canvas, Qt::LeftButton, {}, from);
    QTest::mouseMove(canvas, (from + to) / 2);
    QTest::mouseMove(canvas, to);
    QTest::mouseRelease(canvas, Qt::LeftButton, {}, to);
    QCoreApplication::processEvents();
    QCOMPARE(ValueOf(w.Project(), trailer, "x"), std::string("860"));
    QCOMPARE(ValueOf(w.Project(), trailer, "y"), std::string("770"));
    QVERIFY(w.IsModified());
    // The grid shows the moved button.
    QCOMPARE(w.SelectedPath(), QString::fromStdString(trailer));
    auto* x = qobject_cast<QSpinBox*>(w.Editor("x"));
    QVERIFY(x);
    QCOMPARE(x->value(), 860);
    // Moved there, it overlaps "audio" of another BOG.
    QCOMPARE(editor->Overlaps(), QStringList{"audio overlaps trailer"});
    // One step back undoes the whole drag.
    QVERIFY(w.Undo());
    QCOMPARE(ValueOf(w.Project(), trailer, "x"), std::string("760"));
    QCOMPARE(ValueOf(w.Project(), trailer, "y"), std::string("820"));
    QVERIFY(!w.IsModified());
    QCOMPARE(editor->Overlaps(), QStringList());

    // Arrow keys move by one pixel, by ten with Shift.
    QTest::keyClick(canvas, Qt::Key_Left);
    QTest::keyClick(canvas, Qt::Key_Down, Qt::ShiftModifier);
    QCOMPARE(ValueOf(w.Project(), trailer, "x"), std::string("759"));
    QCOMPARE(ValueOf(w.Project(), trailer, "y"), std::string("830"));
    QVERIFY(w.Undo());
    QCOMPARE(ValueOf(w.Project(), trailer, "y"), std::string("820"));
    QVERIFY(w.Redo());
    QCOMPARE(ValueOf(w.Project(), trailer, "y"), std::string("830"));
    QVERIFY2(prompt.messages.empty(), prompt.messages.empty() ? "" : prompt.messages[0].c_str());
  }

  // The editor's page is `menu render`'s picture of the same page and
  // state (which the interop tests hold to libbluray's plane), also after
  // a button moved.
  void theEditorDrawsWhatMenuRenderDraws() {
    const std::string audio = std::string(kMain) + "/Bog#3/audio";
    OPEN_EDITOR(project_, QString::fromStdString(audio));
    editor->SetState(2);
    QVERIFY(w.Select(QString::fromStdString(std::string(kMain) + "/Bog#3")));
    QTest::mouseClick(editor->Canvas(), Qt::LeftButton, {}, editor->ToCanvas(760 + 20, 720 + 20));
    QCOMPARE(editor->SelectedButton(), QString("audio"));
    QTest::keyClick(editor->Canvas(), Qt::Key_Right, Qt::ShiftModifier);
    QVERIFY(w.SaveTo(QString::fromStdString(dir_.Path() + "/moved.zvpj")));
    std::string error;
    const int differ = DiffersFromRender(editor->PageImage(), dir_.Path() + "/moved.zvpj", "Main",
                                         {"--button", "audio", "--state", "activated"}, error);
    QVERIFY2(differ >= 0, error.c_str());
    QCOMPARE(differ, 0);
    // The activated picture differs from the normal one where the button
    // now is.
    const QImage& got = editor->PageImage();
    const QColor at = got.pixelColor(770 + 200, 720 + 36);
    QVERIFY(at != got.pixelColor(770 + 200, 620 + 36));
  }

  // A right-button drag from one button to another makes the second the
  // first's neighbour in that direction; undo restores the old one.
  void drawingAnArrowSetsTheNeighbour() {
    OPEN_EDITOR(project_, kMain);
    const std::string chapters = std::string(kMain) + "/Bog#2/chapters";
    QCOMPARE(ValueOf(w.Project(), chapters, "down"), std::string("audio"));
    QCOMPARE(ValueOf(w.Project(), chapters, "right"), std::string("none"));
    QWidget* canvas = editor->Canvas();
    const QPoint from = editor->ToCanvas(960, 656), to = editor->ToCanvas(960, 856);
    QTest::mousePress(canvas, Qt::RightButton, {}, from);
    QTest::mouseMove(canvas, to);
    QTest::mouseRelease(canvas, Qt::RightButton, {}, to);
    QCOMPARE(ValueOf(w.Project(), chapters, "down"), std::string("trailer"));
    // "audio" is now reached only from "trailer" going up.
    QCOMPARE(editor->Unreachable(), QStringList());
    QVERIFY(w.Undo());
    QCOMPARE(ValueOf(w.Project(), chapters, "down"), std::string("audio"));
    QVERIFY2(prompt.messages.empty(), prompt.messages.empty() ? "" : prompt.messages[0].c_str());
  }

  // A dropped picture becomes a graphic of the menu and a new button in a
  // BOG of its own at the drop point; nothing leads to it yet. Undo takes
  // it away again.
  void droppingAPictureAddsAButton() {
    OPEN_EDITOR(project_, kMain);
    const std::string file = dir_.Path() + "/extra.png";
    std::filesystem::copy_file(dir_.Path() + "/demo/media/menu/back_n.png", file,
                               std::filesystem::copy_options::overwrite_existing);
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(file))});
    QVERIFY(ShowHalfSize(w, *editor));
    const QPoint at = editor->ToCanvas(100, 200);
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, {});
    QCoreApplication::sendEvent(editor->Canvas(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, {});
    QCoreApplication::sendEvent(editor->Canvas(), &drop);
    QVERIFY(drop.isAccepted());
    QVERIFY2(prompt.messages.empty(), prompt.messages.empty() ? "" : prompt.messages[0].c_str());
    const std::string added = std::string(kMain) + "/Bog#5/" + editor->SelectedButton().toStdString();
    QCOMPARE(editor->SelectedButton(), QString("Button#5"));
    // Dropped at whole widget pixels: within one page pixel of the point.
    QVERIFY(std::abs(std::stoi(ValueOf(w.Project(), added, "x")) - 100) <= 2);
    QVERIFY(std::abs(std::stoi(ValueOf(w.Project(), added, "y")) - 200) <= 2);
    QCOMPARE(ValueOf(w.Project(), added, "normal"), std::string("extra.png"));
    QCOMPARE(w.SelectedPath(), QString::fromStdString(added));
    QCOMPARE(editor->Unreachable(), QStringList{"Button#5"});
    // The page shows the picture where the button is.
    const std::string x = ValueOf(w.Project(), added, "x"), y = ValueOf(w.Project(), added, "y");
    QCOMPARE(editor->PageImage().pixelColor(std::stoi(x) + 200, std::stoi(y) + 36).alpha(), 255);
    QVERIFY(editor->PageImage().pixelColor(std::stoi(x) + 200, std::stoi(y) + 36) != QColor(0x80, 0x80, 0x00));
    QVERIFY(w.Undo());
    QVERIFY(ValueOf(w.Project(), added, "x").rfind("(", 0) == 0);
    QCOMPARE(editor->Unreachable(), QStringList());
    QVERIFY(!w.IsModified());
  }

  // Under the page, the first frame of the menu's background clip as
  // ffmpeg decodes it, instead of "BG Color".
  void theBackgroundClipCanLieUnderThePage() {
    OPEN_EDITOR(project_, kMain);
    QCOMPARE(editor->PageImage().pixelColor(10, 10), QColor(0x80, 0x80, 0x00));
    auto* under = editor->findChild<QComboBox*>("under");
    QVERIFY(under);
    under->setCurrentIndex(1);
    QVERIFY2(editor->Problem().isEmpty(), qPrintable(editor->Problem()));
    const zvtest::RunResult r = zvtest::Run({"ffmpeg", "-v", "error", "-i", dir_.Path() + "/demo/media/menu_bg.264",
                                             "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "rgba", "-"});
    QVERIFY2(r.status == 0, r.err.c_str());
    QCOMPARE(r.out.size(), size_t{1920} * 1080 * 4);
    for (const QPoint& at : {QPoint(10, 10), QPoint(1900, 1000), QPoint(960, 100), QPoint(300, 700)}) {
      const uint8_t* f = reinterpret_cast<const uint8_t*>(&r.out[(static_cast<size_t>(at.y()) * 1920 + at.x()) * 4]);
      const QColor c = editor->PageImage().pixelColor(at);
      QVERIFY2(std::abs(c.red() - f[0]) <= 3 && std::abs(c.green() - f[1]) <= 3 && std::abs(c.blue() - f[2]) <= 3,
               qPrintable(QString("at %1,%2: %3 %4 %5, ffmpeg %6 %7 %8").arg(at.x()).arg(at.y()).arg(c.red())
                              .arg(c.green()).arg(c.blue()).arg(f[0]).arg(f[1]).arg(f[2])));
    }
  }

  // The preview runs the built disc in libbluray: the top menu opens as
  // `menu render` draws it, a key moves the selection and plays the select
  // sound, Enter on "Chapters" opens that page.
  void thePreviewRunsTheDiscInThePlayer() {
    zvstudio::MenuPreview preview;
    {
      OPEN_WINDOW(project_);
      preview.SetTitleNames(zvstudio::TitleNames(w.Project()));
      preview.SetMenus(zvstudio::PreviewMenus(w.Project()));
    }
    QString error;
    QVERIFY2(preview.Open(QString::fromStdString(dir_.Path() + "/demo/Zelvane/DISC"), error), qPrintable(error));
    auto same = [&](const std::string& page, const std::string& button, const char* what) {
      const std::string png = dir_.Path() + "/preview-" + button + ".png";
      const zvtest::RunResult r = zvtest::Run({ZV_BINARY, "menu", "render", project_, "Top Menu/IG#1", page, png,
                                               "--transparent", "--button", button});
      QVERIFY2(r.status == 0, r.err.c_str());
      zv::CPicture want;
      std::string why;
      QVERIFY2(zv::DecodeImageFile(png, want, why), why.c_str());
      // The player runs on with the clock: the page shows within a while.
      const auto differing = [&] {
        const QImage& got = preview.Plane();
        if (got.width() != want.width || got.height() != want.height) return -1;
        int differ = 0;
        for (int y = 0; y < want.height; ++y)
          for (int x = 0; x < want.width; ++x) {
            const zv::SColor c = want.At(x, y);
            const QColor g = got.pixelColor(x, y);
            const bool near = std::abs(g.alpha() - c.a) <= 2 &&
                              (c.a == 0 || (std::abs(g.red() - c.r) <= 2 && std::abs(g.green() - c.g) <= 2 &&
                                            std::abs(g.blue() - c.b) <= 2));
            differ += !near;
          }
        return differ;
      };
      int differ = differing();
      for (QDeadlineTimer until(5000); differ != 0 && !until.hasExpired(); differ = differing()) QTest::qWait(20);
      QVERIFY2(differ == 0, qPrintable(QString("%1: %2 pixels differ; events: %3").arg(what).arg(differ)
                                           .arg(preview.Events().join(", "))));
    };
    same("Main", "play", "the top menu as it opens");
    QVERIFY(preview.Press("down"));
    same("Main", "chapters", "after down");
    const int down = static_cast<int>(preview.Events().indexOf("press down"));
    QVERIFY(down >= 0);
    QVERIFY2(preview.Events().indexOf("SOUND_EFFECT 0", down) > down, qPrintable(preview.Events().join(", ")));
    // The sound the player asked for went to the sound player: the samples
    // it plays are the select sound's WAV, read here on its own.
    QCOMPARE(preview.Sounds().LastId(), 0);
    const zvstudio::SButtonSound* heard = preview.Sounds().Sound(0);
    QVERIFY(heard);
    const std::string wav = dir_.Path() + "/demo/media/menu/select.wav";
    zv::SWavInfo info;
    std::string why;
    QVERIFY2(zv::ReadWavInfo(wav, info, why), why.c_str());
    QFile file(QString::fromStdString(wav));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.seek(info.dataOffset));
    const QByteArray le = file.read(static_cast<qint64>(info.dataSize));
    QCOMPARE(heard->channels, int(info.channels));
    QCOMPARE(heard->samples.size() * 2, size_t(le.size()));
    QVERIFY(le.size() > 1000);
    for (size_t i = 0; i < heard->samples.size(); ++i)
      QCOMPARE(heard->samples[i], static_cast<int16_t>(static_cast<uint8_t>(le[qsizetype(2 * i)]) |
                                                       static_cast<uint8_t>(le[qsizetype(2 * i + 1)]) << 8));
    QVERIFY(preview.Press("enter"));
    same("Chapters", "chapter1", "the Chapters page");
    QVERIFY(!preview.Press("jump"));
    // Enter on "chapter1" plays the movie's title, told by its name.
    QVERIFY(preview.Press("enter"));
    const int enter = static_cast<int>(preview.Actions().lastIndexOf("press enter"));
    QVERIFY(enter >= 0);
    QTRY_VERIFY2_WITH_TIMEOUT(preview.Actions().indexOf("at chapter 1", enter) > enter,
                              qPrintable(preview.Actions().join(", ")), 5000);
    const QStringList actions = preview.Actions();
    QVERIFY2(actions.indexOf("plays Title 1 (Movie#1/Title#1)", enter) > enter, qPrintable(actions.join(", ")));
    // The title plays in real time: a moment after Enter it has not ended.
    const QStringList after = preview.Events().mid(preview.Events().lastIndexOf("press enter"));
    QVERIFY2(after.filter(QRegularExpression("^(END_OF_TITLE|TITLE 0)")).isEmpty(), qPrintable(after.join(", ")));
    // The selection as recognised in the player's plane, and the commands
    // of the button Enter activated, as our disassembler reads them; the
    // player then did what they say.
    const QString all = actions.join(", ");
    const int start = static_cast<int>(actions.indexOf("Main: play selected"));
    const int pressDown = static_cast<int>(actions.indexOf("press down"));
    QVERIFY2(start >= 0 && start < pressDown, qPrintable(all));
    QVERIFY2(actions.indexOf("Main: chapters selected") > pressDown, qPrintable(all));
    const int open = static_cast<int>(actions.indexOf("chapters runs: SetButtonPage 0 1 1"));
    QVERIFY2(open > pressDown, qPrintable(all));
    const int chapter1 = static_cast<int>(actions.indexOf("Chapters: chapter1 selected"));
    QVERIFY2(chapter1 > open && chapter1 < enter, qPrintable(all));
    const int runs = static_cast<int>(actions.indexOf("chapter1 runs: Set GPR2020 = 2; Set GPR2024 = 0; CallTitle 1"));
    QVERIFY2(runs > enter && runs < actions.indexOf("plays Title 1 (Movie#1/Title#1)"), qPrintable(all));
  }

  // Between keys the player runs on in real time: a pop-up menu with a
  // time-out of one second closes by itself after it, with no key pressed.
  void thePreviewKeepsTime() {
    const std::string popup = dir_.Path() + "/popup.zvpj";
    {
      OPEN_WINDOW(project_);
      QVERIFY(w.SaveTo(QString::fromStdString(popup)));
    }
    zvtest::RunResult r = zvtest::Run({ZV_BINARY, "set", popup, "Top Menu/IG#1", "popup=yes", "timeout=1"});
    QVERIFY2(r.status == 0, r.err.c_str());
    r = zvtest::Run({ZV_BINARY, "build", popup, dir_.Path() + "/popup-out", "--yes"});
    QVERIFY2(r.status == 0, r.err.c_str());
    zvstudio::MenuPreview preview;
    QString error;
    QVERIFY2(preview.Open(QString::fromStdString(dir_.Path() + "/popup-out/Zelvane/DISC"), error), qPrintable(error));
    QVERIFY(preview.Press("popup"));
    const int press = static_cast<int>(preview.Actions().lastIndexOf("press popup"));
    QVERIFY2(preview.Actions().indexOf("menu shown", press) > press, qPrintable(preview.Actions().join(", ")));
    QVERIFY(!preview.Plane().isNull());
    // Not at once: the player waits with the menu open.
    QTest::qWait(300);
    QVERIFY2(preview.Actions().indexOf("menu gone", press) < 0, qPrintable(preview.Actions().join(", ")));
    QTRY_VERIFY2_WITH_TIMEOUT(preview.Actions().indexOf("menu gone", press) > press,
                              qPrintable(preview.Actions().join(", ")), 4000);

    // A sound file that cannot be read is told; the disc still plays,
    // without sounds.
    const std::string sound = dir_.Path() + "/popup-out/Zelvane/DISC/BDMV/AUXDATA/sound.bdmv";
    QVERIFY(std::filesystem::exists(sound));
    std::filesystem::resize_file(sound, 30);
    zvstudio::MenuPreview silent;
    QVERIFY2(silent.Open(QString::fromStdString(dir_.Path() + "/popup-out/Zelvane/DISC"), error), qPrintable(error));
    QCOMPARE(silent.Sounds().Count(), size_t(0));
    QVERIFY2(silent.Actions().indexOf(QRegularExpression("^Cannot read the button sounds \".*sound.bdmv\": .+")) >= 0,
             qPrintable(silent.Actions().join(", ")));
  }

  // Try Menu builds the project into a folder of its own and opens the
  // preview on it; the remembered output folder stays as it was.
  void tryMenuBuildsAndOpensThePreview() {
    OPEN_WINDOW(project_);
    zv::Settings before;
    before.Load();
    w.TryMenu();
    zvstudio::BuildDialog* dialog = w.CurrentBuild();
    QVERIFY(dialog);
    QSignalSpy done(dialog, &zvstudio::BuildDialog::Finished);
    QVERIFY(done.wait(300000));
    QCOMPARE(done.at(0).at(0).toInt(), int(zv::kOk));
    QVERIFY2(prompt.messages.empty(), prompt.messages.empty() ? "" : prompt.messages[0].c_str());
    auto* preview = w.findChild<zvstudio::MenuPreview*>();
    QVERIFY(preview);
    QVERIFY2(preview->Events().contains("TITLE 0"), qPrintable(preview->Events().join(", ")));
    QVERIFY(!preview->Plane().isNull());
    QVERIFY(preview->Press("down"));
    QVERIFY2(preview->Events().indexOf("SOUND_EFFECT 0") > preview->Events().indexOf("press down"),
             qPrintable(preview->Events().join(", ")));
    zv::Settings after;
    after.Load();
    QCOMPARE(after.OutFolder(), before.OutFolder());
  }

  void anUnreachableButtonIsFlagged() {
    OPEN_WINDOW(project_);
    const std::string before = dir_.Path() + "/before.zvpj", after = dir_.Path() + "/after.zvpj";
    QVERIFY(w.SaveTo(QString::fromStdString(before)));
    QVERIFY(w.Select(kMain));
    zvstudio::PageEditor* editor = w.PageView();
    QVERIFY2(editor->Problem().isEmpty(), qPrintable(editor->Problem()));
    QCOMPARE(editor->Unreachable(), QStringList());
    // Drawing the page (compiling the menu) leaves the project as it was.
    QVERIFY(!w.IsModified());
    QVERIFY(w.SaveTo(QString::fromStdString(after)));
    QVERIFY(zvtest::ReadBytes(before) == zvtest::ReadBytes(after));
    // Nothing leads to "trailer" once "play" and "audio" stop pointing at
    // it, set in the grid; the editor follows the grid.
    for (const auto& [button, key] : std::vector<std::pair<std::string, QString>>{{"Bog#1/play", "up"},
                                                                                  {"Bog#3/audio", "down"}}) {
      QVERIFY(w.Select(QString::fromStdString(std::string(kMain) + "/" + button)));
      auto* box = qobject_cast<QComboBox*>(w.Editor(key));
      QVERIFY(box);
      emit box->textActivated("none");
      QCoreApplication::processEvents();
    }
    QCOMPARE(editor->Unreachable(), QStringList{"trailer"});
    // Neighbours computed again from the layout reach every button; undo
    // brings the gap back.
    auto* spatial = editor->findChild<QPushButton*>("spatialNeighbours");
    QVERIFY(spatial);
    spatial->click();
    QVERIFY2(prompt.messages.empty(), prompt.messages.empty() ? "" : prompt.messages[0].c_str());
    QCOMPARE(editor->Unreachable(), QStringList());
    QCOMPARE(ValueOf(w.Project(), std::string(kMain) + "/Bog#3/audio", "down"), std::string("trailer"));
    QVERIFY(w.Undo());
    QCOMPARE(editor->Unreachable(), QStringList{"trailer"});
  }

  // Each menu has a tab of its own, its pages as tabs within it: choosing
  // a page tab shows that page and selects it in the window; a page that
  // goes loses its tab, undo brings it back.
  void eachMenuHasATabWithItsPagesAsTabs() {
    OPEN_WINDOW(project_);
    QVERIFY(w.Select(kMain));
    zvstudio::PageEditor* top = w.PageView();
    QVERIFY(top);
    QTabWidget* tabs = nullptr;
    for (QTabWidget* t : w.findChildren<QTabWidget*>())
      if (t->indexOf(top) >= 0) tabs = t;
    QVERIFY(tabs);
    QCOMPARE(tabs->tabText(tabs->indexOf(top)), QString("Menu Top Menu/IG#1"));
    auto* pages = top->findChild<QTabBar*>("pages");
    QVERIFY(pages);
    QCOMPARE(pages->count(), 3);
    QCOMPARE(pages->tabText(0), QString("Main"));
    QCOMPARE(pages->tabText(1), QString("Chapters"));
    QCOMPARE(pages->tabText(2), QString("Audio"));
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QString chapters = "Top Menu/IG#1/Epoch#1/DisplaySet#1/Chapters";
    QTest::mouseClick(pages, Qt::LeftButton, {}, pages->tabRect(1).center());
    QCOMPARE(top->PagePath(), chapters);
    QCOMPARE(w.SelectedPath(), chapters);
    QVERIFY2(top->Problem().isEmpty(), qPrintable(top->Problem()));
    // Drawn: "chapter1" (at 760,420) shows where Main has nothing.
    QVERIFY(top->PageImage().pixelColor(960, 456) != QColor(0x80, 0x80, 0x00));

    // The pop-up menu opens a second tab; the top menu's stays open.
    QVERIFY(w.Select("Movie#1/IG#1/Epoch#1/PopUp/Pop-up/Close/PopUpMenuOff"));
    QPointer<zvstudio::PageEditor> popup = w.PageView();
    QVERIFY(popup && popup != top);
    QCOMPARE(tabs->currentWidget(), popup.data());
    QVERIFY(tabs->indexOf(top) >= 0);
    QCOMPARE(popup->SelectedButton(), QString("PopUpMenuOff"));
    QCOMPARE(popup->findChild<QTabBar*>("pages")->count(), 1);
    QVERIFY2(popup->Problem().isEmpty(), qPrintable(popup->Problem()));

    // Deleting the Chapters page takes its tab away; the top menu's tab
    // then shows its first page.
    QVERIFY(w.Select(chapters));
    QCOMPARE(w.PageView(), top);
    QAction* del = nullptr;
    for (QAction* a : w.findChildren<QAction*>())
      if (a->text() == "&Delete") del = a;
    QVERIFY(del);
    del->trigger();
    QVERIFY2(prompt.messages.empty(), prompt.messages.empty() ? "" : prompt.messages[0].c_str());
    QCOMPARE(pages->count(), 2);
    QCOMPARE(pages->tabText(1), QString("Audio"));
    QCOMPARE(top->PagePath(), QString(kMain));
    QVERIFY(w.Undo());
    QCOMPARE(pages->count(), 3);
    QCOMPARE(pages->tabText(1), QString("Chapters"));

    // Another project closes the menus' tabs.
    QPointer<zvstudio::PageEditor> topMenu = top;
    w.NewProject();
    QCOMPARE(tabs->indexOf(topMenu.data()), -1);
    QCOMPARE(tabs->indexOf(popup.data()), -1);
    QVERIFY(!w.PageView());
  }

  // With Snap on, a dragged button's corner lands on the 8-pixel grid or on
  // another button's edge; Ctrl-click and a rubber band select several
  // buttons, which align, distribute and drag together, each one undoable
  // step with the grid in step.
  void snappingAligningAndDistributing() {
    const std::string trailer = std::string(kMain) + "/Bog#4/trailer", audio = std::string(kMain) + "/Bog#3/audio",
                      play = std::string(kMain) + "/Bog#1/play", chapters = std::string(kMain) + "/Bog#2/chapters";
    OPEN_EDITOR(project_, QString::fromStdString(trailer));
    QVERIFY(ShowHalfSize(w, *editor));
    QWidget* canvas = editor->Canvas();
    auto drag = [&](QPoint pageFrom, QPoint by, Qt::KeyboardModifiers mods = {}) {
      const QPoint from = editor->ToCanvas(pageFrom.x(), pageFrom.y());
      const QPoint to = editor->ToCanvas(pageFrom.x() + by.x(), pageFrom.y() + by.y());
      QTest::mousePress(canvas, Qt::LeftButton, mods, from);
      QTest::mouseMove(canvas, (from + to) / 2);
      QTest::mouseMove(canvas, to);
      QTest::mouseRelease(canvas, Qt::LeftButton, mods, to);
      QCoreApplication::processEvents();
    };
    auto at = [&](const std::string& path) { return ValueOf(w.Project(), path, "x") + "," + ValueOf(w.Project(), path, "y"); };

    auto* snap = editor->findChild<QCheckBox*>("snap");
    QVERIFY(snap);
    QTest::mouseClick(snap, Qt::LeftButton, {}, QPoint(4, snap->height() / 2));
    QVERIFY(snap->isChecked());
    // By (+42, -26) to 802,794: x rounds to the grid (800), y meets the
    // bottom edge of "audio" (792).
    drag({800, 850}, {42, -26});
    QCOMPARE(at(trailer), std::string("800,792"));
    auto* x = qobject_cast<QSpinBox*>(w.Editor("x"));
    QVERIFY(x);
    QCOMPARE(x->value(), 800);
    QVERIFY(w.Undo());
    QCOMPARE(at(trailer), std::string("760,820"));
    // Without snapping the drag keeps the exact distance.
    QTest::mouseClick(snap, Qt::LeftButton, {}, QPoint(4, snap->height() / 2));
    QVERIFY(!snap->isChecked());
    QCOMPARE(editor->SelectedButtons(), QStringList{"trailer"});
    drag({800, 850}, {42, -26});
    QCOMPARE(QString::fromStdString(at(trailer)), QString("802,794"));
    QVERIFY(w.Undo());

    // "trailer" 30 pixels right, then "audio" and "trailer" selected.
    for (int i = 0; i < 3; ++i) QTest::keyClick(canvas, Qt::Key_Right, Qt::ShiftModifier);
    QCOMPARE(at(trailer), std::string("790,820"));
    QTest::mouseClick(canvas, Qt::LeftButton, {}, editor->ToCanvas(780, 740));
    QTest::mouseClick(canvas, Qt::LeftButton, Qt::ControlModifier, editor->ToCanvas(900, 840));
    QCOMPARE(editor->SelectedButtons(), (QStringList{"audio", "trailer"}));
    const std::pair<const char*, std::pair<const char*, const char*>> aligns[] = {
        {"alignRight", {"790,720", "790,820"}},
        {"alignLeft", {"760,720", "760,820"}},
        {"alignCentreH", {"775,720", "775,820"}},
        {"alignTop", {"760,720", "790,720"}},
        {"alignBottom", {"760,820", "790,820"}},
        {"alignCentreV", {"760,770", "790,770"}}};
    for (const auto& [name, want] : aligns) {
      auto* b = editor->findChild<QAbstractButton*>(name);
      QVERIFY(b);
      b->click();
      QCOMPARE(at(audio), std::string(want.first));
      QCOMPARE(at(trailer), std::string(want.second));
      // One step back restores both.
      QVERIFY(w.Undo());
      QCOMPARE(at(audio), std::string("760,720"));
      QCOMPARE(at(trailer), std::string("790,820"));
    }
    for (int i = 0; i < 3; ++i) QVERIFY(w.Undo());
    QVERIFY(!w.IsModified());

    // "audio" 50 down, then a rubber band over the four buttons; spread
    // down, "audio" is back in the middle, the outer ones stay.
    QTest::mouseClick(canvas, Qt::LeftButton, {}, editor->ToCanvas(780, 740));
    for (int i = 0; i < 5; ++i) QTest::keyClick(canvas, Qt::Key_Down, Qt::ShiftModifier);
    QCOMPARE(at(audio), std::string("760,770"));
    drag({700, 500}, {550, 400});
    QCOMPARE(editor->SelectedButtons().size(), 4);
    editor->findChild<QAbstractButton*>("distributeV")->click();
    QCOMPARE(at(play), std::string("760,520"));
    QCOMPARE(at(chapters), std::string("760,620"));
    QCOMPARE(at(audio), std::string("760,720"));
    QCOMPARE(at(trailer), std::string("760,820"));
    // Dragging one of the selection moves all four.
    drag({800, 540}, {20, 0});
    for (const std::string& b : {play, chapters, audio, trailer}) QCOMPARE(ValueOf(w.Project(), b, "x"), std::string("780"));
    QVERIFY(w.Undo());
    for (const std::string& b : {play, chapters, audio, trailer}) QCOMPARE(ValueOf(w.Project(), b, "x"), std::string("760"));
    QVERIFY(w.Undo());
    QCOMPARE(at(audio), std::string("760,770"));
    QVERIFY2(prompt.messages.empty(), prompt.messages.empty() ? "" : prompt.messages[0].c_str());
  }

  // Selected buttons grouped into one BOG (the groups they leave empty go),
  // where they may overlap; a picture dropped on a button becomes its
  // picture in the state shown. Undo restores each.
  void groupingAndNewPictures() {
    OPEN_EDITOR(project_, kMain);
    QVERIFY(ShowHalfSize(w, *editor));
    QWidget* canvas = editor->Canvas();
    QTest::mouseClick(canvas, Qt::LeftButton, {}, editor->ToCanvas(780, 740));
    QTest::mouseClick(canvas, Qt::LeftButton, Qt::ShiftModifier, editor->ToCanvas(900, 840));
    editor->findChild<QAbstractButton*>("group")->click();
    QVERIFY2(prompt.messages.empty(), prompt.messages.empty() ? "" : prompt.messages[0].c_str());
    const std::string bog = std::string(kMain) + "/Bog#5";
    QCOMPARE(ValueOf(w.Project(), bog + "/audio", "x"), std::string("760"));
    QCOMPARE(ValueOf(w.Project(), bog + "/trailer", "y"), std::string("820"));
    QVERIFY(ValueOf(w.Project(), std::string(kMain) + "/Bog#3/audio", "x").rfind("(", 0) == 0);
    QVERIFY(ValueOf(w.Project(), std::string(kMain) + "/Bog#4", "name").rfind("(", 0) == 0);
    // In one BOG, "trailer" over "audio" is no overlap: one shows at a time.
    QTest::mouseClick(canvas, Qt::LeftButton, {}, editor->ToCanvas(900, 840));
    QCOMPARE(editor->SelectedButtons(), QStringList{"trailer"});
    const QPoint from = editor->ToCanvas(900, 840), to = editor->ToCanvas(900, 790);
    QTest::mousePress(canvas, Qt::LeftButton, {}, from);
    QTest::mouseMove(canvas, to);
    QTest::mouseRelease(canvas, Qt::LeftButton, {}, to);
    QCOMPARE(ValueOf(w.Project(), bog + "/trailer", "y"), std::string("770"));
    QVERIFY2(editor->Overlaps().isEmpty(), qPrintable(editor->Overlaps().join("; ")));
    QVERIFY2(editor->Problem().isEmpty(), qPrintable(editor->Problem()));
    QVERIFY(w.Undo());
    QVERIFY(w.Undo());
    QCOMPARE(ValueOf(w.Project(), std::string(kMain) + "/Bog#3/audio", "x"), std::string("760"));
    QVERIFY(ValueOf(w.Project(), bog, "name").rfind("(", 0) == 0);
    QVERIFY(!w.IsModified());

    // A picture dropped on "play", selected and shown selected.
    const std::string play = std::string(kMain) + "/Bog#1/play";
    const std::string file = dir_.Path() + "/picture.png";
    std::filesystem::copy_file(dir_.Path() + "/demo/media/menu/back_s.png", file,
                               std::filesystem::copy_options::overwrite_existing);
    QTest::mouseClick(canvas, Qt::LeftButton, {}, editor->ToCanvas(780, 540));
    editor->SetState(1);
    const QColor before = editor->PageImage().pixelColor(760 + 200, 520 + 36);
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(file))});
    const QPoint on = editor->ToCanvas(900, 550);
    QDragEnterEvent enter(on, Qt::CopyAction, &mime, Qt::LeftButton, {});
    QCoreApplication::sendEvent(canvas, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(on), Qt::CopyAction, &mime, Qt::LeftButton, {});
    QCoreApplication::sendEvent(canvas, &drop);
    QVERIFY(drop.isAccepted());
    QVERIFY2(prompt.messages.empty(), prompt.messages.empty() ? "" : prompt.messages[0].c_str());
    QCOMPARE(ValueOf(w.Project(), play, "selected"), std::string("picture.png"));
    QCOMPARE(ValueOf(w.Project(), play, "normal"), std::string("play_n.png"));
    QCOMPARE(editor->SelectedButton(), QString("play"));
    QVERIFY(editor->PageImage().pixelColor(760 + 200, 520 + 36) != before);
    QVERIFY(w.Undo());
    QCOMPARE(ValueOf(w.Project(), play, "selected"), std::string("play_s.png"));
    QCOMPARE(editor->PageImage().pixelColor(760 + 200, 520 + 36), before);

    // "Picture..." asks for the file of the state shown.
    editor->SetState(2);
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      QVERIFY(dialog);
      dialog->selectFile(QString::fromStdString(file));
      static_cast<QDialog*>(dialog)->accept();
    });
    editor->findChild<QAbstractButton*>("picture")->click();
    QVERIFY2(prompt.messages.empty(), prompt.messages.empty() ? "" : prompt.messages[0].c_str());
    QCOMPARE(ValueOf(w.Project(), play, "activated"), std::string("picture.png"));
    QCOMPARE(ValueOf(w.Project(), play, "selected"), std::string("play_s.png"));
    QVERIFY(w.Undo());
    QCOMPARE(ValueOf(w.Project(), play, "activated"), std::string("play_a.png"));
  }

  // A button whose state runs from one picture to another animates through
  // the pictures between; the frame switch steps through them.
  void animationFramesAreSteppedThrough() {
    const std::string animated = dir_.Path() + "/animated.zvpj";
    const std::string play = std::string(kMain) + "/Bog#1/play", chapters = std::string(kMain) + "/Bog#2/chapters";
    {
      OPEN_WINDOW(project_);
      QVERIFY(w.SaveTo(QString::fromStdString(animated)));
    }
    // play_s, play_a, chapters_n, chapters_s.
    const zvtest::RunResult r = zvtest::Run({ZV_BINARY, "set", animated, play, "selected=play_s.png,chapters_s.png"});
    QVERIFY2(r.status == 0, r.err.c_str());
    OPEN_EDITOR(animated, QString::fromStdString(chapters));
    editor->SetState(1);
    auto* frame = editor->findChild<QSpinBox*>("frame");
    QVERIFY(frame);
    QCOMPARE(editor->FrameCount(), 1);
    QVERIFY(!frame->isEnabled());
    const QImage chaptersSelected = editor->PageImage().copy(760, 620, 400, 72);
    QVERIFY(w.Select(QString::fromStdString(play)));
    QCOMPARE(editor->FrameCount(), 4);
    QVERIFY(frame->isEnabled());
    QCOMPARE(frame->maximum(), 3);
    const QImage first = editor->PageImage().copy(760, 520, 400, 72);
    QVERIFY(first != chaptersSelected);
    for (int i = 0; i < 3; ++i) QTest::keyClick(frame, Qt::Key_Up);
    QCOMPARE(frame->value(), 3);
    // The last frame is "chapters_s" where "play" is.
    QCOMPARE(editor->PageImage().copy(760, 520, 400, 72), chaptersSelected);
    QTest::keyClick(frame, Qt::Key_Down);
    QVERIFY(editor->PageImage().copy(760, 520, 400, 72) != chaptersSelected);
    frame->setValue(0);
    QCOMPARE(editor->PageImage().copy(760, 520, 400, 72), first);
  }

  // A picture file that is gone is named on the page, and so are the
  // compiler's warnings about the page shown (the demo's Audio page has its
  // pictures decoded after the menu shows), not those of other pages.
  void warningsOnThePage() {
    OPEN_EDITOR(project_, kMain);
    QVERIFY2(editor->Warnings().isEmpty(), qPrintable(editor->Warnings().join("; ")));
    const std::string file = dir_.Path() + "/gone.png";
    std::filesystem::copy_file(dir_.Path() + "/demo/media/menu/back_n.png", file,
                               std::filesystem::copy_options::overwrite_existing);
    QVERIFY(editor->SetPicture("play", 0, QString::fromStdString(file)));
    QCOMPARE(editor->Warnings(), QStringList());
    std::filesystem::remove(file);
    QVERIFY(w.Select(QString::fromStdString(std::string(kMain) + "/Bog#1/play")));
    QTest::keyClick(editor->Canvas(), Qt::Key_Right);
    QCOMPARE(editor->Warnings(),
             QStringList{QString::fromStdString("play: the normal picture \"" + file + "\" is missing")});
    auto* status = editor->findChild<QLabel*>("status");
    QVERIFY(status);
    QVERIFY(status->text().contains("gone.png\" is missing"));

    QVERIFY(w.Select("Top Menu/IG#1/Epoch#1/DisplaySet#1/Audio"));
    QCOMPARE(w.PageView(), editor);
    const QStringList audio = editor->Warnings();
    QCOMPARE(audio.size(), 1);
    QVERIFY2(audio[0].startsWith("Page \"Audio\": its pictures are decoded "), qPrintable(audio[0]));
    QVERIFY(status->text().contains(audio[0]));
    QVERIFY(w.Select("Top Menu/IG#1/Epoch#1/DisplaySet#1/Chapters"));
    QVERIFY2(editor->Warnings().isEmpty(), qPrintable(editor->Warnings().join("; ")));
  }

  // A colour chosen in the grid's "BG Color" row lies under the page at
  // once. (Last: it changes the settings file the other cases read.)
  void aNewBgColorRedrawsThePage() {
    OPEN_EDITOR(project_, kMain);
    QCOMPARE(editor->PageImage().pixelColor(10, 10), QColor(0x80, 0x80, 0x00));
    auto* pick = qobject_cast<QPushButton*>(w.Editor("BG Color"));
    QVERIFY(pick);
    QTimer::singleShot(0, [] {
      auto* dialog = qobject_cast<QColorDialog*>(QApplication::activeModalWidget());
      QVERIFY(dialog);
      dialog->setCurrentColor(QColor(0x12, 0x34, 0x56));
      dialog->accept();
    });
    pick->click();
    QCOMPARE(editor->PageImage().pixelColor(10, 10), QColor(0x12, 0x34, 0x56));
  }

 private:
  zvtest::TempDir config_;
  zvtest::TempDir dir_;
  std::string project_;
};

QTEST_MAIN(PageEditorTest)
#include "page_editor_test.moc"
