#include "installer/widgets/copy_animation.h"

#include <QPainter>
#include <QPixmap>
#include <cmath>

// The resources live in the installer's static library, whose initialiser a
// linker would drop unless something calls it.
static void InitInstallerResources() { Q_INIT_RESOURCE(installer); }

namespace zinst {

namespace {

constexpr int kFrames = 16;
constexpr int kFrameMs = 60;

void DrawFolder(QPainter& p, const QRectF& r) {
  p.setPen(QColor(150, 110, 20));
  p.setBrush(QColor(240, 200, 80));
  p.drawRect(QRectF(r.left(), r.top() + 4, r.width(), r.height() - 4));
  p.drawRect(QRectF(r.left(), r.top(), r.width() * 0.4, 5));
}

}  // namespace

QPixmap Artwork() {
  static const bool initialised = (InitInstallerResources(), true);
  (void)initialised;
  return QPixmap(QStringLiteral(":/zinst/artwork.png"));
}

TCopyAnimation::TCopyAnimation(QWidget* parent) : QWidget(parent) {
  Timer.setInterval(kFrameMs);
  connect(&Timer, &QTimer::timeout, this, [this] {
    Frame = (Frame + 1) % kFrames;
    update();
  });
}

void TCopyAnimation::Start() {
  Frame = 0;
  Timer.start();
  update();
}

void TCopyAnimation::Stop() { Timer.stop(); }

void TCopyAnimation::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal w = width();
  const qreal h = height();
  const QRectF from(4, h - 26, 34, 24);
  const QRectF to(w - 38, h - 26, 34, 24);
  DrawFolder(p, from);
  DrawFolder(p, to);
  const qreal t = static_cast<qreal>(Frame) / (kFrames - 1);
  const qreal x = from.center().x() + (to.center().x() - from.center().x()) * t;
  const qreal y = from.top() - std::sin(t * M_PI) * (h - 34);
  p.setPen(QColor(90, 90, 90));
  p.setBrush(Qt::white);
  p.drawRect(QRectF(x - 6, y - 8, 12, 16));
  p.drawLine(QPointF(x - 3, y - 3), QPointF(x + 3, y - 3));
  p.drawLine(QPointF(x - 3, y + 1), QPointF(x + 3, y + 1));
}

}  // namespace zinst
