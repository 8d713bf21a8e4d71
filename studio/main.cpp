// zelvane-studio: the desktop shell.
//   zelvane-studio [PROJECT]
//   zelvane-studio --version
//   zelvane-studio --screenshot OUT.png [PROJECT] [--select OBJECT] [--size WxH]
//                  [--preview DISC [--keys KEY,...]]
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPixmap>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <string>

#include "studio/main_window.h"
#include "studio/menu_preview.h"
#include "studio/page_editor.h"

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("zelvane-studio %s\n", ZV_VERSION);
      return 0;
    }
  QApplication app(argc, argv);
  QApplication::setApplicationName("Zelvane Studio");
  QString screenshot, project, select, size, preview;
  QStringList keys;
  const QStringList args = QApplication::arguments();
  for (int i = 1; i < args.size(); ++i) {
    if (args[i] == "--screenshot" && i + 1 < args.size()) screenshot = args[++i];
    else if (args[i] == "--select" && i + 1 < args.size()) select = args[++i];
    else if (args[i] == "--size" && i + 1 < args.size()) size = args[++i];
    else if (args[i] == "--preview" && i + 1 < args.size()) preview = args[++i];
    else if (args[i] == "--keys" && i + 1 < args.size()) keys = args[++i].split(',', Qt::SkipEmptyParts);
    else if (args[i].startsWith("--")) {
      std::fprintf(stderr,
                   "usage: zelvane-studio [PROJECT] | --version | --screenshot OUT.png [PROJECT] [--select OBJECT] "
                   "[--size WxH] [--preview DISC [--keys KEY,...]]\n");
      return 64;
    } else project = args[i];
  }
  int width = 0, height = 0;
  if (!size.isEmpty()) {
    const QStringList wh = size.split('x');
    bool okW = false, okH = false;
    if (wh.size() == 2) width = wh[0].toInt(&okW), height = wh[1].toInt(&okH);
    if (!okW || !okH || width < 200 || height < 200 || width > 8192 || height > 8192) {
      std::fprintf(stderr, "zelvane-studio: \"%s\" is not a window size such as 1280x800\n", size.toUtf8().constData());
      return 64;
    }
  }
  if ((!preview.isEmpty() || !keys.isEmpty() || width > 0) && screenshot.isEmpty()) {
    std::fprintf(stderr, "zelvane-studio: --size, --preview and --keys go with --screenshot\n");
    return 64;
  }
  zvstudio::MainWindow window;
  if (!project.isEmpty() && !window.OpenFile(project)) return 2;
  if (!select.isEmpty() && !window.Select(select)) {
    std::fprintf(stderr, "zelvane-studio: no object \"%s\" in the project\n", select.toUtf8().constData());
    return 2;
  }
  if (width > 0) window.resize(width, height);
  window.show();
  if (!screenshot.isEmpty()) {
    QApplication::processEvents();
    // The page is shown once the worker compiled its menu.
    if (zvstudio::PageEditor* editor = window.PageView(); editor && editor->Compiling()) {
      QEventLoop wait;
      QObject::connect(editor, &zvstudio::PageEditor::Compiled, &wait, &QEventLoop::quit);
      QTimer::singleShot(60000, &wait, &QEventLoop::quit);
      wait.exec();
    }
    QWidget* shot = &window;
    if (!preview.isEmpty()) {
      QString error;
      shot = zvstudio::OpenPreviewWindow(&window, preview, error, zvstudio::TitleNames(window.Project()),
                                         zvstudio::PreviewMenus(window.Project()));
      if (!shot) {
        std::fprintf(stderr, "zelvane-studio: %s\n", error.toUtf8().constData());
        return 2;
      }
      if (width > 0) shot->resize(width, height);
      auto* player = shot->findChild<zvstudio::MenuPreview*>();
      for (const QString& key : keys)
        if (!player->Press(key)) {
          std::fprintf(stderr, "zelvane-studio: \"%s\" is not a key of the preview\n", key.toUtf8().constData());
          return 64;
        }
      // The player runs on in real time after the keys.
      QElapsedTimer clock;
      clock.start();
      while (clock.elapsed() < 500) QApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    if (!shot->grab().save(screenshot)) {
      std::fprintf(stderr, "zelvane-studio: cannot write \"%s\"\n", screenshot.toUtf8().constData());
      return 2;
    }
    return 0;
  }
  return QApplication::exec();
}
