#include "ui/data_view_writer.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QPlainTextEdit>
#include <QTextCursor>
#include <QTextDocument>

namespace {

constexpr int kPointSize = 9;

} // namespace

TDataViewWriter::TDataViewWriter(QPlainTextEdit *view) : view_(view), family_(FixedFamily()) {}

QString TDataViewWriter::FixedFamily() {
  const QString wanted = QStringLiteral("Courier New");
  if (QFontDatabase::families().contains(wanted, Qt::CaseInsensitive))
    return wanted;
  return QFontDatabase::systemFont(QFontDatabase::FixedFont).family();
}

QTextCharFormat TDataViewWriter::formatOf(const TTextAttributes &attributes) const {
  QTextCharFormat format;
  format.setFontFamilies({family_});
  format.setFontFixedPitch(true);
  format.setFontPointSize(kPointSize);
  format.setFontWeight(attributes.Bold ? QFont::Bold : QFont::Normal);
  format.setFontItalic(attributes.Italic);
  format.setFontUnderline(attributes.Underline);
  const uint32_t colour = attributes.Colour;
  format.setForeground(
      QColor(int(colour & 0xFF), int((colour >> 8) & 0xFF), int((colour >> 16) & 0xFF)));
  return format;
}

void TDataViewWriter::Flush(const std::vector<std::string> &items) {
  if (items.empty())
    return;
  QTextDocument *document = view_->document();
  QTextCursor cursor(document);
  cursor.movePosition(QTextCursor::End);
  cursor.beginEditBlock();
  // Each text item is one block of the document (insertText turns "\n"
  // into a block separator) whose lines are joined by line separators: an
  // item of many lines (a hex dump) then costs one block, the expensive part
  // of a document. The first item of an empty view takes the block that is
  // already there.
  bool first = document->isEmpty();
  QTextCharFormat format = formatOf(attributes_);
  QString run;
  const auto insertRun = [&] {
    if (!run.isEmpty())
      cursor.insertText(run, format); // as plain text, never as markup
    run.clear();
  };
  for (const std::string &item : items) {
    const TTextAttributes before = attributes_;
    if (!ApplyItem(item, attributes_)) {
      if (!(attributes_ == before)) {
        insertRun();
        format = formatOf(attributes_);
      }
      continue;
    }
    if (!first)
      run += QLatin1Char('\n');
    first = false;
    bool firstLine = true;
    ForEachItemLine(item, [&](std::string_view line) {
      if (!firstLine)
        run += QChar::LineSeparator;
      firstLine = false;
      run += QString::fromUtf8(line.data(), qsizetype(line.size()));
    });
  }
  insertRun();
  cursor.endEditBlock();
}
