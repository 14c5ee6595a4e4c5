#pragma once

#include <QTimer>
#include <QWidget>

namespace zinst {

// The file-copy animation shown while the setup program is copied and run: a
// sheet of paper flies in an arc from one folder to another.
class TCopyAnimation final : public QWidget {
  Q_OBJECT

 public:
  explicit TCopyAnimation(QWidget* parent);

  void Start();
  void Stop();
  bool Active() const { return Timer.isActive(); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QTimer Timer;
  int Frame = 0;
};

// The artwork of the left panels, from the program's resources.
QPixmap Artwork();

}  // namespace zinst
