// The page editor's arranging of buttons: snapping while dragging, align,
// distribute, grouping into a BOG, new pictures for a button, the page tabs
// and the missing-picture warnings.
#include <QCheckBox>
#include <QTabBar>
#include <algorithm>
#include <climits>
#include <filesystem>

#include "edit/commands.h"
#include "edit/properties.h"
#include "studio/page_editor.h"

namespace zvstudio {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// The shift within `reach` that puts one of `edges` onto one of `targets`;
// INT_MAX when none is near.
int NearestShift(std::initializer_list<int> edges, const std::vector<int>& targets, int reach) {
  int best = INT_MAX;
  for (int e : edges)
    for (int t : targets)
      if (std::abs(t - e) <= reach && std::abs(t - e) < std::abs(best)) best = t - e;
  return best;
}

const char* const kStateKey[3] = {"normal", "selected", "activated"};

}  // namespace

void PageEditor::RefreshPageTabs() {
  QStringList paths;
  QStringList labels;
  zv::CPage* page = FindPage();
  zv::CMenuIgObject* menu = nullptr;
  for (zv::CNamedObject* o = page; o && !menu; o = o->m_pParent) menu = dynamic_cast<zv::CMenuIgObject*>(o);
  const QString menuPath = MenuPath();
  if (menu && menu->GetCount() > 0 && menu->GetAt(0)->GetCount() > 0) {
    const zv::CEpoch& epoch = *menu->GetAt(0);
    const zv::CDisplaySet& ds = *epoch.GetAt(0);
    for (size_t i = 0; i < ds.GetCount(); ++i) {
      paths << menuPath + "/" + Q(epoch.m_strName) + "/" + Q(ds.m_strName) + "/" + Q(ds.GetAt(i)->m_strName);
      labels << Q(ds.GetAt(i)->m_strName);
    }
  }
  // A page of a later display set is shown too, by its path.
  if (!pagePath_.isEmpty() && !paths.contains(pagePath_)) {
    paths << pagePath_;
    labels << pagePath_.mid(menuPath.size() + 1);
  }
  fillingTabs_ = true;
  if (PagePaths() != paths || [&] {
        for (int i = 0; i < pages_->count(); ++i)
          if (pages_->tabText(i) != labels[i]) return true;
        return false;
      }()) {
    while (pages_->count() > 0) pages_->removeTab(0);
    for (int i = 0; i < paths.size(); ++i) pages_->setTabData(pages_->addTab(labels[i]), paths[i]);
  }
  pages_->setCurrentIndex(static_cast<int>(paths.indexOf(pagePath_)));
  fillingTabs_ = false;
}

void PageEditor::FindMissingPictures(const zv::CPage& page) {
  for (size_t g = 0; g < page.GetCount(); ++g) {
    const zv::CBog& bog = *page.GetAt(g);
    for (size_t i = 0; i < bog.GetCount(); ++i) {
      const zv::CBdButton& b = *bog.GetAt(i);
      bool any = false;
      for (int s = 0; s < 3; ++s)
        for (const zv::CGraphicObject* gr : {b.m_states[s].m_start.p, b.m_states[s].m_end.p}) {
          if (!gr) continue;
          any = true;
          std::error_code ec;
          if (!gr->m_picture && !gr->m_strPath.empty() && !std::filesystem::is_regular_file(gr->m_strPath, ec))
            warnings_ << Q(b.m_strName) + ": the " + kStateKey[s] + " picture \"" + Q(gr->m_strPath) + "\" is missing";
        }
      if (!any) warnings_ << Q(b.m_strName) + " has no picture in any state: it is invisible";
    }
  }
  warnings_.removeDuplicates();
}

QPoint PageEditor::Snapped(QPoint offset) const {
  if (!snap_->isChecked()) return offset;
  // The box around the selection, moved.
  QRect moving;
  std::vector<int> xs, ys;
  for (const SButtonBox& b : boxes_)
    if (selection_.contains(b.name)) {
      moving = moving.united(b.rect);
    } else {
      xs.insert(xs.end(), {b.rect.left(), b.rect.left() + b.rect.width()});
      ys.insert(ys.end(), {b.rect.top(), b.rect.top() + b.rect.height()});
    }
  if (moving.isNull()) return offset;
  moving.translate(offset);
  auto snap = [](int at, int shift) {
    if (shift != INT_MAX) return at + shift;
    // The grid, rounding half away from the left or top.
    return static_cast<int>(std::floor((at + kGrid / 2.0) / kGrid)) * kGrid;
  };
  const int x = snap(moving.left(),
                     NearestShift({moving.left(), moving.left() + moving.width()}, xs, kSnapReach));
  const int y = snap(moving.top(), NearestShift({moving.top(), moving.top() + moving.height()}, ys, kSnapReach));
  return offset + QPoint(x - moving.left(), y - moving.top());
}

bool PageEditor::PlaceButtons(const std::vector<std::pair<SButtonBox, QPoint>>& places) {
  if (places.empty()) return false;
  std::string select;
  for (const auto& [b, at] : places)
    if (b.name == selected_ || select.empty()) select = (b.bogPath + "/" + b.name).toStdString();
  const bool ok = edit_(
      [&](std::string& error) {
        for (const auto& [b, at] : places) {
          const std::string path = (b.bogPath + "/" + b.name).toStdString();
          zvedit::Target t;
          if (!zvedit::FindTarget(project_, path, t, error)) return false;
          for (const auto& [key, value] : {std::pair<const char*, int>{"x", at.x()}, {"y", at.y()}})
            if (!zvedit::ApplyProperty(project_, t, key, std::to_string(std::clamp(value, 0, 0xFFFF)), error))
              return error = "\"" + path + "\": " + error, false;
        }
        return true;
      },
      select);
  Refresh();
  return ok;
}

