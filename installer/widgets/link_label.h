#pragma once

#include <QColor>
#include <QLabel>

class QGraphicsDropShadowEffect;

namespace zinst {

// A label that acts as a link: hand cursor, a mnemonic given with '&' in its
// caption (Alt+letter clicks it), and a one-pixel shadow to the right and
// bottom while the mouse is over it.
class TLinkLabel final : public QLabel {
  Q_OBJECT

 public:
  TLinkLabel(const QString& caption, QWidget* parent, QColor shadow = Qt::white);

  const QString& Caption() const { return CaptionText; }
  void SetCaption(const QString& caption);
  // The shadow's size: 0 normally, 1 while the mouse is over the label.
  int ShadowSize() const;

  void AddShadow();
  void DeleteShadow();

 signals:
  void clicked();

 protected:
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  QString CaptionText;
  QGraphicsDropShadowEffect* Shadow;
};

// The caption as rich text, the mnemonic letter underlined and "&&" shown as "&".
QString MnemonicToHtml(const QString& caption);

}  // namespace zinst
