#include "ui/data_view_writer.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

namespace {

constexpr int kPointSize = 9;

} // namespace

TDataViewWriter::TDataViewWriter(QTextEdit *view) : view_(view), family_(FixedFamily()) {}

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
  // A new line goes after the last one; the first one of an empty view
  // takes the block that is already there.
  bool first = document->isEmpty();
  QTextCharFormat format = formatOf(attributes_);
  for (const std::string &item : items) {
    const TTextAttributes before = attributes_;
    if (!ApplyItem(item, attributes_)) {
      if (!(attributes_ == before))
        format = formatOf(attributes_);
      continue;
    }
    ForEachItemLine(item, [&](std::string_view line) {
      if (!first)
        cursor.insertBlock();
      first = false;
      // Packet text goes in as plain text, never as markup.
      cursor.insertText(QString::fromUtf8(line.data(), qsizetype(line.size())), format);
    });
  }
  cursor.endEditBlock();
}
