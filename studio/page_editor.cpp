#include "studio/page_editor.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QKeyEvent>
#include <QMimeData>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QPainter>
#include <QPainterPath>
#include <QSpinBox>
#include <QTabBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>
#include <QFutureWatcher>
#include <algorithm>
#include <cmath>
#include <filesystem>

#include "edit/commands.h"
#include "edit/properties.h"
#include "graphics/page_reach.h"
#include "media/first_frame.h"
#include "model/button_types.h"
#include "model/menu_render.h"
#include "model/story.h"
#include "graphics/effects.h"

namespace zvstudio {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

const char* RefName(const zv::CNamedObject* o) { return o ? o->m_strName.c_str() : "-"; }

bool compileInBackground = true;

// The compiler's warnings (decoding time, pictures late), shown on the page.
zv::Progress CollectWarnings(QStringList& into) {
  return zv::Progress{[](void* ctx, const zv::SProgressInfo* info) {
                        if (info->kind == zv::kProgressItem && info->item.find(" Warning:") != std::string::npos)
                          *static_cast<QStringList*>(ctx) << Q(info->item).trimmed();
                        return 1;
                      },
                      &into};
}

}  // namespace

// The project as stored, so that the worker compiles its own copy while
// the window edits on; pictures held only in memory (a layered design's)
// go beside it, as the stored project does not keep them.
struct PageEditor::SCompileJob {
  uint64_t generation = 0;
  std::vector<uint8_t> project;
  std::string menuPath;
  zv::SVideoDescriptor video;  // the format the drawing borrows
  std::vector<std::pair<std::pair<size_t, size_t>, zv::CPicture>> pictures;  // by (epoch, graphic)
};

void PageEditor::SetCompileInBackground(bool on) { compileInBackground = on; }

// The drawing surface: the page scaled to fit, the marks over it, and the
// mouse and keys that select and move buttons.
class PageCanvas : public QWidget {
 public:
  explicit PageCanvas(PageEditor& editor) : QWidget(&editor), editor_(editor) {
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(320, 180);
    setAcceptDrops(true);
  }

  QPoint ToPage(QPointF w) const {
    const QPointF d = (w - Origin()) / Scale();
    return QPoint(static_cast<int>(std::lround(d.x())), static_cast<int>(std::lround(d.y())));
  }

