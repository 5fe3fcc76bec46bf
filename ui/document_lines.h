#pragma once

#include "pipeline/data_view_items.h"

#include <QString>
#include <QTextBlock>

#include <string>
#include <vector>

class QTextDocument;

// The Data View's document as styled lines, for the RTF writer: each block
// holds one item, its lines joined by line separators, all in the item's
// format. Lines are best read in order (the writer does): the next one is a
// step away, any other is walked to.
class TDocumentLines : public TStyledLineSource {
public:
  explicit TDocumentLines(const QTextDocument &document);

  size_t LineCount() const override { return lineCount_; }
  // The text stays valid until the next call.
  TStyledLine Line(size_t index) const override;

private:
  void enterBlock(const QTextBlock &block, size_t firstLine) const;

  const QTextDocument &document_;
  size_t lineCount_ = 0;
  // The block being read, its lines, and the index of its first line.
  mutable QTextBlock block_;
  mutable std::vector<QString> blockLines_;
  mutable size_t blockFirstLine_ = 0;
  mutable TTextAttributes blockAttributes_;
  mutable std::string text_;
};

// The name the Save command writes: ".rtf" added when the name has none.
std::string WithRtfExtension(const std::string &fileName);
