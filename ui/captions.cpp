#include "ui/captions.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>

bool SetControlCaption(QObject *control, const QString &text) {
  if (auto *group = qobject_cast<QGroupBox *>(control))
    group->setTitle(text);
  else if (auto *button = qobject_cast<QAbstractButton *>(control))
    button->setText(text);
  else if (auto *label = qobject_cast<QLabel *>(control))
    label->setText(text);
  else if (auto *list = qobject_cast<QComboBox *>(control))
    list->setToolTip(text);
  else
    return false;
  return true;
}