  double Scale() const {
    const QImage& img = editor_.image_;
    if (img.isNull()) return 1.0;
    return std::min(width() / double(img.width()), height() / double(img.height()));
  }
  QPointF Origin() const {
    const QImage& img = editor_.image_;
    const double s = Scale();
    return {(width() - img.width() * s) / 2, (height() - img.height() * s) / 2};
  }
  QPoint ToWidget(int x, int y) const {
    const QPointF o = Origin();
    const double s = Scale();
    return QPoint(static_cast<int>(std::lround(o.x() + x * s)), static_cast<int>(std::lround(o.y() + y * s)));
  }
  QRectF ToWidget(const QRect& r) const {
    const QPointF o = Origin();
    const double s = Scale();
    return {o.x() + r.x() * s, o.y() + r.y() * s, r.width() * s, r.height() * s};
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), QColor(48, 48, 48));
    const QImage& img = editor_.image_;
    if (img.isNull()) return;
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(ToWidget(img.rect()), img);
    p.setRenderHint(QPainter::Antialiasing);
    // Neighbours: an arrow from each button towards the one a key selects.
    static const QColor kDirColour[4] = {QColor(80, 200, 255), QColor(80, 255, 120), QColor(255, 170, 60),
                                         QColor(230, 110, 255)};
    for (const auto& b : editor_.boxes_)
      for (int d = 0; d < 4; ++d) {
        if (b.neighbour[d] < 0 || b.neighbour[d] == b.id) continue;
        const PageEditor::SButtonBox* to = nullptr;
        for (const auto& o : editor_.boxes_)
          if (o.id == b.neighbour[d]) to = &o;
        if (!to) continue;
        const QRectF from = Moved(b), target = Moved(*to);
        // Leave from the side the key points to, a little apart per key.
        const QPointF c = from.center();
        const QPointF start = d == 0   ? QPointF(c.x() - 6, from.top())
                              : d == 1 ? QPointF(c.x() + 6, from.bottom())
                              : d == 2 ? QPointF(from.left(), c.y() + 4)
                                       : QPointF(from.right(), c.y() - 4);
        Arrow(p, start, target.center(), kDirColour[d]);
      }
    if (!linking_.isEmpty())
      for (const auto& b : editor_.boxes_)
        if (b.name == linking_) Arrow(p, Moved(b).center(), linkEnd_, QColor(255, 255, 255));
    for (const auto& b : editor_.boxes_) {
      const QRectF r = Moved(b);
      const bool selected = editor_.selection_.contains(b.name);
      QPen pen(b.unreachable ? QColor(255, 40, 40) : selected ? QColor(255, 230, 0) : QColor(255, 255, 255, 200));
      pen.setWidthF(selected || b.unreachable ? 2.5 : 1.0);
      if (!selected && !b.unreachable) pen.setStyle(Qt::DashLine);
      p.setPen(pen);
      p.setBrush(Qt::NoBrush);
      p.drawRect(r);
      const QString label = b.name + " (" + b.type + ")" + (b.unreachable ? "  unreachable" : "");
      // Beside the button, so that the picture stays in view.
      const QRectF text(r.right() + 4, r.center().y() - 8, p.fontMetrics().horizontalAdvance(label) + 6, 16);
      p.fillRect(text, QColor(0, 0, 0, 150));
      p.drawText(text.adjusted(3, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, label);
    }
    if (banding_) {
      p.setPen(QPen(QColor(255, 230, 0), 1, Qt::DotLine));
      p.setBrush(QColor(255, 230, 0, 40));
      p.drawRect(QRectF(press_, bandEnd_).normalized());
    }
  }

  QString HitAt(QPointF w) const {
    // The last drawn box is on top.
    QString hit;
    for (const auto& b : editor_.boxes_)
      if (ToWidget(b.rect).contains(w)) hit = b.name;
    return hit;
  }

  void mousePressEvent(QMouseEvent* e) override {
    setFocus();
    const QString hit = HitAt(e->position());
    // The right button draws a neighbour arrow from the button pressed.
    if (e->button() == Qt::RightButton) {
      linking_ = hit;
      linkEnd_ = e->position();
      return;
    }
    if (e->button() != Qt::LeftButton) return;
    press_ = e->position();
    offset_ = QPoint();
    const bool adding = e->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier);
    if (hit.isEmpty()) {
      // A rubber band from empty ground.
      if (!adding) editor_.SelectButton({});
      banding_ = true;
      bandAdds_ = adding;
      bandEnd_ = press_;
      return;
    }
    if (adding) {
      // Ctrl or Shift toggles one button in the selection.
      QStringList& sel = editor_.selection_;
      if (sel.contains(hit)) {
        sel.removeAll(hit);
        if (editor_.selected_ == hit) editor_.selected_ = sel.isEmpty() ? QString() : sel.last();
      } else {
        sel << hit;
        editor_.selected_ = hit;
      }
      editor_.Redraw();
      return;
    }
    // Pressing a button of the selection drags them all.
    if (editor_.selection_.contains(hit)) editor_.selected_ = hit;
    else editor_.SelectButton(hit);
    dragging_ = true;
  }
  void mouseMoveEvent(QMouseEvent* e) override {
    if (!linking_.isEmpty()) {
      linkEnd_ = e->position();
      update();
      return;
    }
    if (banding_) {
      bandEnd_ = e->position();
      update();
      return;
    }
    if (!dragging_) return;
    const double s = Scale();
    const QPointF d = (e->position() - press_) / s;
    offset_ = editor_.Snapped(QPoint(static_cast<int>(std::lround(d.x())), static_cast<int>(std::lround(d.y()))));
    update();
  }
  void mouseReleaseEvent(QMouseEvent* e) override {
    if (e->button() == Qt::RightButton && !linking_.isEmpty()) {
      const QString from = linking_;
      linking_.clear();
      const QString to = HitAt(e->position());
      if (!to.isEmpty() && to != from) editor_.LinkNeighbour(from, to);
      update();
      return;
    }
    if (banding_ && e->button() == Qt::LeftButton) {
      banding_ = false;
      const QRectF band = QRectF(press_, e->position()).normalized();
      QStringList& sel = editor_.selection_;
      if (!bandAdds_) sel.clear();
      for (const auto& b : editor_.boxes_)
        if (band.intersects(ToWidget(b.rect)) && !sel.contains(b.name)) sel << b.name;
      editor_.selected_ = sel.isEmpty() ? QString() : sel.last();
      editor_.Redraw();
      return;
    }
    if (!dragging_ || e->button() != Qt::LeftButton) return;
    mouseMoveEvent(e);
    dragging_ = false;
    const QPoint moved = offset_;
    offset_ = QPoint();
    if (!moved.isNull()) editor_.MoveSelected(moved.x(), moved.y());
    // A click without a drag selects that button alone.
    else if ((e->position() - press_).manhattanLength() < 3) editor_.SelectButton(HitAt(e->position()));
    update();
  }
  void dragEnterEvent(QDragEnterEvent* e) override {
    if (e->mimeData()->hasUrls()) e->acceptProposedAction();
  }
  void dragMoveEvent(QDragMoveEvent* e) override {
    if (e->mimeData()->hasUrls()) e->acceptProposedAction();
  }
  void dropEvent(QDropEvent* e) override {
    QStringList files;
    for (const QUrl& u : e->mimeData()->urls())
      if (u.isLocalFile()) files << u.toLocalFile();
    if (files.isEmpty()) return;
    e->acceptProposedAction();
    editor_.DropPictures(files, ToPage(e->position()));
  }
  void keyPressEvent(QKeyEvent* e) override {
    const int step = (e->modifiers() & Qt::ShiftModifier) ? 10 : 1;
    switch (e->key()) {
      case Qt::Key_Left: editor_.MoveSelected(-step, 0); break;
      case Qt::Key_Right: editor_.MoveSelected(step, 0); break;
      case Qt::Key_Up: editor_.MoveSelected(0, -step); break;
      case Qt::Key_Down: editor_.MoveSelected(0, step); break;
      default: QWidget::keyPressEvent(e); return;
    }
  }

 private:
  // A box where it shows: moved by the drag in progress.
  QRectF Moved(const PageEditor::SButtonBox& b) const {
    return ToWidget(dragging_ && editor_.selection_.contains(b.name) ? b.rect.translated(offset_) : b.rect);
  }
  static void Arrow(QPainter& p, QPointF from, QPointF to, const QColor& colour) {
    QPen pen(colour);
    pen.setWidthF(1.5);
    p.setPen(pen);
    p.drawLine(from, to);
    const double a = std::atan2(to.y() - from.y(), to.x() - from.x());
    QPainterPath head;
    head.moveTo(to);
    head.lineTo(to - QPointF(std::cos(a - 0.4) * 10, std::sin(a - 0.4) * 10));
    head.lineTo(to - QPointF(std::cos(a + 0.4) * 10, std::sin(a + 0.4) * 10));
    head.closeSubpath();
    p.fillPath(head, colour);
  }

  PageEditor& editor_;
  bool dragging_ = false;
  QString linking_;  // the button a neighbour arrow is drawn from
  QPointF linkEnd_;
  QPointF press_;
  QPoint offset_;
  bool banding_ = false;
  bool bandAdds_ = false;
  QPointF bandEnd_;
};

