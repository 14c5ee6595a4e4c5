#include "installer/DMsg.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include "installer/widgets/copy_animation.h"

namespace zinst {

namespace {

constexpr int kWidth = 336;
constexpr int kHeight = 183;
constexpr int kPanelWidth = 111;
constexpr int kBarHeight = 41;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;

}  // namespace

TZDlgMsg::TZDlgMsg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Z-Instalator"));
  setFixedSize(kWidth, kHeight);
  setModal(true);

  auto* picture = new QLabel(this);
  picture->setGeometry(0, 0, kPanelWidth, kHeight - kBarHeight);
  picture->setPixmap(Artwork());
  picture->setScaledContents(true);

  MemoMsg = new QPlainTextEdit(this);
  MemoMsg->setGeometry(kPanelWidth + 8, 8, kWidth - kPanelWidth - 16, kHeight - kBarHeight - 12);
  MemoMsg->setReadOnly(true);
  MemoMsg->setFocusPolicy(Qt::NoFocus);
  MemoMsg->setFrameShape(QFrame::NoFrame);
  MemoMsg->setBackgroundRole(QPalette::Window);
  MemoMsg->viewport()->setBackgroundRole(QPalette::Window);
  MemoMsg->viewport()->setAutoFillBackground(false);

  const int buttonTop = kHeight - kBarHeight + (kBarHeight - kButtonHeight) / 2;
  const int right = kWidth - 8 - kButtonWidth;
  BtnOK = new QPushButton(QStringLiteral("OK"), this);
  BtnOK->setGeometry(right, buttonTop, kButtonWidth, kButtonHeight);
  BtnNo = new QPushButton(QStringLiteral("Nie"), this);
  BtnNo->setGeometry(right, buttonTop, kButtonWidth, kButtonHeight);
  BtnYes = new QPushButton(QStringLiteral("Tak"), this);
  BtnYes->setGeometry(right - 8 - kButtonWidth, buttonTop, kButtonWidth, kButtonHeight);
  connect(BtnOK, &QPushButton::clicked, this, &TZDlgMsg::BtnOKClick);
  connect(BtnYes, &QPushButton::clicked, this, &TZDlgMsg::BtnYesClick);
  connect(BtnNo, &QPushButton::clicked, this, &TZDlgMsg::BtnNoClick);
  SetKind(kMsgOk);
}

void TZDlgMsg::SetMsgText(const QString& text) {
  MsgText = text;
  MemoMsg->clear();
  QString lines = text;
  lines.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  MemoMsg->setPlainText(lines);
}

void TZDlgMsg::SetKind(int kind) {
  Kind = kind;
  if (kind == kMsgOk) {
    BtnYes->hide();
    BtnNo->hide();
    BtnOK->show();
  } else if (kind == kMsgYesNo) {
    BtnYes->show();
    BtnNo->show();
    BtnOK->hide();
  }
}

int TZDlgMsg::ShowMsg(const QString& text, int kind) {
  SetMsgText(text);
  SetKind(kind);
  if (AutomaticAnswer >= 0) return AutomaticAnswer;
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  return exec();
}

void TZDlgMsg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (ShownHandler) {
    QTimer::singleShot(0, this, [this] {
      if (isVisible() && ShownHandler) ShownHandler(*this);
    });
  }
}

}  // namespace zinst
