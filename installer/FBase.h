#pragma once

#include <QWidget>

class QFrame;
class QLabel;
class QPushButton;

namespace zinst {

class TLinkLabel;
class TZInstallManager;

// The frame common to the installer's windows (532 x 353): the artwork panel
// at the left with the maker's web link at its bottom, the maker's address,
// the program's title and a rule at the top right, and the bottom bar with
// Anuluj at the left and Wróć / Dalej at the right. Derived windows put their
// content into the area below the rule.
class TFrmBase : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kWidth = 532;
  static constexpr int kHeight = 353;
  static constexpr int kPanelWidth = 176;
  static constexpr int kBarHeight = 38;

  explicit TFrmBase(const TZInstallManager& manager, QWidget* parent = nullptr);

  void LabWWWClick();
  void BtnCancelClick();

  QLabel* Picture;
  TLinkLabel* LabWWW;
  QLabel* LabelAddr;
  QLabel* LabelTitle;
  QFrame* Rule;
  QPushButton* BtnCancel;
  QPushButton* BtnPrev;
  QPushButton* BtnNext;

 protected:
  const TZInstallManager& Manager;
};

}  // namespace zinst