PageEditor::PageEditor(zv::CZvObject& project, EditPage edit, QWidget* parent)
    : QWidget(parent), project_(project), edit_(std::move(edit)) {
  canvas_ = new PageCanvas(*this);
  state_ = new QComboBox(this);
  state_->addItems({"Normal", "Selected", "Activated"});
  state_->setCurrentIndex(1);
  status_ = new QLabel(this);
  status_->setObjectName("status");
  compile_ = new QFutureWatcher<std::shared_ptr<SCompileResult>>(this);
  connect(compile_, &QFutureWatcherBase::finished, this, &PageEditor::CompileFinished);
  auto* top = new QHBoxLayout;
  top->addWidget(new QLabel("State of the selected button:", this));
  top->addWidget(state_);
  // An animated button's frames, one at a time.
  top->addWidget(new QLabel("Frame:", this));
  frame_ = new QSpinBox(this);
  frame_->setObjectName("frame");
  frame_->setRange(0, 0);
  frame_->setEnabled(false);
  top->addWidget(frame_);
  frames_ = new QLabel(this);
  top->addWidget(frames_);
  under_ = new QComboBox(this);
  under_->setObjectName("under");
  under_->addItems({"Over BG Color", "Over the background clip"});
  top->addWidget(under_);
  top->addStretch();
  // Neighbours computed again for the whole page, as `set ... neighbours=`.
  for (const char* mode : {"spatial", "sequential"}) {
    auto* b = new QPushButton(QString("Neighbours: ") + mode, this);
    b->setObjectName(QString(mode) + "Neighbours");
    top->addWidget(b);
    connect(b, &QPushButton::clicked, this, [this, mode] { SetPage("neighbours", mode); });
  }
  // Arranging the selected buttons.
  auto* arrange = new QHBoxLayout;
  snap_ = new QCheckBox("Snap", this);
  snap_->setObjectName("snap");
  snap_->setToolTip("While dragging, snap to an 8-pixel grid and to other buttons' edges");
  arrange->addWidget(snap_);
  const std::pair<const char*, const char*> aligns[] = {{"alignLeft", "Left"},       {"alignRight", "Right"},
                                                        {"alignTop", "Top"},         {"alignBottom", "Bottom"},
                                                        {"alignCentreH", "Centre |"}, {"alignCentreV", "Centre -"}};
  arrange->addWidget(new QLabel("Align:", this));
  for (int i = 0; i < 6; ++i) {
    auto* b = new QToolButton(this);
    b->setText(aligns[i].second);
    b->setObjectName(aligns[i].first);
    arrange->addWidget(b);
    connect(b, &QToolButton::clicked, this, [this, i] { AlignSelected(static_cast<Align>(i)); });
  }
  arrange->addWidget(new QLabel("Distribute:", this));
  for (const bool h : {true, false}) {
    auto* b = new QToolButton(this);
    b->setText(h ? "Across" : "Down");
    b->setObjectName(h ? "distributeH" : "distributeV");
    arrange->addWidget(b);
    connect(b, &QToolButton::clicked, this, [this, h] { DistributeSelected(h); });
  }
  auto* group = new QToolButton(this);
  group->setText("Group into BOG");
  group->setObjectName("group");
  arrange->addWidget(group);
  connect(group, &QToolButton::clicked, this, [this] { GroupSelected(); });
  // The selected button's picture in the state shown, from a file.
  auto* picture = new QToolButton(this);
  picture->setText("Picture...");
  picture->setObjectName("picture");
  arrange->addWidget(picture);
  connect(picture, &QToolButton::clicked, this, [this] {
    if (selected_.isEmpty()) return;
    const QString file = QFileDialog::getOpenFileName(
        this, "Picture of " + selected_ + " when " + state_->currentText().toLower(), QString(),
        "Pictures (*.png *.bmp *.jpg *.jpeg *.gif)", nullptr, QFileDialog::DontUseNativeDialog);
    if (!file.isEmpty()) SetPicture(selected_, state_->currentIndex(), file);
  });
  arrange->addStretch();
  pages_ = new QTabBar(this);
  pages_->setObjectName("pages");
  pages_->setExpanding(false);
  connect(pages_, &QTabBar::currentChanged, this, [this](int i) {
    if (fillingTabs_ || i < 0) return;
    const QString path = pages_->tabData(i).toString();
    if (path == pagePath_) return;
    pagePath_ = path;
    SelectButton({});
    Refresh();
    emit PageChosen(path);
  });
  auto* v = new QVBoxLayout(this);
  v->setContentsMargins(0, 0, 0, 0);
  v->addWidget(pages_);
  v->addLayout(top);
  v->addLayout(arrange);
  v->addWidget(canvas_, 1);
  v->addWidget(status_);
  connect(state_, &QComboBox::currentIndexChanged, this, [this](int) { Redraw(); });
  connect(frame_, &QSpinBox::valueChanged, this, [this](int) { Redraw(); });
  connect(under_, &QComboBox::currentIndexChanged, this, [this](int) { Redraw(); });
}

