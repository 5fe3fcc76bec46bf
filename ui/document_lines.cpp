#include "ui/document_lines.h"

#include <QFileInfo>
#include <QTextDocument>
#include <QTextFragment>

namespace {

TTextAttributes attributesOf(const QTextCharFormat &format) {
  TTextAttributes attributes;
  attributes.Bold = format.fontWeight() >= QFont::Bold;
  attributes.Italic = format.fontItalic();
  attributes.Underline = format.fontUnderline();
  const QColor colour = format.foreground().color();
  attributes.Colour =
      uint32_t(colour.blue()) << 16 | uint32_t(colour.green()) << 8 | uint32_t(colour.red());
  return attributes;
}

size_t linesIn(const QTextBlock &block) {
  return size_t(block.text().count(QChar::LineSeparator)) + 1;
}

} // namespace

TDocumentLines::TDocumentLines(const QTextDocument &document) : document_(document) {
  if (document.isEmpty())
    return;
  for (QTextBlock block = document.begin(); block.isValid(); block = block.next())
    lineCount_ += linesIn(block);
  enterBlock(document.begin(), 0);
}

void TDocumentLines::enterBlock(const QTextBlock &block, size_t firstLine) const {
  block_ = block;
  blockFirstLine_ = firstLine;
  blockLines_.clear();
  for (const QString &line : block.text().split(QChar::LineSeparator))
    blockLines_.push_back(line);
  // An item's lines share its format; an empty line keeps its block's.
  const QTextBlock::iterator first = block.begin();
  blockAttributes_ =
      attributesOf(first.atEnd() ? block.charFormat() : first.fragment().charFormat());
}

TStyledLine TDocumentLines::Line(size_t index) const {
  if (index < blockFirstLine_)
    enterBlock(document_.begin(), 0);
  while (index >= blockFirstLine_ + blockLines_.size() && block_.next().isValid())
    enterBlock(block_.next(), blockFirstLine_ + blockLines_.size());
  const size_t within = index - blockFirstLine_;
  text_ = within < blockLines_.size() ? blockLines_[within].toStdString() : std::string();
  return {text_, blockAttributes_};
}

std::string WithRtfExtension(const std::string &fileName) {
  if (QFileInfo(QString::fromStdString(fileName)).suffix().isEmpty())
    return fileName + ".rtf";
  return fileName;
}
