#include "ui/about_dialog.h"

#include <QApplication>
#include <QDesktopServices>
#include <QIcon>
#include <QLabel>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPushButton>
#include <QUrl>

#include <cstdio>

namespace {

constexpr int kClientWidth = 396;
constexpr int kClientHeight = 247;
constexpr int kPointSize = 8;
constexpr int kIconSize = 49;
constexpr int kDonateWidth = 122;
constexpr int kDonateHeight = 47;

TOpenLinkHook &openLinkHook() {
  static TOpenLinkHook hook;
  return hook;
}

QString fromView(std::string_view view) {
  return QString::fromUtf8(view.data(), qsizetype(view.size()));
}

QLabel *label(const char *name, QWidget *parent, int left, int top) {
  auto *result = new QLabel(parent);
  result->setObjectName(name);
  result->move(left, top);
  return result;
}

// The donation "button": a drawn picture on a transparent ground, so the
// program ships no image made by someone else.
QPixmap donationPicture(qreal ratio) {
  QPixmap picture(QSize(kDonateWidth, kDonateHeight) * ratio);
  picture.setDevicePixelRatio(ratio);
  picture.fill(Qt::transparent);
  QPainter painter(&picture);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF face(2.5, 6.5, kDonateWidth - 5, kDonateHeight - 13);
  QLinearGradient fill(face.topLeft(), face.bottomLeft());
  fill.setColorAt(0, QColor(0xff, 0xe0, 0x8a));
  fill.setColorAt(1, QColor(0xf5, 0xa6, 0x23));
  QPainterPath shape;
  shape.addRoundedRect(face, face.height() / 2, face.height() / 2);
  painter.fillPath(shape, fill);
  painter.setPen(QPen(QColor(0xc0, 0x80, 0x10), 1));
  painter.drawPath(shape);
  QFont font = painter.font();
  font.setBold(true);
  font.setPointSize(10);
  painter.setFont(font);
  painter.setPen(QColor(0x1a, 0x2b, 0x5c));
  painter.drawText(face, Qt::AlignCenter, QStringLiteral("Donate"));
  return picture;
}

// The look of a link label at rest and under the mouse.
void setLinkLook(QLabel *label, const QColor &colour, bool underline) {
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, colour);
  label->setPalette(palette);
  QFont font = label->font();
  font.setUnderline(underline);
  label->setFont(font);
}

} // namespace

void OpenLink(const QUrl &url) {
  if (openLinkHook())
    openLinkHook()(url);
  else
    QDesktopServices::openUrl(url);
}

void SetOpenLinkHook(TOpenLinkHook hook) {
  openLinkHook() = std::move(hook);
}

std::string AboutVersionLine(const TFileVersion &version) {
  char line[96];
  std::snprintf(line, sizeof line, "Version : %d.%d.%d Build %d", version.Major, version.Minor,
                version.Release, version.Build);
  return line;
}

TfrmAbout::TfrmAbout(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
  setObjectName("frmAbout");
  setWindowTitle(QStringLiteral("About"));
  QFont small = font();
  small.setPointSize(kPointSize);
  setFont(small);
  setFixedSize(kClientWidth, kClientHeight);
  buildControls();
  FormCreate();
}

void TfrmAbout::buildControls() {
  Button1_ = new QPushButton(QStringLiteral("&OK"), this);
  Button1_->setObjectName("Button1");
  Button1_->setGeometry(295, 8, 75, 25);
  Button1_->setDefault(true);
  connect(Button1_, &QPushButton::clicked, this, &QDialog::accept);

  Image1_ = label("Image1", this, 16, 24);
  Image1_->resize(kIconSize, kIconSize);
  Label1_ = label("Label1", this, 80, 24);
  QFont title = Label1_->font();
  title.setBold(true);
  Label1_->setFont(title);
  Label2_ = label("Label2", this, 80, 48);

  Label5_ = label("Label5", this, 16, 93);
  Label5_->setText(fromView(kFreewareStatement));
  Label6_ = label("Label6", this, 16, 112);
  Label6_->setText(fromView(kDonationInvitation));

  Image2_ = label("Image2", this, 16, 136);
  Image2_->setFixedSize(kDonateWidth, kDonateHeight);
  Image2_->setAttribute(Qt::WA_TranslucentBackground);
  Image2_->setPixmap(donationPicture(devicePixelRatioF()));
  Image2_->setToolTip(fromView(kDonationPage));

  Label3_ = label("Label3", this, 16, 200);
  Label3_->setText(QString::fromStdString(CompiledVersionValues().LegalCopyright) +
                   QStringLiteral(" - ") + fromView(kWebAddress));
  Label4_ = label("Label4", this, 16, 219);
  Label4_->setText(fromView(kContactEMail));

  for (QLabel *link : {Label5_, Label6_, Label3_, Label4_})
    link->adjustSize();
  for (QLabel *link : {Image2_, Label3_, Label4_})
    link->installEventFilter(this);
  for (QLabel *link : {Label3_, Label4_})
    linkMouseLeave(link);
}

void TfrmAbout::FormCreate() {
  Label2_->setText(QString::fromStdString(AboutVersionLine(CompiledFileVersion())));
  Label2_->adjustSize();
  Label1_->setText(QGuiApplication::applicationDisplayName());
  Label1_->adjustSize();
  Image1_->setPixmap(QApplication::windowIcon().pixmap(kIconSize, kIconSize));
}

void TfrmAbout::linkMouseEnter(QLabel *label) {
  setLinkLook(label, QColor(0, 0, 255), true);
  label->setCursor(Qt::PointingHandCursor);
}

void TfrmAbout::linkMouseLeave(QLabel *label) {
  setLinkLook(label, QColor(0, 0, 0), false);
  label->unsetCursor();
}

bool TfrmAbout::eventFilter(QObject *watched, QEvent *event) {
  auto *link = qobject_cast<QLabel *>(watched);
  if (!link || (link != Image2_ && link != Label3_ && link != Label4_))
    return QDialog::eventFilter(watched, event);
  switch (event->type()) {
  case QEvent::Enter:
    if (link == Image2_)
      link->setCursor(Qt::PointingHandCursor);
    else
      linkMouseEnter(link);
    return false;
  case QEvent::Leave:
    if (link == Image2_)
      link->unsetCursor();
    else
      linkMouseLeave(link);
    return false;
  case QEvent::MouseButtonPress:
    // Taken here, so the release comes back to the link.
    return static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton;
  case QEvent::MouseButtonRelease: {
    auto *mouse = static_cast<QMouseEvent *>(event);
    // A click is a press and release on the link, as with a button: moving
    // off before letting go cancels it.
    if (mouse->button() != Qt::LeftButton || !link->rect().contains(mouse->position().toPoint()))
      return false;
    if (link == Image2_)
      OpenLink(QUrl(fromView(kDonationPage)));
    else if (link == Label3_)
      OpenLink(QUrl(fromView(kWebAddress)));
    else
      OpenLink(QUrl(QStringLiteral("mailto:") + fromView(kContactEMail)));
    return true;
  }
  default:
    return QDialog::eventFilter(watched, event);
  }
}