QWidget* PageEditor::Canvas() const { return canvas_; }
QPoint PageEditor::ToCanvas(int x, int y) const { return canvas_->ToWidget(x, y); }

void PageEditor::SetBackground(QRgb rgb) {
  background_ = zv::SColor{static_cast<uint8_t>(qRed(rgb)), static_cast<uint8_t>(qGreen(rgb)),
                           static_cast<uint8_t>(qBlue(rgb)), 255};
  Redraw();
}

void PageEditor::SetState(int state) { state_->setCurrentIndex(std::clamp(state, 0, 2)); }

int PageEditor::FrameCount() const {
  const SButtonBox* b = BoxOf(selected_);
  const zv::SIgPage* page = b && pageId_ >= 0 ? compiled_.FindPage(pageId_) : nullptr;
  if (page)
    for (const zv::SBog& bog : page->bogs)
      for (const zv::SButton& r : bog.buttons)
        if (r.id == b->id) return zv::CCompiledPage::FrameCount(r, state_->currentIndex());
  return 1;
}

void PageEditor::SetFrame(int frame) { frame_->setValue(frame); }

void PageEditor::SelectButton(const QString& name) {
  selected_ = name;
  selection_ = name.isEmpty() ? QStringList() : QStringList{name};
  Redraw();
}

void PageEditor::SetSnap(bool on) { snap_->setChecked(on); }

QString PageEditor::MenuPath() const {
  QStringList parts = pagePath_.split('/');
  if (parts.size() < 4) return {};
  parts.erase(parts.end() - 3, parts.end());
  return parts.join('/');
}

QStringList PageEditor::PagePaths() const {
  QStringList paths;
  for (int i = 0; i < pages_->count(); ++i) paths << pages_->tabData(i).toString();
  return paths;
}

bool PageEditor::ShowFor(const QString& path) {
  zvedit::Target t;
  std::string error;
  if (path.isEmpty() || !zvedit::FindTarget(project_, path.toStdString(), t, error) || t.isTrack) return false;
  QStringList parts = path.split('/');
  QString button;
  if (dynamic_cast<zv::CBdButton*>(t.object)) {
    button = parts.takeLast();
    parts.removeLast();
  } else if (dynamic_cast<zv::CBog*>(t.object)) {
    parts.removeLast();
  } else if (auto* menu = dynamic_cast<zv::CMenuIgObject*>(t.object)) {
    if (menu->GetCount() == 0 || menu->GetAt(0)->GetCount() == 0 || menu->GetAt(0)->GetAt(0)->GetCount() == 0)
      return false;
    const zv::CDisplaySet& ds = *menu->GetAt(0)->GetAt(0);
    parts << Q(menu->GetAt(0)->m_strName) << Q(ds.m_strName) << Q(ds.GetAt(0)->m_strName);
  } else if (!dynamic_cast<zv::CPage*>(t.object)) {
    return false;
  }
  const QString page = parts.join('/');
  if (page != pagePath_) selected_.clear(), selection_.clear();
  pagePath_ = page;
  // A button of the selection stays in it (the window shows the button an
  // edit left selected).
  if (!button.isEmpty() && !selection_.contains(button)) selection_ = QStringList{button};
  if (!button.isEmpty()) selected_ = button;
  Refresh();
  return true;
}

