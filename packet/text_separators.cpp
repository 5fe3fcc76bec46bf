#include "packet/text_separators.h"

#include <QLocale>
#include <QString>

namespace {
// Written at start-up before any formatting thread runs, read-only afterwards.
TextSeparators gSeparators;
} // namespace

const TextSeparators &CurrentTextSeparators() {
  return gSeparators;
}

void SetTextSeparators(const TextSeparators &separators) {
  gSeparators = separators;
}

void LoadSystemTextSeparators() {
  const QLocale system = QLocale::system();
  // Some locales use several bytes here (U+00A0, U+2019, U+202F), so keep the whole UTF-8 text.
  SetTextSeparators(TextSeparators{system.decimalPoint().toStdString(),
                                   system.groupSeparator().toStdString(), std::string(":")});
}
