#pragma once

class QObject;
class QString;

// Shows a caption from the language file on a control of either window: a
// group's title, a button's or label's text, a drop-down list's tool tip.
// False for a control of another kind.
bool SetControlCaption(QObject *control, const QString &text);