zv::CPage* PageEditor::FindPage() const {
  zvedit::Target t;
  std::string error;
  if (pagePath_.isEmpty() || !zvedit::FindTarget(project_, pagePath_.toStdString(), t, error)) return nullptr;
  return dynamic_cast<zv::CPage*>(t.object);
}

// Everything of the menu the compiled objects and composition depend on,
// but the buttons' positions: moving a button redraws without compiling.
std::string PageEditor::Signature(const zv::CPage& page) const {
  std::string s;
  const zv::CNamedObject* o = &page;
  while (o && !dynamic_cast<const zv::CMenuIgObject*>(o)) o = o->m_pParent;
  const auto* menu = dynamic_cast<const zv::CMenuIgObject*>(o);
  if (!menu) return s;
  s += std::to_string(menu->m_video.width) + "x" + std::to_string(menu->m_video.height) + "\n";
  for (size_t e = 0; e < menu->GetCount(); ++e) {
    const zv::CEpoch& epoch = *menu->GetAt(e);
    zv::CNamedPtrCollection all;
    zv::GatherGraphics(epoch, all);
    for (size_t i = 0; i < all.GetCount(); ++i) {
      const auto* g = static_cast<const zv::CGraphicObject*>(all.GetAt(i));
      s += g->m_strName + "|" + g->m_strPath + "|" + std::to_string(g->m_nId) + "|" + (g->m_picture ? "m" : "") + "\n";
    }
    for (size_t i = 0; i < epoch.m_palettes.GetCount(); ++i) s += "pal " + epoch.m_palettes.GetAt(i)->m_strName + "\n";
    for (size_t d = 0; d < epoch.GetCount(); ++d)
      for (size_t p = 0; p < epoch.GetAt(d)->GetCount(); ++p) {
        const zv::CPage& pg = *epoch.GetAt(d)->GetAt(p);
        s += "page " + pg.m_strName + " " + RefName(pg.m_defaultSelected.p) + " " + RefName(pg.m_defaultActivated.p) +
             " " + RefName(pg.m_palette.p) + " " + std::to_string(pg.m_inEffects.GetCount()) + " " +
             std::to_string(pg.m_outEffects.GetCount()) + "\n";
        for (size_t g = 0; g < pg.GetCount(); ++g) {
          const zv::CBog& bog = *pg.GetAt(g);
          s += " bog " + bog.m_strName + " " + RefName(bog.m_defaultButton.p) + "\n";
          for (size_t b = 0; b < bog.GetCount(); ++b) {
            const zv::CBdButton& bt = *bog.GetAt(b);
            s += "  " + bt.m_strName + " " + std::to_string(bt.m_nId) + " " + std::to_string(bt.m_nButtonType) +
                 (bt.m_bAutoAction ? " auto" : "");
            for (uint32_t v : bt.m_params) s += " " + std::to_string(v);
            for (const auto& st : bt.m_states) s += std::string(" ") + RefName(st.m_start.p) + ".." + RefName(st.m_end.p);
            for (int k = 0; k < 4; ++k) s += std::string(" ") + RefName(bt.m_neighbors.All()[k].p);
            s += "\n";
          }
        }
      }
  }
  return s;
}

