#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

namespace zinst {

// The wizard's pages in their order. The index is the page's identity for
// every rule below.
enum TPage : int {
  kPageMain = 0,
  kPageLicence = 1,
  kPageDestDir = 2,
  kPageShortcut = 3,
  kPageSummary = 4,
  kPageFinish = 5,
  kPageCount = 6,
};

// The page after current: DestDir is skipped when the destination page is
// off, Shortcut when the shortcut page is off. May give kPageCount (no page).
int NextPage(int current, bool destDirDlg, bool shortcutDlg);
// The mirror of NextPage; may give -1 (no page).
int PriorPage(int current, bool destDirDlg, bool shortcutDlg);

// The destination put into the empty field: prog_dir_name/, def_dir_name/
// (each left out when empty), then prog_name. Linux names are case-sensitive,
// so nothing is upper-cased.
QString DefaultDestination(const QString& progDirName, const QString& defDirName,
                           const QString& progName);

// The folder picked in the folder dialog as it goes into the field: the
// program's own sub-directory is added unless prog_name already occurs in it.
QString DestDirAfterDialog(const QString& picked, const QString& progName);

// Free bytes (or -1) as whole megabytes, truncated toward zero (-1 gives 0).
int64_t FreeMegabytes(int64_t freeBytes);

// The host shown for www_addr: without "http://", cut before the first '/'.
QString WwwLinkText(const QString& wwwAddr);

struct TSummaryChoices {
  QString ProgName;
  bool DestDirDlg = true;
  QString Destination;  // as typed
  bool DestinationExists = false;
  bool ShortcutDlg = true;
  bool DesktopShortcut = true;
  bool StartMenuGroup = true;
};

// The lines of the summary page.
QStringList SummaryLines(const TSummaryChoices& choices);

// What the wizard window does for the navigator.
class TNavigatorHost {
 public:
  virtual ~TNavigatorHost() = default;
  virtual int GetNextPage(int current) = 0;
  virtual int GetPriorPage(int current) = 0;
  virtual void PageLeave(int page) = 0;
  virtual void PageEnter(int page) = 0;
  virtual void PageShown(int page) = 0;  // the page area now shows page
  virtual void SetButtons(bool backEnabled, bool nextEnabled) = 0;
  virtual void PageShow(int page) = 0;
};

// Owns the current page and the Back and Next buttons' state. A move runs, in
// this order: the old page's Leave, the new page's Enter, showing the new
// page, the button update (a button is enabled when its rule gives a page),
// the new page's Show. A rule that gives no page changes nothing.
class TInstallationNavigator final {
 public:
  explicit TInstallationNavigator(TNavigatorHost& host) : Host(host) {}

  // Shows page without events and updates the buttons once.
  void Start(int page);
  bool Next();
  bool Back();
  int Current() const { return CurrentPage; }
  void UpdateButtons();

 private:
  bool MoveTo(int page);

  TNavigatorHost& Host;
  int CurrentPage = kPageMain;
};

}  // namespace zinst
