#include "installer/widgets/link_label.h"

#include <QGraphicsDropShadowEffect>
#include <QMouseEvent>
#include <QShortcut>

namespace zinst {

QString MnemonicToHtml(const QString& caption) {
  QString html;
  for (qsizetype i = 0; i < caption.size(); ++i) {
    if (caption[i] == QLatin1Char('&') && i + 1 < caption.size()) {
      ++i;
      const QString letter = QString(caption[i]).toHtmlEscaped();
      html += caption[i] == QLatin1Char('&')
                  ? letter
                  : QLatin1String("<u>") + letter + QLatin1String("</u>");
    } else {
      html += QString(caption[i]).toHtmlEscaped();
    }
  }
  return html;
}

TLinkLabel::TLinkLabel(const QString& caption, QWidget* parent, QColor shadow)
    : QLabel(parent), Shadow(new QGraphicsDropShadowEffect(this)) {
  setTextFormat(Qt::RichText);
  setCursor(Qt::PointingHandCursor);
  Shadow->setColor(shadow);
  Shadow->setOffset(1, 1);
  Shadow->setBlurRadius(0);
  Shadow->setEnabled(false);
  setGraphicsEffect(Shadow);
  SetCaption(caption);
  auto* shortcut = new QShortcut(QKeySequence::mnemonic(caption), this);
  shortcut->setContext(Qt::WindowShortcut);
  connect(shortcut, &QShortcut::activated, this, [this] {
    if (isVisible()) emit clicked();
  });
}

void TLinkLabel::SetCaption(const QString& caption) {
  CaptionText = caption;
  setText(MnemonicToHtml(caption));
}

int TLinkLabel::ShadowSize() const { return Shadow->isEnabled() ? 1 : 0; }
void TLinkLabel::AddShadow() { Shadow->setEnabled(true); }
void TLinkLabel::DeleteShadow() { Shadow->setEnabled(false); }

void TLinkLabel::enterEvent(QEnterEvent* event) {
  AddShadow();
  QLabel::enterEvent(event);
}

void TLinkLabel::leaveEvent(QEvent* event) {
  DeleteShadow();
  QLabel::leaveEvent(event);
}

void TLinkLabel::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
    emit clicked();
  }
  QLabel::mouseReleaseEvent(event);
}

}  // namespace zinst