void PageEditor::Refresh() {
  boxes_.clear();
  unreachable_.clear();
  overlaps_.clear();
  zv::CPage* page = FindPage();
  zv::CMenuIgObject* menu = nullptr;
  for (zv::CNamedObject* o = page; o && !menu; o = o->m_pParent) menu = dynamic_cast<zv::CMenuIgObject*>(o);
  if (!page || !menu) {
    problem_ = pagePath_.isEmpty() ? QString() : "\"" + pagePath_ + "\" is not a menu page";
    signature_.clear();
    image_ = QImage();
    status_->setText(problem_);
    canvas_->update();
    return;
  }
  // A project restored by undo or redo knows its pictures' sizes no more;
  // the boxes need them.
  zvedit::LoadGraphicSizes(*menu);
  const std::string sig = Signature(*page);
  if (sig != signature_) {
    signature_ = sig;
    if (compileInBackground) StartCompile(*menu);
    else CompileNow(*menu);
  }
  RefreshPageTabs();
  // Of the compiler's warnings, those about this page's decoding in time.
  warnings_.clear();
  const QString own = "Page \"" + Q(page->m_strName) + "\"";
  const bool first = menu->GetCount() > 0 && menu->GetAt(0)->GetCount() > 0 &&
                     menu->GetAt(0)->GetAt(0)->IndexOf(page) == 0;
  for (const QString& w : compileWarnings_)
    if (w.contains(own) || (first && w.contains(" late:"))) warnings_ << w.mid(w.indexOf("Warning:") + 8);
  FindMissingPictures(*page);
  // While the worker compiles, the boxes follow the model over the last
  // drawing; the compiled page is not the model's.
  pageId_ = problem_.isEmpty() && !compiling_ ? zv::CompiledPageId(*menu, *page) : -1;
  zv::SIgPage* record = nullptr;
  for (zv::SIgPage& p : compiled_.Composition().pages)
    if (p.id == pageId_) record = &p;
  for (size_t g = 0; g < page->GetCount(); ++g) {
    zv::CBog& bog = *page->GetAt(g);
    for (size_t i = 0; i < bog.GetCount(); ++i) {
      zv::CBdButton& b = *bog.GetAt(i);
      SButtonBox box;
      box.name = Q(b.m_strName);
      box.bogPath = pagePath_ + "/" + Q(bog.m_strName);
      box.type = Q(zv::ButtonTypeOf(b.m_nButtonType).Name());
      box.id = b.m_nId;
      box.rect = QRect(b.m_nX, b.m_nY, std::max(b.Width(), 16), std::max(b.Height(), 16));
      for (int k = 0; k < 4; ++k) box.neighbour[k] = b.m_neighbors.All()[k].p ? b.m_neighbors.All()[k].p->m_nId : -1;
      boxes_.push_back(box);
      // The compiled page follows the model's positions.
      if (record)
        for (zv::SBog& rb : record->bogs)
          for (zv::SButton& r : rb.buttons)
            if (r.id == b.m_nId) r.x = b.m_nX, r.y = b.m_nY;
    }
  }
  for (size_t i = 0; i < boxes_.size(); ++i)
    for (size_t k = i + 1; k < boxes_.size(); ++k)
      if (boxes_[i].bogPath != boxes_[k].bogPath && boxes_[i].rect.intersects(boxes_[k].rect))
        overlaps_ << boxes_[i].name + " overlaps " + boxes_[k].name;
  // Buttons gone (undo, another page) leave the selection.
  QStringList kept;
  for (const QString& n : selection_)
    if (BoxOf(n)) kept << n;
  selection_ = kept;
  if (!BoxOf(selected_)) selected_ = selection_.isEmpty() ? QString() : selection_.last();
  if (record)
    for (uint16_t id : zv::UnreachableButtons(*record))
      for (SButtonBox& box : boxes_)
        if (box.id == id) {
          box.unreachable = true;
          unreachable_ << box.name;
        }
  Redraw();
}

void PageEditor::Redraw() {
  if (compiling_) {
    // The last drawing stays until the new one is there.
  } else if (pageId_ < 0) {
    image_ = QImage();
  } else {
    zv::SPageView view;
    view.page = pageId_;
    const SButtonBox* b = BoxOf(selected_);
    view.button = b ? b->id : -1;
    view.state = state_->currentIndex();
    // The frame switch follows the selected button and state.
    const int frames = FrameCount();
    {
      const QSignalBlocker quiet(frame_);
      frame_->setRange(0, frames - 1);
      frame_->setEnabled(frames > 1);
    }
    frames_->setText(frames > 1 ? QString("of %1").arg(frames) : QString());
    view.frame = frame_->value();
    view.background = background_;
    zv::CPicture pic;
    std::string error;
    if (under_->currentIndex() == 1) {
      // Decoded once per clip.
      const std::string clip = BackgroundClip();
      if (clip != backdropPath_ || backdrop_.width != compiled_.Width() || backdrop_.height != compiled_.Height()) {
        backdropPath_ = clip;
        backdrop_ = zv::CPicture();
        if (clip.empty()) error = "the menu's film has no clip with a video track to show under the page";
        else if (!zv::DecodeFirstFrame(clip, compiled_.Width(), compiled_.Height(), backdrop_, error))
          backdrop_ = zv::CPicture();
      }
      if (backdrop_.width > 0) view.backdrop = &backdrop_;
    }
    if (!error.empty()) {
      problem_ = Q(error);
      backdropPath_.clear();
    }
    if (!compiled_.Draw(view, pic, error)) {
      problem_ = Q(error);
      image_ = QImage();
    } else {
      image_ = QImage(pic.width, pic.height, QImage::Format_RGBA8888);
      for (int y = 0; y < pic.height; ++y) {
        const uint8_t* s = pic.Row(y);
        uint8_t* d = image_.scanLine(y);
        for (int x = 0; x < pic.width; ++x, s += 4, d += 4) d[0] = s[1], d[1] = s[2], d[2] = s[3], d[3] = s[0];
      }
    }
  }
  QStringList lines;
  if (compiling_) lines << "compiling…";
  if (!problem_.isEmpty()) lines << problem_;
  if (!unreachable_.isEmpty())
    lines << "Unreachable by arrow keys from the page's default button: " + unreachable_.join(", ");
  if (!overlaps_.isEmpty()) lines << "Buttons of different BOGs overlap: " + overlaps_.join("; ");
  lines << warnings_;
  const QString text = lines.join('\n');
  status_->setStyleSheet(text.isEmpty() ? QString() : "color: #c02020;");
  status_->setText(text);
  canvas_->update();
}

