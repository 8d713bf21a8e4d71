#include "studio/menu_preview.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>
#include <QPainter>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" {
#include <libbluray/bluray.h>
#include <libbluray/keys.h>
#include <libbluray/log_control.h>
#include <libbluray/overlay.h>
}

#include "graphics/object_coding.h"
#include "bdnav/navcmd.h"
#include "model/build.h"
#include "model/menu_render.h"
#include "platform/prompt.h"

namespace zvstudio {

namespace {

// Reads of a waiting player after which it is taken to wait for the viewer.
constexpr int kIdleReads = 200;
// The real-time clock's tick, and the reads one tick may take.
constexpr int kTickMs = 40;
constexpr int kTickReads = 64;

bool KeyCode(const QString& name, uint32_t& key) {
  static const struct {
    const char* name;
    uint32_t key;
  } kKeys[] = {{"up", BD_VK_UP},       {"down", BD_VK_DOWN},        {"left", BD_VK_LEFT}, {"right", BD_VK_RIGHT},
               {"enter", BD_VK_ENTER}, {"menu", BD_VK_ROOT_MENU}, {"popup", BD_VK_POPUP}};
  for (const auto& k : kKeys)
    if (name == k.name) return key = k.key, true;
  if (name.size() == 1 && name[0].isDigit()) return key = BD_VK_0 + static_cast<uint32_t>(name[0].digitValue()), true;
  return false;
}

}  // namespace

MenuPreview::MenuPreview(QWidget* parent) : QWidget(parent) {
  setFocusPolicy(Qt::StrongFocus);
  setMinimumSize(480, 270);
  clock_.setInterval(kTickMs);
  connect(&clock_, &QTimer::timeout, this, &MenuPreview::Tick);
}

MenuPreview::~MenuPreview() {
  if (bd_) bd_close(bd_);
}

bool MenuPreview::Open(const QString& disc, QString& error) {
  clock_.stop();
  if (bd_) bd_close(bd_);
  bd_ = nullptr;
  events_.clear();
  actions_.clear();
  said_.clear();
  plane_ = shown_ = QImage();
  if (!getenv("BD_DEBUG_MASK")) bd_set_debug_mask(0);
  bd_ = bd_open(disc.toLocal8Bit().constData(), nullptr);
  const BLURAY_DISC_INFO* info = bd_ ? bd_get_disc_info(bd_) : nullptr;
  if (!info || !info->bluray_detected) {
    error = "Cannot open the disc \"" + disc + "\"";
    if (bd_) bd_close(bd_);
    bd_ = nullptr;
    return false;
  }
  bd_register_overlay_proc(bd_, this, &MenuPreview::OnOverlay);
  QString why;
  if (!sounds_.Load(disc, why)) actions_ << why;
  if (!bd_play(bd_)) {
    error = "The player cannot start the disc \"" + disc + "\"";
    return false;
  }
  const bool ok = Run();
  SaySelection();
  wall_.start();
  clock_.start();
  return ok;
}

void MenuPreview::OnOverlay(void* self, const bd_overlay_s* ov) {
  if (ov) static_cast<MenuPreview*>(self)->Overlay(*ov);
}

void MenuPreview::Overlay(const bd_overlay_s& ov) {
  if (ov.plane != BD_OVERLAY_IG) return;
  switch (ov.cmd) {
    case BD_OVERLAY_INIT:
      plane_ = QImage(ov.w, ov.h, QImage::Format_RGBA8888);
      plane_.fill(Qt::transparent);
      break;
    case BD_OVERLAY_CLEAR:
      plane_.fill(Qt::transparent);
      break;
    case BD_OVERLAY_WIPE:
      if (ov.x >= plane_.width()) break;  // also before the plane exists
      for (int y = ov.y; y < ov.y + ov.h && y < plane_.height(); ++y)
        std::memset(plane_.scanLine(y) + ov.x * 4, 0, static_cast<size_t>(std::min<int>(ov.w, plane_.width() - ov.x)) * 4);
      break;
    case BD_OVERLAY_DRAW: {
      if (!ov.img || !ov.palette || plane_.isNull()) break;
      // The palette in the colour matrix of the video, as the page render
      // reads it.
      const zv::ColorMatrix matrix = zv::ColorMatrixForHeight(plane_.height());
      uint8_t rgba[256][4];
      for (int i = 0; i < 256; ++i) {
        zv::SPaletteEntry e;
        e.y = ov.palette[i].Y, e.cr = ov.palette[i].Cr, e.cb = ov.palette[i].Cb, e.t = ov.palette[i].T;
        const zv::SColor c = zv::YCrCbToRgb(e, matrix);
        rgba[i][0] = c.r, rgba[i][1] = c.g, rgba[i][2] = c.b, rgba[i][3] = ov.palette[i].T;
      }
      int x = 0, y = 0;
      for (const BD_PG_RLE_ELEM* r = ov.img; y < ov.h; ++r) {
        if (r->len == 0) {
          x = 0;
          ++y;
          continue;
        }
        for (int k = 0; k < r->len && x < ov.w; ++k, ++x) {
          const int px = ov.x + x, py = ov.y + y;
          if (px < plane_.width() && py < plane_.height())
            std::memcpy(plane_.scanLine(py) + px * 4, rgba[r->color & 0xFF], 4);
        }
      }
      break;
    }
    case BD_OVERLAY_FLUSH:
      shown_ = plane_;
      flushed_ = true;
      update();
      break;
    case BD_OVERLAY_HIDE:
    case BD_OVERLAY_CLOSE:
      shown_ = QImage();
      if (ov.cmd == BD_OVERLAY_CLOSE) plane_ = QImage();
      update();
      break;
    default:
      break;
  }
}

bool MenuPreview::Run(long maxReads) {
  if (!bd_) return false;
  int idle = 0;
  SLastEvent last;
  for (long i = 0; i < maxReads && idle < kIdleReads; ++i) {
    bool quiet = true;
    if (ReadOnce(last, quiet) < 0) return false;
    idle = quiet ? idle + 1 : 0;
  }
  emit Ran();
  return true;
}

int MenuPreview::ReadOnce(SLastEvent& last, bool& quiet) {
  static thread_local std::vector<unsigned char> buf(6144 * 10);
  BD_EVENT ev;
  const int r = bd_read_ext(bd_, buf.data(), static_cast<int>(buf.size()), &ev);
  if (r < 0) {
    events_ << "read error";
    return r;
  }
  quiet = r == 0;
  while (ev.event != BD_EVENT_NONE) {
    TakeEvent(ev.event, ev.param, last, quiet);
    if (!bd_get_event(bd_, &ev)) break;
  }
  return r;
}

void MenuPreview::TakeEvent(uint32_t event, uint32_t param, SLastEvent& last, bool& quiet) {
  const BD_EVENT ev{event, param};
  // An infinite still (a menu over a held picture) waits like an idle
  // player; repeats of waiting are listed once.
  const bool still = ev.event == BD_EVENT_STILL_TIME && ev.param == 0;
  const bool waiting = ev.event == BD_EVENT_IDLE || ev.event == BD_EVENT_END_OF_TITLE || still;
  if (!(waiting && ev.event == last.event && ev.param == last.param)) {
    const char* name = bd_event_name(ev.event);
    events_ << (ev.event == BD_EVENT_PLAYLIST ? QString("PLAYLIST %1").arg(ev.param, 5, 10, QChar('0'))
                                              : QString("%1 %2").arg(name ? name : "?").arg(ev.param));
    const QString said = Describe(ev.event, ev.param);
    if (!said.isEmpty()) actions_ << said;
    if (!waiting) quiet = false;
    last = SLastEvent{ev.event, ev.param};
  }
  if (ev.event == BD_EVENT_SOUND_EFFECT) sounds_.Play(ev.param);
  if (ev.event == BD_EVENT_STILL_TIME && ev.param > 0) bd_read_skip_still(bd_);
}

void MenuPreview::Tick() {
  if (!bd_) return;
  // The player runs as far as the wall clock went since the last tick (its
  // menus' time-outs count real time), a few reads at most.
  const int64_t ms = wall_.restart();
  const uint64_t until = bd_tell_time(bd_) + static_cast<uint64_t>(ms) * 90;
  const qsizetype before = events_.size();
  flushed_ = false;
  SLastEvent last;
  for (int i = 0; i < kTickReads; ++i) {
    bool quiet = true;
    const int r = ReadOnce(last, quiet);
    if (r <= 0 || bd_tell_time(bd_) >= until) break;
  }
  // Recognising the selection draws pages: only when the player said
  // something, not on every frame of an animation.
  if (events_.size() != before) SaySelection();
  if (events_.size() != before || flushed_) emit Ran();
}

QString MenuPreview::Describe(int event, uint32_t param) const {
  switch (event) {
    case BD_EVENT_TITLE: {
      if (param == 0) return "shows the top menu";
      if (param == BLURAY_TITLE_FIRST_PLAY) return "starts the disc";
      const auto it = titles_.find(static_cast<int>(param));
      return QString("plays Title %1").arg(param) + (it == titles_.end() ? QString() : " (" + it->second + ")");
    }
    case BD_EVENT_CHAPTER: return QString("at chapter %1").arg(param);
    case BD_EVENT_AUDIO_STREAM: return param == 0xFF ? "no audio stream" : QString("audio stream %1").arg(param);
    case BD_EVENT_PG_TEXTST_STREAM:
      return param == 0xFFF ? "no subtitle stream" : QString("subtitle stream %1").arg(param);
    case BD_EVENT_PG_TEXTST: return param ? "subtitles on" : "subtitles off";
    case BD_EVENT_POPUP: return param ? "the pop-up menu can open" : "no pop-up menu";
    case BD_EVENT_MENU: return param ? "menu shown" : "menu gone";
    case BD_EVENT_SOUND_EFFECT: return QString("button sound %1").arg(param);
    default: return {};
  }
}

std::map<int, QString> TitleNames(zv::CZvObject& project) {
  zv::AssignNumbers(project);
  std::map<int, QString> names;
  for (zv::CFilmObject* film : project.Films())
    for (size_t i = 0; i < film->m_playlists.GetCount(); ++i) {
      const zv::CPlObject* pl = film->m_playlists.GetAt(i);
      if (pl->m_nTitleNumber > 0)
        names[pl->m_nTitleNumber] = QString::fromStdString(film->m_strName + "/" + pl->m_strName);
    }
  return names;
}

std::vector<SPreviewMenu> PreviewMenus(zv::CZvObject& project) {
  std::vector<SPreviewMenu> out;
  // On a copy, as the build works: typed buttons get their commands (with
  // the build's title numbers) there, not in the window's project.
  zv::CZvObject copy;
  std::string message;
  if (zv::LoadProject(zv::StoreProject(project, std::string()), std::string(), copy, message) != zv::kOk) return out;
  zv::ScriptedPrompt quiet;
  copy.ReloadSources(zv::Progress{}, quiet);
  zv::AssignNumbers(copy);
  for (zv::CFilmObject* film : copy.Films())
    for (size_t i = 0; i < film->m_menus.GetCount(); ++i) {
      zv::CZvIgObject& menu = *film->m_menus.GetAt(i);
      SPreviewMenu m;
      std::string error;
      menu.GenerateButtonCommands();
      // The drawing borrows the film's video format as the build does.
      const zv::SVideoDescriptor video = menu.m_video;
      const bool ok = zv::EnsureMenuVideoFormat(menu, menu.m_strName, error) &&
                      zv::CompileMenuPages(menu, m.compiled, error);
      menu.m_video = video;
      if (!ok) continue;
      const zv::CDisplaySet& ds = *menu.GetAt(0)->GetAt(0);
      for (size_t p = 0; p < ds.GetCount(); ++p) {
        const zv::CPage& page = *ds.GetAt(p);
        const int id = zv::CompiledPageId(menu, page);
        for (const zv::CBdButton* b : page.Buttons())
          m.names[{id, b->m_nId}] = QString::fromStdString(page.m_strName + "/" + b->m_strName);
      }
      out.push_back(std::move(m));
    }
  return out;
}

bool MenuPreview::Recognise(const SPreviewMenu*& menu, const zv::SIgPage*& page, const zv::SButton*& button) const {
  if (shown_.isNull()) return false;
  for (const SPreviewMenu& m : menus_) {
    if (m.compiled.Width() != shown_.width() || m.compiled.Height() != shown_.height()) continue;
    for (const zv::SIgPage& pg : m.compiled.Composition().pages)
      for (const zv::SBog& bog : pg.bogs)
        for (const zv::SButton& b : bog.buttons) {
          if (!m.names.count({pg.id, b.id})) continue;  // the build's own helpers
          zv::SPageView view;
          view.page = pg.id;
          view.button = b.id;
          view.state = zv::CBdButton::kSelected;
          zv::CPicture pic;
          std::string error;
          if (!m.compiled.Draw(view, pic, error)) continue;
          // The same colour conversion as the plane's: within 2 levels.
          bool same = true;
          for (int y = 0; y < pic.height && same; ++y) {
            const uint8_t* a = pic.Row(y);
            const uint8_t* q = shown_.constScanLine(y);
            for (int x = 0; x < pic.width; ++x, a += 4, q += 4)
              if (std::abs(a[0] - q[3]) > 2 || (a[0] != 0 && (std::abs(a[1] - q[0]) > 2 || std::abs(a[2] - q[1]) > 2 ||
                                                               std::abs(a[3] - q[2]) > 2))) {
                same = false;
                break;
              }
          }
          if (same) return menu = &m, page = &pg, button = &b, true;
        }
  }
  return false;
}

void MenuPreview::SaySelection() {
  const SPreviewMenu* m = nullptr;
  const zv::SIgPage* page = nullptr;
  const zv::SButton* b = nullptr;
  const QString now = Recognise(m, page, b) ? m->names.at({page->id, b->id}) : QString();
  if (!now.isEmpty() && now != said_) {
    const int slash = static_cast<int>(now.indexOf('/'));
    actions_ << now.left(slash) + ": " + now.mid(slash + 1) + " selected";
  }
  said_ = now;
}

bool MenuPreview::Press(const QString& key) {
  uint32_t code = 0;
  if (!bd_ || !KeyCode(key, code)) return false;
  events_ << "press " + key;
  actions_ << "press " + key;
  if (key == "enter") {
    // The commands of the button activated, as our disassembler reads them.
    const SPreviewMenu* m = nullptr;
    const zv::SIgPage* page = nullptr;
    const zv::SButton* b = nullptr;
    if (Recognise(m, page, b)) {
      QStringList lines;
      for (const zv::SNavCommand& c : b->commands) {
        zv::CNavCmd cmd;
        cmd.bytes = c;
        lines << QString::fromStdString(zv::CommandText(cmd));
      }
      const QString name = m->names.at({page->id, b->id});
      actions_ << name.mid(name.indexOf('/') + 1) + " runs: " + (lines.isEmpty() ? "nothing" : lines.join("; "));
    }
  }
  bd_user_input(bd_, -1, code);
  // The key's own events (a new selection's sound) are queued already; the
  // player runs on with the clock, so a title a button starts plays in
  // real time rather than to its end at once.
  SLastEvent last;
  bool quiet = true;
  for (BD_EVENT ev; bd_get_event(bd_, &ev) && ev.event != BD_EVENT_NONE;) TakeEvent(ev.event, ev.param, last, quiet);
  SaySelection();
  emit Ran();
  return true;
}

void MenuPreview::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), QColor(16, 16, 16));
  if (shown_.isNull()) return;
  const double s = std::min(width() / double(shown_.width()), height() / double(shown_.height()));
  const QRectF target((width() - shown_.width() * s) / 2, (height() - shown_.height() * s) / 2, shown_.width() * s,
                      shown_.height() * s);
  p.setRenderHint(QPainter::SmoothPixmapTransform);
  p.drawImage(target, shown_);
}

