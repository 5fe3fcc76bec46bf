#pragma once

#include "pipeline/data_view_items.h"

#include <QTextCharFormat>

#include <string>
#include <vector>

class QPlainTextEdit;

// Moves queued items into the Data View: tags change the insertion
// attributes (styles are only ever added), text items become lines with the
// current attributes. One tick's items go in as one edit of the document, and
// consecutive lines of one format as one insertion, so a heavy capture costs
// a few insertions per packet, not several per line; the plain-text view lays
// out only what it shows.
class TDataViewWriter {
public:
  explicit TDataViewWriter(QPlainTextEdit *view);

  void Flush(const std::vector<std::string> &items);
  const TTextAttributes &Attributes() const { return attributes_; }
  // The face the view's text is set in: "Courier New" when the system has
  // it, else the system's fixed-pitch font.
  static QString FixedFamily();

private:
  QTextCharFormat formatOf(const TTextAttributes &attributes) const;

  QPlainTextEdit *view_;
  TTextAttributes attributes_;
  QString family_;
};