void PageEditor::CompileNow(zv::CMenuIgObject& menu) {
  ++generation_;  // a result still coming from the worker is old
  pending_.reset();
  compiling_ = false;
  problem_.clear();
  // Compiling needs a video format; a menu without one borrows its film's
  // for the drawing and keeps its own setting.
  const zv::SVideoDescriptor video = menu.m_video;
  std::string error;
  compileWarnings_.clear();
  if (!zv::EnsureMenuVideoFormat(menu, pagePath_.toStdString(), error) ||
      !zv::CompileMenuPages(menu, compiled_, error, CollectWarnings(compileWarnings_)))
    problem_ = Q(error);
  menu.m_video = video;
}

void PageEditor::StartCompile(zv::CMenuIgObject& menu) {
  problem_.clear();
  auto job = std::make_shared<SCompileJob>();
  const zv::SVideoDescriptor video = menu.m_video;
  std::string error;
  const bool known = zv::EnsureMenuVideoFormat(menu, pagePath_.toStdString(), error);
  job->video = menu.m_video;
  menu.m_video = video;
  if (!known) {
    CompileNow(menu);  // says why, at once
    return;
  }
  job->generation = ++generation_;
  job->project = zv::StoreProject(project_, std::string());
  job->menuPath = MenuPath().toStdString();
  for (size_t e = 0; e < menu.GetCount(); ++e) {
    zv::CNamedPtrCollection all;
    zv::GatherGraphics(*menu.GetAt(e), all);
    for (size_t i = 0; i < all.GetCount(); ++i)
      if (const auto* g = static_cast<const zv::CGraphicObject*>(all.GetAt(i)); g->m_picture)
        job->pictures.emplace_back(std::make_pair(e, i), *g->m_picture);
  }
  compiling_ = true;
  // Latest wins: one compilation at a time, the last asked for next.
  if (compile_->isRunning()) pending_ = std::move(job);
  else Launch(std::move(job));
}

void PageEditor::Launch(std::shared_ptr<SCompileJob> job) {
  compile_->setFuture(QtConcurrent::run([job = std::move(job)] { return RunCompile(job); }));
}

std::shared_ptr<PageEditor::SCompileResult> PageEditor::RunCompile(const std::shared_ptr<SCompileJob>& job) {
  auto out = std::make_shared<SCompileResult>();
  out->generation = job->generation;
  zv::CZvObject copy;
  std::string error;
  zvedit::Target t;
  if (zv::LoadProject(job->project, std::string(), copy, error) != zv::kOk ||
      !zvedit::FindTarget(copy, job->menuPath, t, error)) {
    out->problem = Q(error);
    return out;
  }
  auto* menu = dynamic_cast<zv::CMenuIgObject*>(t.object);
  if (!menu) {
    out->problem = "\"" + Q(job->menuPath) + "\" is not a menu";
    return out;
  }
  menu->m_video = job->video;
  for (const auto& [at, picture] : job->pictures) {
    if (at.first >= menu->GetCount()) continue;
    zv::CNamedPtrCollection all;
    zv::GatherGraphics(*menu->GetAt(at.first), all);
    if (at.second < all.GetCount())
      static_cast<zv::CGraphicObject*>(all.GetAt(at.second))->m_picture = std::make_unique<zv::CPicture>(picture);
  }
  if (!zv::CompileMenuPages(*menu, out->compiled, error, CollectWarnings(out->warnings))) out->problem = Q(error);
  return out;
}

void PageEditor::CompileFinished() {
  const std::shared_ptr<SCompileResult> result = compile_->result();
  if (pending_) {
    // An edit came meanwhile: its compilation, not this one, is shown.
    Launch(std::move(pending_));
    return;
  }
  if (!result || result->generation != generation_) return;
  compiled_ = std::move(result->compiled);
  problem_ = result->problem;
  compileWarnings_ = result->warnings;
  compiling_ = false;
  Refresh();
  emit Compiled();
}

std::string PageEditor::BackgroundClip() const {
  const zv::CFilmObject* film = nullptr;
  for (const zv::CNamedObject* o = FindPage(); o && !film; o = o->m_pParent) film = dynamic_cast<const zv::CFilmObject*>(o);
  if (!film) return {};
  for (size_t i = 0; i < film->m_stories.GetCount(); ++i)
    for (const zv::STrackRef& t : film->m_stories.GetAt(i)->TrackRefs())
      if (t.video && t.primary) return t.path;
  return {};
}

const PageEditor::SButtonBox* PageEditor::BoxOf(const QString& name) const {
  for (const auto& b : boxes_)
    if (b.name == name) return &b;
  return nullptr;
}

