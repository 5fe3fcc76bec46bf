#pragma once

#include "filters/plugin_modules.h"
#include "ui/product_info.h"

#include <QWidget>

#include <span>
#include <string>
#include <vector>

class QLabel;
class QTextEdit;

// One line of the product page: a section heading or an ordinary line.
struct TPageLine {
  bool Heading = false;
  std::string Text;
  bool operator==(const TPageLine &) const = default;
};

// The product page's lines in the order they are shown: product, environment,
// version and plug-in sections, then the licence.
std::vector<TPageLine> ProductPageLines(const TVersionValues &version,
                                        const TEnvironmentValues &environment,
                                        std::span<const TCustFilterDLL> modules);
// The plug-in modules loaded now: the first FilterDLLCount rows of FilterDLLs.
std::span<const TCustFilterDLL> LoadedFilterModules();

// The product information page of the main window: a title with the program's
// icon over a read-only text that tells what the program is, what it runs on
// and with, and its licence.
class TProductPage : public QWidget {
  Q_OBJECT
public:
  explicit TProductPage(QWidget *parent = nullptr);

  // Writes the text again from scratch with the values of now.
  void WritePageText();

private:
  QLabel *GradientLabel1_ = nullptr;
  QLabel *Image3_ = nullptr;
  QTextEdit *reAbout_ = nullptr;
};
