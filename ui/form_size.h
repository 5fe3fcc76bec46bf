#pragma once

#include "settings/form_placement.h"

#include <QObject>
#include <QPoint>
#include <QPointer>

#include <cstdint>
#include <stdexcept>
#include <string>

class QWidget;

class EFormSizeError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Remembers a top-level window's position, size and maximized state in an INI
// file and puts them back, keeping the window inside the desktop. Optionally
// snaps the window to the work area's edges while it moves, and lets a press
// anywhere in its client area drag it. Owned by (a child of) the window; a
// window holds at most one.
//
// Qt has no "form loaded" notification, so the window calls RestorePlacement
// or RestoreBounds itself once it has set the properties it wants.
class TFormSize : public QObject {
  Q_OBJECT

public:
  // Throws EFormSizeError when `owner` is not a top-level window or already
  // has a TFormSize.
  explicit TFormSize(QWidget *owner);
  ~TFormSize() override;

  bool DragAlways() const { return dragAlways_; }
  void SetDragAlways(bool value) { dragAlways_ = value; }
  bool Magnet() const { return magnet_; }
  void SetMagnet(bool value) { magnet_ = value; }
  int32_t MagnetDistance() const { return magnetDistance_; }
  void SetMagnetDistance(int32_t value) { magnetDistance_ = value; }
  bool SavePosition() const { return savePosition_; }
  void SetSavePosition(bool value) { savePosition_ = value; }
  bool SaveSize() const { return saveSize_; }
  void SetSaveSize(bool value) { saveSize_ = value; }
  bool SaveUser() const { return saveUser_; }
  void SetSaveUser(bool value) { saveUser_ = value; }
  bool SaveMachine() const { return saveMachine_; }
  void SetSaveMachine(bool value) { saveMachine_ = value; }
  const std::string &SaveName() const { return saveName_; }
  void SetSaveName(const std::string &value) { saveName_ = value; }
  const std::string &SaveKey() const { return saveKey_; }
  void SetSaveKey(const std::string &value) { saveKey_ = value; }

  // 0x01010002: the component's version, one byte per part.
  virtual uint32_t VersionNumber() const;
  // VersionNumber as "a.b.c.d".
  std::string Version() const;
  // The version is not settable; kept so that stored property sets load.
  void SetVersion(const std::string &) {}

  // SaveKey, then "-" + user name when SaveUser, then "-" + host name when
  // SaveMachine.
  std::string SectionName() const;
  // Applies the saved placement; values missing from the file keep the
  // window's current ones. Does nothing when SaveName or SaveKey is empty.
  void RestorePlacement();
  // Writes the window's normal rectangle and maximized state. Does nothing
  // when SaveName or SaveKey is empty; a file that cannot be written is
  // silently given up, the placement is not worth an error at exit.
  void SavePlacement();
  // RestorePlacement with position and size both switched on for the call.
  void RestoreBounds();

protected:
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  static QWidget *checkedOwner(QWidget *owner);
  TPlacement currentPlacement() const;
  void snapToWorkArea();
  bool dragEvent(QEvent *event);

  QPointer<QWidget> owner_;
  bool dragAlways_ = false;
  bool magnet_ = false;
  int32_t magnetDistance_ = 32;
  bool savePosition_ = true;
  bool saveSize_ = true;
  bool saveUser_ = false;
  bool saveMachine_ = false;
  std::string saveName_ = "./FORM.INI";
  std::string saveKey_;

  bool snapping_ = false;
  // Set once the placement has been saved for the current close, so the
  // destruction of the native window that follows does not write it again.
  bool savedAtClose_ = false;
  // A drag the window system would not take over: moved here with the mouse.
  bool dragging_ = false;
  QPoint dragStartMouse_;
  QPoint dragStartWindow_;
};