void MenuPreview::keyPressEvent(QKeyEvent* e) {
  static const std::pair<int, const char*> kKeys[] = {{Qt::Key_Up, "up"},       {Qt::Key_Down, "down"},
                                                      {Qt::Key_Left, "left"},   {Qt::Key_Right, "right"},
                                                      {Qt::Key_Return, "enter"}, {Qt::Key_Enter, "enter"},
                                                      {Qt::Key_M, "menu"},      {Qt::Key_P, "popup"}};
  for (const auto& [qt, name] : kKeys)
    if (e->key() == qt) return void(Press(name));
  if (e->key() >= Qt::Key_0 && e->key() <= Qt::Key_9) return void(Press(QString(QChar('0' + (e->key() - Qt::Key_0)))));
  QWidget::keyPressEvent(e);
}

QWidget* OpenPreviewWindow(QWidget* parent, const QString& disc, QString& error, std::map<int, QString> titles,
                           std::vector<SPreviewMenu> menus) {
  auto* box = new QDialog(parent);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowTitle("Try Menu");
  auto* preview = new MenuPreview(box);
  preview->SetTitleNames(std::move(titles));
  preview->SetMenus(std::move(menus));
  auto* events = new QListWidget(box);
  auto* pad = new QHBoxLayout;
  for (const auto& entry : std::vector<std::pair<QString, QString>>{{"Up", "up"},
                                                                          {"Down", "down"},
                                                                          {"Left", "left"},
                                                                          {"Right", "right"},
                                                                          {"Enter", "enter"},
                                                                          {"Top Menu", "menu"},
                                                                          {"Pop-up", "popup"}}) {
    // A plain name: clang 14 cannot capture a structured binding.
    const QString key = entry.second;
    auto* b = new QPushButton(entry.first, box);
    b->setFocusPolicy(Qt::NoFocus);
    QObject::connect(b, &QPushButton::clicked, preview, [preview, key] { preview->Press(key); });
    pad->addWidget(b);
  }
  auto* split = new QHBoxLayout;
  split->addWidget(preview, 3);
  split->addWidget(events, 1);
  auto* v = new QVBoxLayout(box);
  v->addLayout(split, 1);
  v->addLayout(pad);
  QObject::connect(preview, &MenuPreview::Ran, events, [preview, events] {
    events->clear();
    events->addItems(preview->Actions());
    events->scrollToBottom();
  });
  if (!preview->Open(disc, error)) {
    delete box;
    return nullptr;
  }
  box->resize(1000, 560);
  box->show();
  preview->setFocus();
  return box;
}

}  // namespace zvstudio
