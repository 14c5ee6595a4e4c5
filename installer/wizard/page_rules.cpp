#include "installer/wizard/page_rules.h"

#include "installer/ZUtils.h"

namespace zinst {

namespace {

bool IsPage(int page) { return page >= 0 && page < kPageCount; }

int Skip(int n, bool destDirDlg, bool shortcutDlg, int step) {
  for (;;) {
    const int before = n;
    if (IsPage(n)) {
      const int looked = n;
      if (!destDirDlg && looked == kPageDestDir) n += step;
      if (!shortcutDlg && looked == kPageShortcut) n += step;
    }
    if (n == before) return n;
  }
}

}  // namespace

int NextPage(int current, bool destDirDlg, bool shortcutDlg) {
  return Skip(current + 1, destDirDlg, shortcutDlg, +1);
}

int PriorPage(int current, bool destDirDlg, bool shortcutDlg) {
  return Skip(current - 1, destDirDlg, shortcutDlg, -1);
}

QString DefaultDestination(const QString& progDirName, const QString& defDirName,
                           const QString& progName) {
  QString dest;
  if (!progDirName.isEmpty()) dest += IncludeTrailingSlash(progDirName);
  if (!defDirName.isEmpty()) dest += IncludeTrailingSlash(defDirName);
  return dest + progName;
}

QString DestDirAfterDialog(const QString& picked, const QString& progName) {
  if (picked.contains(progName, Qt::CaseSensitive)) return picked;
  return IncludeTrailingSlash(picked) + progName;
}

int64_t FreeMegabytes(int64_t freeBytes) { return freeBytes / 1048576; }

QString WwwLinkText(const QString& wwwAddr) {
  QString text = wwwAddr;
  // Secure addresses are common now; their scheme goes as "http://" does.
  if (text.startsWith(QLatin1String("https://"))) {
    text.remove(0, 8);
  } else if (text.contains(QLatin1String("http://"))) {
    text.remove(0, 7);
  }
  const qsizetype slash = text.indexOf(QLatin1Char('/'));
  return slash >= 0 ? text.left(slash) : text;
}

QStringList SummaryLines(const TSummaryChoices& c) {
  QStringList lines{QStringLiteral("+ Instalacja programu:"),
                    QStringLiteral("  - ") + UpperAZ(c.ProgName)};
  if (c.DestDirDlg) {
    lines << QStringLiteral("+ Katalog docelowy:")
          << QStringLiteral("  - ") + UpperAZ(c.Destination);
    if (c.DestinationExists)
      lines << QStringLiteral("  - UWAGA! Katalog o podanej nazwie już istnieje.");
  }
  if (c.ShortcutDlg) {
    lines << QStringLiteral("+ Skróty:")
          << (c.DesktopShortcut ? QStringLiteral("  - Tworzony skrót na pulpicie")
                                : QStringLiteral("  - Skrót na pulpicie nie jest tworzony"))
          << (c.StartMenuGroup ? QStringLiteral("  - Tworzona grupa w Menu Start")
                               : QStringLiteral("  - Grupa w Menu Start nie jest tworzona"));
  }
  return lines;
}

void TInstallationNavigator::Start(int page) {
  CurrentPage = page;
  Host.PageShown(page);
  UpdateButtons();
}

void TInstallationNavigator::UpdateButtons() {
  Host.SetButtons(IsPage(Host.GetPriorPage(CurrentPage)), IsPage(Host.GetNextPage(CurrentPage)));
}

bool TInstallationNavigator::Next() { return MoveTo(Host.GetNextPage(CurrentPage)); }
bool TInstallationNavigator::Back() { return MoveTo(Host.GetPriorPage(CurrentPage)); }

bool TInstallationNavigator::MoveTo(int page) {
  if (!IsPage(page)) return false;
  const int old = CurrentPage;
  Host.PageLeave(old);
  Host.PageEnter(page);
  CurrentPage = page;
  Host.PageShown(page);
  UpdateButtons();
  Host.PageShow(page);
  return true;
}

}  // namespace zinst
