#include "installer/FBase.h"

#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include "installer/TZMg.h"
#include "installer/ZUtils.h"
#include "installer/widgets/copy_animation.h"
#include "installer/widgets/link_label.h"
#include "installer/wizard/page_rules.h"

namespace zinst {

namespace {

constexpr int kButtonWidth = 90;
constexpr int kButtonHeight = 26;
constexpr int kRightLeft = TFrmBase::kPanelWidth + 4;
constexpr int kRightWidth = TFrmBase::kWidth - kRightLeft - 4;

// Restores the normal cursor however the opening ends.
class TBusyCursor final {
 public:
  TBusyCursor() { QGuiApplication::setOverrideCursor(Qt::BusyCursor); }
  ~TBusyCursor() { QGuiApplication::restoreOverrideCursor(); }
  TBusyCursor(const TBusyCursor&) = delete;
  TBusyCursor& operator=(const TBusyCursor&) = delete;
};

}  // namespace

TFrmBase::TFrmBase(const TZInstallManager& manager, QWidget* parent)
    : QWidget(parent), Manager(manager) {
  setFixedSize(kWidth, kHeight);
  setWindowTitle(QStringLiteral("   Instalacja programu ") + Manager.ProgName);

  Picture = new QLabel(this);
  Picture->setGeometry(0, 0, kPanelWidth, kHeight - kBarHeight);
  Picture->setPixmap(Artwork());
  Picture->setScaledContents(true);

  LabWWW = new TLinkLabel(WwwLinkText(Manager.WwwAddr).replace('&', "&&"), this,
                          QColor(Qt::gray).lighter(130));
  LabWWW->setGeometry(4, kHeight - kBarHeight - 22, kPanelWidth - 10, 18);
  LabWWW->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  LabWWW->setStyleSheet(QStringLiteral("color: white;"));
  connect(LabWWW, &TLinkLabel::clicked, this, &TFrmBase::LabWWWClick);

  LabelAddr = new QLabel(Manager.FirmAddr, this);
  LabelAddr->setTextFormat(Qt::PlainText);
  LabelAddr->setGeometry(kRightLeft, 4, kRightWidth, 16);
  LabelAddr->setAlignment(Qt::AlignCenter);

  LabelTitle = new QLabel(Manager.ProgName, this);
  LabelTitle->setTextFormat(Qt::PlainText);
  LabelTitle->setGeometry(kRightLeft, 20, kRightWidth, 32);
  LabelTitle->setAlignment(Qt::AlignCenter);
  QFont titleFont = LabelTitle->font();
  titleFont.setPixelSize(23);
  titleFont.setBold(true);
  LabelTitle->setFont(titleFont);

  Rule = new QFrame(this);
  Rule->setGeometry(kRightLeft, 54, kRightWidth, 5);
  Rule->setFrameShape(QFrame::HLine);
  Rule->setFrameShadow(QFrame::Sunken);
  Rule->setLineWidth(1);
  Rule->setMidLineWidth(1);

  const int buttonTop = kHeight - kBarHeight + (kBarHeight - kButtonHeight) / 2;
  BtnCancel =
      new QPushButton(QIcon(QStringLiteral(":/zinst/cancel.png")), QStringLiteral("&Anuluj"), this);
  BtnCancel->setFlat(true);
  BtnCancel->setGeometry(8, buttonTop, kButtonWidth, kButtonHeight);
  BtnNext = new QPushButton(QStringLiteral("&Dalej >>"), this);
  BtnNext->setGeometry(kWidth - 8 - kButtonWidth, buttonTop, kButtonWidth, kButtonHeight);
  BtnPrev = new QPushButton(QStringLiteral("<< &Wróć"), this);
  BtnPrev->setGeometry(kWidth - 8 - 2 * kButtonWidth - 6, buttonTop, kButtonWidth, kButtonHeight);
  connect(BtnCancel, &QPushButton::clicked, this, &TFrmBase::BtnCancelClick);

  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
}

void TFrmBase::LabWWWClick() {
  if (Manager.WwwAddr.isEmpty()) return;
  TBusyCursor busy;
  ShellOpen(Manager.WwwAddr, QString(), QString(), kShowNormal);
}

void TFrmBase::BtnCancelClick() { close(); }

}  // namespace zinst
