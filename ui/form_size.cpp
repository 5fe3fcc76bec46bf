#include "ui/form_size.h"

#include <QEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPlatformSurfaceEvent>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <climits>

namespace {

TRect toRect(const QRect &rect) {
  return {rect.x(), rect.y(), rect.x() + rect.width(), rect.y() + rect.height()};
}

int span(int from, int to) {
  return static_cast<int>(std::clamp<int64_t>(int64_t(to) - from, INT_MIN, INT_MAX));
}

// All monitors together; the placement rules only use its size.
QSize virtualScreenSize() {
  if (const QScreen *screen = QGuiApplication::primaryScreen())
    return screen->virtualGeometry().size();
  return {INT_MAX, INT_MAX};
}

} // namespace

TFormSize::TFormSize(QWidget *owner) : QObject(checkedOwner(owner)), owner_(owner) {
  saveKey_ = owner->objectName().toStdString();
  owner->installEventFilter(this);
}

TFormSize::~TFormSize() {
  if (owner_)
    owner_->removeEventFilter(this);
}

QWidget *TFormSize::checkedOwner(QWidget *owner) {
  if (!owner || !owner->isWindow())
    throw EFormSizeError("Control parent must be a form!");
  for (const QObject *child : owner->children())
    if (qobject_cast<const TFormSize *>(child))
      throw EFormSizeError("The form already contains a TFormSize component");
  return owner;
}

uint32_t TFormSize::VersionNumber() const {
  return 0x01010002;
}

std::string TFormSize::Version() const {
  const uint32_t number = VersionNumber();
  std::string text;
  for (int shift = 24; shift >= 0; shift -= 8) {
    if (!text.empty())
      text += '.';
    text += std::to_string((number >> shift) & 0xFF);
  }
  return text;
}

std::string TFormSize::SectionName() const {
  return ::SectionName(saveKey_, saveUser_, saveMachine_);
}

TPlacement TFormSize::currentPlacement() const {
  // While maximized or full screen, geometry() is the screen's; the rectangle
  // worth keeping is the one the window returns to.
  const bool enlarged = owner_->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen);
  QRect normal = owner_->geometry();
  if (enlarged && !owner_->normalGeometry().isEmpty())
    normal = owner_->normalGeometry();
  return {toRect(normal), owner_->isMaximized()};
}

void TFormSize::RestorePlacement() {
  if (!owner_ || saveName_.empty() || saveKey_.empty())
    return;
  const TSavedPlacement saved = LoadPlacement(saveName_, SectionName());
  const TPlacement current{toRect(owner_->geometry()), owner_->isMaximized()};
  const QSize screen = virtualScreenSize();
  const TPlacement target =
      RestoredPlacement(saved, current, savePosition_, saveSize_, screen.width(), screen.height());
  const TRect &bounds = target.Bounds;
  owner_->setGeometry(bounds.Left, bounds.Top, span(bounds.Left, bounds.Right),
                      span(bounds.Top, bounds.Bottom));
  if (target.Maximized)
    owner_->setWindowState(owner_->windowState() | Qt::WindowMaximized);
}

void TFormSize::SavePlacement() {
  if (!owner_ || saveName_.empty() || saveKey_.empty())
    return;
  StorePlacement(saveName_, SectionName(), currentPlacement(), savePosition_, saveSize_);
}

void TFormSize::RestoreBounds() {
  // Puts the switches back however RestorePlacement leaves.
  struct TRestoreSwitches {
    TFormSize &self;
    bool position, size;
    ~TRestoreSwitches() {
      self.savePosition_ = position;
      self.saveSize_ = size;
    }
  } restore{*this, savePosition_, saveSize_};
  savePosition_ = true;
  saveSize_ = true;
  RestorePlacement();
}

void TFormSize::snapToWorkArea() {
  // A maximized window is placed by the window system; moving it would
  // only take it out of that state.
  if (owner_->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen))
    return;
  const QScreen *screen = owner_->screen() ? owner_->screen() : QGuiApplication::primaryScreen();
  if (!screen)
    return;
  // The frame is what the user drags and sees touching the edge.
  const QRect frame = owner_->frameGeometry();
  const TPoint snapped = MagnetPosition({frame.x(), frame.y()}, frame.width(), frame.height(),
                                        toRect(screen->availableGeometry()), magnetDistance_);
  if (snapped == TPoint{frame.x(), frame.y()})
    return;
  snapping_ = true;
  owner_->move(snapped.X, snapped.Y);
  snapping_ = false;
}

bool TFormSize::dragEvent(QEvent *event) {
  auto *mouse = static_cast<QMouseEvent *>(event);
  switch (event->type()) {
  case QEvent::MouseButtonPress: {
    if (!dragAlways_ || mouse->button() != Qt::LeftButton ||
        !owner_->rect().contains(mouse->position().toPoint()))
      return false;
    QWindow *window = owner_->windowHandle();
    if (window && window->startSystemMove())
      return true;
    // Window systems without an interactive move (some Wayland
    // compositors, the offscreen platform) get the window moved by hand.
    dragging_ = true;
    dragStartMouse_ = mouse->globalPosition().toPoint();
    dragStartWindow_ = owner_->pos();
    return true;
  }
  case QEvent::MouseMove:
    if (!dragging_)
      return false;
    if (!(mouse->buttons() & Qt::LeftButton)) {
      dragging_ = false;
      return false;
    }
    owner_->move(dragStartWindow_ + (mouse->globalPosition().toPoint() - dragStartMouse_));
    return true;
  case QEvent::MouseButtonRelease:
    if (!dragging_ || mouse->button() != Qt::LeftButton)
      return false;
    dragging_ = false;
    return true;
  default:
    return false;
  }
}

bool TFormSize::eventFilter(QObject *watched, QEvent *event) {
  if (watched != owner_)
    return false;
  switch (event->type()) {
  case QEvent::Move:
    if (magnet_ && !snapping_)
      snapToWorkArea();
    break;
  case QEvent::Show:
    savedAtClose_ = false;
    break;
  case QEvent::Close:
    // Saved at every close request: the window may refuse to close, and the
    // later close that succeeds must write the placement of that moment.
    if (savePosition_)
      SavePlacement();
    savedAtClose_ = true;
    break;
  case QEvent::PlatformSurface:
    // A window deleted without being closed.
    if (static_cast<QPlatformSurfaceEvent *>(event)->surfaceEventType() ==
            QPlatformSurfaceEvent::SurfaceAboutToBeDestroyed &&
        !savedAtClose_ && savePosition_) {
      SavePlacement();
      savedAtClose_ = true;
    }
    break;
  case QEvent::MouseButtonPress:
  case QEvent::MouseMove:
  case QEvent::MouseButtonRelease:
    return dragEvent(event);
  default:
    break;
  }
  return false;
}