bool PageEditor::SetButton(const SButtonBox& b, const std::vector<std::pair<std::string, std::string>>& settings) {
  const std::string path = (b.bogPath + "/" + b.name).toStdString();
  const bool ok = edit_(
      [&](std::string& error) {
        zvedit::Target t;
        if (!zvedit::FindTarget(project_, path, t, error)) return false;
        for (const auto& [key, value] : settings)
          if (!zvedit::ApplyProperty(project_, t, key, value, error)) return error = "\"" + path + "\": " + error, false;
        return true;
      },
      path);
  Refresh();
  return ok;
}

void PageEditor::MoveSelected(int dx, int dy) {
  if (dx == 0 && dy == 0) return;
  std::vector<std::pair<SButtonBox, QPoint>> places;
  for (const QString& n : selection_)
    if (const SButtonBox* b = BoxOf(n)) places.emplace_back(*b, b->rect.topLeft() + QPoint(dx, dy));
  PlaceButtons(places);
}

bool PageEditor::LinkNeighbour(const QString& from, const QString& to) {
  const SButtonBox* a = BoxOf(from);
  const SButtonBox* b = BoxOf(to);
  if (!a || !b || a == b) return false;
  const QPoint d = b->rect.center() - a->rect.center();
  const char* key = std::abs(d.x()) > std::abs(d.y()) ? (d.x() > 0 ? "right" : "left") : (d.y() > 0 ? "down" : "up");
  const SButtonBox box = *a;
  selected_ = from;
  return SetButton(box, {{key, to.toStdString()}});
}

bool PageEditor::AddPictureButton(const QString& file, QPoint at) {
  const std::string page = pagePath_.toStdString();
  // The menu is three levels up: its epoch, display set and page.
  QStringList parts = pagePath_.split('/');
  if (parts.size() < 4) return false;
  parts.erase(parts.end() - 3, parts.end());
  const std::string menu = parts.join('/').toStdString();
  std::string made;
  const bool ok = edit_(
      [&](std::string& error) {
        zvedit::Target m, p;
        if (!zvedit::FindTarget(project_, menu, m, error) || !zvedit::FindTarget(project_, page, p, error)) return false;
        auto* pg = dynamic_cast<zv::CPage*>(p.object);
        if (!pg) return error = "\"" + page + "\" is not a page", false;
        // Room first: a refusal must leave the menu as it was.
        if (pg->GetCount() >= 255) return error = "a page holds at most 255 BOGs", false;
        if (pg->NextButtonId() >= zv::CPage::kMaxButtonIds) return error = "all 8160 button ids of the page are in use", false;
        zv::CGraphicObject* g = zvedit::AddGraphic(*m.object, menu, file.toStdString(), error);
        if (!g) return false;
        zv::CBog* bog = zvedit::AddBog(*pg, page, error);
        zv::CBdButton* b = bog ? zvedit::AddButton(*bog, page + "/" + bog->m_strName, error) : nullptr;
        if (!b) return false;
        made = page + "/" + bog->m_strName + "/" + b->m_strName;
        zvedit::Target t;
        if (!zvedit::FindTarget(project_, made, t, error)) return false;
        for (const auto& [key, value] :
             std::vector<std::pair<std::string, std::string>>{{"x", std::to_string(std::clamp(at.x(), 0, 0xFFFF))},
                                                              {"y", std::to_string(std::clamp(at.y(), 0, 0xFFFF))},
                                                              {"normal", g->m_strName},
                                                              {"selected", g->m_strName},
                                                              {"activated", g->m_strName}})
          if (!zvedit::ApplyProperty(project_, t, key, value, error)) return false;
        return true;
      },
      made);  // filled by the change before the window selects it
  if (ok) selected_ = QString::fromStdString(made.substr(made.rfind('/') + 1));
  Refresh();
  return ok;
}

bool PageEditor::SetPage(const std::string& key, const std::string& value) {
  const std::string page = pagePath_.toStdString();
  if (page.empty()) return false;
  const bool ok = edit_(
      [&](std::string& error) {
        zvedit::Target t;
        if (!zvedit::FindTarget(project_, page, t, error)) return false;
        if (zvedit::ApplyProperty(project_, t, key, value, error)) return true;
        error = "\"" + page + "\": " + error;
        return false;
      },
      page);
  Refresh();
  return ok;
}

bool PageEditor::DropPictures(const QStringList& files, QPoint at) {
  // One picture on a button: its picture in the state shown.
  if (files.size() == 1) {
    QString hit;
    for (const auto& b : boxes_)
      if (b.rect.contains(at)) hit = b.name;
    if (!hit.isEmpty()) {
      const int state = hit == selected_ ? state_->currentIndex() : 0;
      return SetPicture(hit, state, files.front());
    }
  }
  bool ok = !files.isEmpty();
  for (const QString& f : files) {
    ok = AddPictureButton(f, at) && ok;
    at += QPoint(20, 20);
  }
  return ok;
}

}  // namespace zvstudio
