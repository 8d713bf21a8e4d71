#include "studio/menu_tabs.h"

#include <QTabWidget>

#include "edit/properties.h"

namespace zvstudio {

MenuTabs::MenuTabs(QTabWidget& tabs, zv::CZvObject& project, EditPage edit, std::function<void(const QString&)> select)
    : QObject(&tabs), tabs_(tabs), project_(project), edit_(std::move(edit)), select_(std::move(select)) {}

PageEditor* MenuTabs::ShowFor(const QString& path) {
  // The menu is the shortest prefix of the path that names one.
  zvedit::Target t;
  std::string error;
  const QStringList parts = path.split('/');
  QString menu;
  for (int n = 1; n <= parts.size() && menu.isEmpty(); ++n) {
    const QString prefix = parts.mid(0, n).join('/');
    if (zvedit::FindTarget(project_, prefix.toStdString(), t, error) && !t.isTrack &&
        dynamic_cast<zv::CMenuIgObject*>(t.object))
      menu = prefix;
  }
  if (menu.isEmpty()) return nullptr;
  PageEditor*& editor = editors_[menu];
  const bool made = !editor;
  if (made) {
    editor = new PageEditor(project_, edit_, &tabs_);
    editor->SetBackground(background_);
    connect(editor, &PageEditor::PageChosen, this, [this](const QString& page) {
      if (select_) select_(page);
    });
  }
  if (!editor->ShowFor(path)) {
    if (made) {
      delete editor;
      editors_.erase(menu);
    }
    return nullptr;
  }
  if (made) tabs_.addTab(editor, "Menu " + menu);
  tabs_.setCurrentWidget(editor);
  current_ = editor;
  return editor;
}

void MenuTabs::Refresh() {
  for (auto it = editors_.begin(); it != editors_.end();) {
    zvedit::Target t;
    std::string error;
    PageEditor* editor = it->second;
    const bool menuThere = zvedit::FindTarget(project_, it->first.toStdString(), t, error) && !t.isTrack &&
                           dynamic_cast<zv::CMenuIgObject*>(t.object);
    if (menuThere && zvedit::FindTarget(project_, editor->PagePath().toStdString(), t, error)) {
      editor->Refresh();
      ++it;
      continue;
    }
    if (menuThere) {
      // Its page went: the menu's first page, if any is left.
      if (editor->ShowFor(it->first)) {
        ++it;
        continue;
      }
    }
    if (current_ == editor) current_ = nullptr;
    tabs_.removeTab(tabs_.indexOf(editor));
    editor->deleteLater();
    it = editors_.erase(it);
  }
}

void MenuTabs::CloseAll() {
  for (auto& [path, editor] : editors_) {
    tabs_.removeTab(tabs_.indexOf(editor));
    editor->deleteLater();
  }
  editors_.clear();
  current_ = nullptr;
}

void MenuTabs::SetBackground(QRgb rgb) {
  background_ = rgb;
  for (auto& [path, editor] : editors_) editor->SetBackground(rgb);
}

}  // namespace zvstudio
