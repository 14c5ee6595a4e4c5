#pragma once

#include <QDialog>
#include <functional>

class QPlainTextEdit;
class QPushButton;

namespace zinst {

// Kinds of message: which buttons are shown.
constexpr int kMsgOk = 0;     // OK
constexpr int kMsgYesNo = 1;  // Tak, Nie

// Results of ShowMsg.
constexpr int kResultOk = 1;
constexpr int kResultCancel = 2;  // the window's close control (or Escape)
constexpr int kResultYes = 6;
constexpr int kResultNo = 7;

// The installer's own modal message box (caption "Z-Instalator"), made once
// and reused for every message. Its buttons are public so a caller can
// disable OK while something runs and enable it from outside.
class TZDlgMsg final : public QDialog {
  Q_OBJECT

 public:
  explicit TZDlgMsg(QWidget* parent = nullptr);

  // SetMsgText, SetKind, then shows the dialog modally; returns its result.
  int ShowMsg(const QString& text, int kind);
  // Stores the text; "\r\n" (or "\n") starts a new line.
  void SetMsgText(const QString& text);
  // kMsgOk shows OK only, kMsgYesNo shows Tak and Nie only, any other kind
  // leaves the buttons as they are.
  void SetKind(int kind);

  // For tests and unattended runs. An automatic answer >= 0 makes ShowMsg
  // return it at once without showing anything; -1 turns that off.
  void SetAutomaticAnswer(int answer) { AutomaticAnswer = answer; }
  // Called every time the dialog has become visible in its modal loop.
  void SetShownHandler(std::function<void(TZDlgMsg&)> handler) {
    ShownHandler = std::move(handler);
  }

  void BtnOKClick() { done(kResultOk); }
  void BtnYesClick() { done(kResultYes); }
  void BtnNoClick() { done(kResultNo); }
  void reject() override { done(kResultCancel); }

  QString MsgText;
  int Kind = kMsgOk;
  QPlainTextEdit* MemoMsg;
  QPushButton* BtnOK;
  QPushButton* BtnYes;
  QPushButton* BtnNo;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  int AutomaticAnswer = -1;
  std::function<void(TZDlgMsg&)> ShownHandler;
};

}  // namespace zinst
