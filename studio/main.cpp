// zelvane-studio: the desktop shell.
//   zelvane-studio [PROJECT]
//   zelvane-studio --version
//   zelvane-studio --screenshot OUT.png [PROJECT] [--select OBJECT]
#include <QApplication>
#include <QPixmap>
#include <cstdio>
#include <cstring>
#include <string>

#include "studio/main_window.h"

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("zelvane-studio %s\n", ZV_VERSION);
      return 0;
    }
  QApplication app(argc, argv);
  QApplication::setApplicationName("Zelvane Studio");
  QString screenshot, project, select;
  const QStringList args = QApplication::arguments();
  for (int i = 1; i < args.size(); ++i) {
    if (args[i] == "--screenshot" && i + 1 < args.size()) screenshot = args[++i];
    else if (args[i] == "--select" && i + 1 < args.size()) select = args[++i];
    else if (args[i].startsWith("--")) {
      std::fprintf(stderr, "usage: zelvane-studio [PROJECT] | --version | --screenshot OUT.png [PROJECT] [--select OBJECT]\n");
      return 64;
    } else project = args[i];
  }
  zvstudio::MainWindow window;
  if (!project.isEmpty() && !window.OpenFile(project)) return 2;
  if (!select.isEmpty() && !window.Select(select)) {
    std::fprintf(stderr, "zelvane-studio: no object \"%s\" in the project\n", select.toUtf8().constData());
    return 2;
  }
  window.show();
  if (!screenshot.isEmpty()) {
    QApplication::processEvents();
    if (!window.grab().save(screenshot)) {
      std::fprintf(stderr, "zelvane-studio: cannot write \"%s\"\n", screenshot.toUtf8().constData());
      return 2;
    }
    return 0;
  }
  return QApplication::exec();
}
