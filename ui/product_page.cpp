#include "ui/product_page.h"

#include <QApplication>
#include <QColor>
#include <QIcon>
#include <QLabel>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// Colours are kept in the form blue * 65536 + green * 256 + red.
constexpr uint32_t kTitleColour = 15587527;   // light blue
constexpr uint32_t kHeadingColour = 0x800000; // navy
constexpr int kPointSize = 9;
constexpr int kTitleHeight = 40;
constexpr int kIconSize = 32;
constexpr int kIconMargin = 4;
// Leaves room at the left of the title for the icon drawn over it.
constexpr int kTitleIndent = 18;

QColor colourOf(uint32_t bbggrr) {
  return QColor(int(bbggrr & 0xFF), int((bbggrr >> 8) & 0xFF), int((bbggrr >> 16) & 0xFF));
}

QTextCharFormat lineFormat(bool heading) {
  QTextCharFormat format;
  format.setFontPointSize(kPointSize);
  format.setFontWeight(heading ? QFont::Bold : QFont::Normal);
  // Ordinary lines take the view's own text colour, so they stay readable
  // under any palette; only headings are coloured.
  if (heading)
    format.setForeground(colourOf(kHeadingColour));
  return format;
}

void add(std::vector<TPageLine> &lines, std::string text) {
  lines.push_back({false, std::move(text)});
}

void heading(std::vector<TPageLine> &lines, std::string text) {
  lines.push_back({true, std::move(text)});
}

std::string text(std::string_view view) {
  return std::string(view);
}

} // namespace

std::vector<TPageLine> ProductPageLines(const TVersionValues &version,
                                        const TEnvironmentValues &environment,
                                        std::span<const TCustFilterDLL> modules) {
  std::vector<TPageLine> lines;
  heading(lines, "Product Information");
  add(lines, "Product Name:" + version.ProductName);
  add(lines, "Product Version:" + version.ProductVersion);
  add(lines, text(kFreewareStatement));
  add(lines, text(kDonationInvitation));
  add(lines, VisitWebSiteLine());
  add(lines, " ");
  add(lines, "Vantor captures with a raw packet socket or with libpcap; both need the CAP_NET_RAW "
             "capability (run as root, or give the program: setcap "
             "cap_net_raw,cap_net_admin=eip)");
  add(lines, "The libpcap engine (Debian package libpcap0.8) captures whole frames and can use "
             "promiscuous mode:");
  add(lines, "https://www.tcpdump.org/");
  add(lines, " ");

  heading(lines, "Environment Information");
  add(lines, "Computer:" + environment.ComputerName);
  add(lines, "OS Name:" + environment.OsName);
  add(lines, " ");

  heading(lines, "Version Information");
  add(lines, environment.ExecutablePath);
  add(lines, "File Version:" + version.FileVersion);
  add(lines, "File Description:" + version.FileDescription);
  add(lines, "Company:" + version.CompanyName);
  add(lines, "Copyright:" + version.LegalCopyright);
  add(lines, "TreadMark:" + version.LegalTrademarks);
  add(lines, " ");

  heading(lines, "Plugins Information");
  for (const TCustFilterDLL &module : modules) {
    add(lines, module.Path);
    add(lines, module.Desc);
    add(lines, " ");
  }
  add(lines, " ");

  heading(lines, text(kLicenseTitle));
  add(lines, std::string(18, '='));
  for (std::string_view paragraph : kLicenseParagraphs) {
    add(lines, "");
    add(lines, text(paragraph));
  }
  add(lines, "");
  add(lines, text(kMakerName));
  add(lines, text(kWebAddress));
  return lines;
}

std::span<const TCustFilterDLL> LoadedFilterModules() {
  const int count = std::clamp<int>(FilterDLLCount, 0, kMaxFilterDLLs);
  return std::span<const TCustFilterDLL>(FilterDLLs.data(), size_t(count));
}

TProductPage::TProductPage(QWidget *parent) : QWidget(parent) {
  setObjectName("pgAbout");
  auto *layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  GradientLabel1_ = new QLabel(QString(kTitleIndent, ' ') +
                                   QString::fromUtf8(kProductName.data(), kProductName.size()),
                               this);
  GradientLabel1_->setObjectName("GradientLabel1");
  GradientLabel1_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  GradientLabel1_->setFixedHeight(kTitleHeight);
  GradientLabel1_->setStyleSheet(
      QStringLiteral("background: qlineargradient(x1:0, y1:0, x2:1, y2:0, stop:0 #ffffff, "
                     "stop:1 %1); color: black; font-weight: bold; font-size: 12pt; "
                     "padding-top: %2px;")
          .arg(colourOf(kTitleColour).name())
          .arg(kIconMargin));
  layout->addWidget(GradientLabel1_);

  // The icon sits on the title's left end, over the gradient.
  Image3_ = new QLabel(GradientLabel1_);
  Image3_->setObjectName("Image3");
  Image3_->setGeometry(kIconMargin, kIconMargin, kIconSize, kIconSize);
  Image3_->setStyleSheet(QStringLiteral("background: transparent;"));
  Image3_->setPixmap(QApplication::windowIcon().pixmap(kIconSize, kIconSize));

  reAbout_ = new QTextEdit(this);
  reAbout_->setObjectName("reAbout");
  reAbout_->setReadOnly(true);
  reAbout_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  reAbout_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  layout->addWidget(reAbout_, 1);
}

void TProductPage::WritePageText() {
  const std::vector<TPageLine> lines =
      ProductPageLines(CompiledVersionValues(), ReadEnvironmentValues(), LoadedFilterModules());
  reAbout_->clear();
  QTextCursor cursor(reAbout_->document());
  cursor.beginEditBlock();
  const QTextCharFormat headingFormat = lineFormat(true);
  const QTextCharFormat bodyFormat = lineFormat(false);
  bool first = true;
  for (const TPageLine &line : lines) {
    const QTextCharFormat &format = line.Heading ? headingFormat : bodyFormat;
    // The empty view's one block takes the first line; an empty line still
    // gets the format, so it is as tall as the text around it.
    if (first)
      cursor.setBlockCharFormat(format);
    else
      cursor.insertBlock(QTextBlockFormat(), format);
    first = false;
    // Plug-in descriptions come from outside: plain text, never markup.
    cursor.insertText(QString::fromStdString(line.Text), format);
  }
  cursor.endEditBlock();
  reAbout_->moveCursor(QTextCursor::Start);
}