bool PageEditor::AlignSelected(Align how) {
  std::vector<const SButtonBox*> sel;
  QRect all;
  for (const SButtonBox& b : boxes_)
    if (selection_.contains(b.name)) sel.push_back(&b), all = all.united(b.rect);
  if (sel.size() < 2) return false;
  std::vector<std::pair<SButtonBox, QPoint>> places;
  const int right = all.left() + all.width(), bottom = all.top() + all.height();
  for (const SButtonBox* b : sel) {
    QPoint at = b->rect.topLeft();
    const int w = b->rect.width(), h = b->rect.height();
    switch (how) {
      case Align::kLeft: at.setX(all.left()); break;
      case Align::kRight: at.setX(right - w); break;
      case Align::kTop: at.setY(all.top()); break;
      case Align::kBottom: at.setY(bottom - h); break;
      case Align::kCentreH: at.setX(all.left() + (all.width() - w) / 2); break;
      case Align::kCentreV: at.setY(all.top() + (all.height() - h) / 2); break;
    }
    if (at != b->rect.topLeft()) places.emplace_back(*b, at);
  }
  return places.empty() ? true : PlaceButtons(places);
}

bool PageEditor::DistributeSelected(bool horizontally) {
  std::vector<const SButtonBox*> sel;
  for (const SButtonBox& b : boxes_)
    if (selection_.contains(b.name)) sel.push_back(&b);
  if (sel.size() < 3) return false;
  auto start = [&](const SButtonBox* b) { return horizontally ? b->rect.left() : b->rect.top(); };
  auto size = [&](const SButtonBox* b) { return horizontally ? b->rect.width() : b->rect.height(); };
  std::stable_sort(sel.begin(), sel.end(), [&](auto* a, auto* b) { return start(a) < start(b); });
  int used = 0, end = INT_MIN;
  for (const SButtonBox* b : sel) used += size(b), end = std::max(end, start(b) + size(b));
  // The gaps share what is left between the outermost buttons; the first
  // ones take the odd pixels.
  const int n = static_cast<int>(sel.size()) - 1;
  const int room = end - start(sel.front()) - used;
  std::vector<std::pair<SButtonBox, QPoint>> places;
  int at = start(sel.front());
  for (int i = 0; i <= n; ++i) {
    const SButtonBox* b = sel[static_cast<size_t>(i)];
    const QPoint to = horizontally ? QPoint(at, b->rect.top()) : QPoint(b->rect.left(), at);
    if (to != b->rect.topLeft()) places.emplace_back(*b, to);
    at += size(b) + room / n + (i < ((room % n) + n) % n ? 1 : 0);
  }
  return places.empty() ? true : PlaceButtons(places);
}

bool PageEditor::GroupSelected() {
  if (selection_.isEmpty()) return false;
  const std::string page = pagePath_.toStdString();
  std::vector<std::string> names;
  for (const SButtonBox& b : boxes_)
    if (selection_.contains(b.name)) names.push_back(b.name.toStdString());
  std::string made;
  const bool ok = edit_(
      [&](std::string& error) {
        zvedit::Target t;
        if (!zvedit::FindTarget(project_, page, t, error)) return false;
        auto* pg = dynamic_cast<zv::CPage*>(t.object);
        if (!pg) return error = "\"" + page + "\" is not a page", false;
        std::vector<zv::CBdButton*> buttons;
        for (const std::string& n : names)
          if (zv::CBdButton* b = pg->FindButton(n)) buttons.push_back(b);
        if (buttons.empty()) return error = "no button of \"" + page + "\" is selected", false;
        // Room first: a refusal must leave the page as it was.
        if (buttons.size() > 255) return error = "a BOG holds at most 255 buttons", false;
        zv::CBog* bog = zvedit::AddBog(*pg, page, error);
        if (!bog) return false;
        std::vector<zv::CBog*> emptied;
        for (zv::CBdButton* b : buttons) {
          zv::CBog* from = pg->BogOf(b);
          if (from->GetCount() == 1) emptied.push_back(from);
          std::unique_ptr<zv::CBdButton> owned = from->RemoveAt(static_cast<size_t>(from->IndexOf(b)));
          if (from->m_defaultButton.p == b) {
            from->m_defaultButton.Clear();
            if (from->GetCount() > 0) from->m_defaultButton.Set(from->GetAt(0));
          }
          bog->Add(std::move(owned));
        }
        bog->m_defaultButton.Set(buttons.front());
        // The groups the buttons left empty go; no reference leads to a BOG.
        for (zv::CBog* g : emptied) pg->RemoveAt(static_cast<size_t>(pg->IndexOf(g)));
        made = page + "/" + bog->m_strName + "/" + buttons.front()->m_strName;
        return true;
      },
      made);
  Refresh();
  return ok;
}

bool PageEditor::SetPicture(const QString& name, int state, const QString& file) {
  const SButtonBox* b = BoxOf(name);
  if (!b || state < 0 || state > 2) return false;
  const std::string path = (b->bogPath + "/" + b->name).toStdString();
  const std::string menu = MenuPath().toStdString();
  const bool ok = edit_(
      [&](std::string& error) {
        zvedit::Target m, t;
        if (!zvedit::FindTarget(project_, menu, m, error) || !zvedit::FindTarget(project_, path, t, error))
          return false;
        zv::CGraphicObject* g = zvedit::AddGraphic(*m.object, menu, file.toStdString(), error);
        if (!g) return false;
        if (!zvedit::ApplyProperty(project_, t, kStateKey[state], g->m_strName, error))
          return error = "\"" + path + "\": " + error, false;
        return true;
      },
      path);
  Refresh();
  return ok;
}

}  // namespace zvstudio
