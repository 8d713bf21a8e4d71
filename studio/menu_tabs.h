// A page-editor tab for each menu the user opened, each with its pages as
// tabs of its own. Tabs of menus that are gone (deleted, renamed, undone)
// close on the next refresh.
#pragma once

#include <QObject>
#include <QRgb>
#include <QString>
#include <functional>
#include <map>

#include "studio/page_editor.h"

class QTabWidget;

namespace zvstudio {

class MenuTabs : public QObject {
  Q_OBJECT
 public:
  // `select` shows an object of the project in the window (a page tab
  // chosen in an editor).
  MenuTabs(QTabWidget& tabs, zv::CZvObject& project, EditPage edit, std::function<void(const QString&)> select);

  // Opens (or brings forward) the tab of the menu `path` lies in and shows
  // its page; null when `path` is not part of a menu page.
  PageEditor* ShowFor(const QString& path);
  // The editor last shown; null before any.
  PageEditor* Current() const { return current_; }
  void Refresh();
  // Closes every menu's tab (another project was opened or made).
  void CloseAll();
  void SetBackground(QRgb rgb);

 private:
  QTabWidget& tabs_;
  zv::CZvObject& project_;
  EditPage edit_;
  std::function<void(const QString&)> select_;
  std::map<QString, PageEditor*> editors_;  // by menu path
  PageEditor* current_ = nullptr;
  QRgb background_ = qRgb(0x80, 0x80, 0x00);
};

}  // namespace zvstudio
