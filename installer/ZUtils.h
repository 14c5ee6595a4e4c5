#pragma once

#include <QString>
#include <QStringList>

namespace zinst {

// Special folders asked for by GetSpecialFolder, numbered as the Windows shell
// numbers them so install logic reads the same on every system.
constexpr int kFolderPrograms = 2;  // the menu's Programs folder
constexpr int kFolderDesktop = 16;  // the user's desktop directory

// Hidden window for a started program; on Linux programs get no window of ours.
constexpr int kShowHidden = 0;
constexpr int kShowNormal = 1;

// Directory of the running executable, with a trailing '/'.
QString AppDir();

// text with a '/' appended unless it already ends in one; "" gives "/".
QString IncludeTrailingSlash(const QString& text);

// Replaces the first occurrence of pattern in text (case-sensitive).
QString ReplaceFirst(const QString& replacement, const QString& pattern, const QString& text);
// ReplaceFirst from the beginning again and again until the text stays the
// same. replacement must not contain pattern.
QString ReplaceAll(const QString& replacement, const QString& pattern, const QString& text);

// The special folder (kFolderDesktop, kFolderPrograms) with a trailing '/', or
// "" when it cannot be resolved.
QString GetSpecialFolder(int folder);

// Opens file (a folder, document or web address) with the desktop's opener.
// parameters, directory and show state have no meaning for the opener and are
// accepted for the callers' sake.
void ShellOpen(const QString& file, const QString& parameters, const QString& directory,
               int showState);

// Starts a program with no arguments, without a shell, and waits for it in
// slices of waitSlice milliseconds (0: endless) with the event loop running.
// Returns its exit code, or -1 when it cannot be started or its command line
// is too long (see process_runner.h).
int ExecAndWait(const QString& program, const QStringList& arguments, int showState, int waitSlice);

// Splits text at every character of dividers; n dividers give n + 1 items,
// empty ones included; "" gives no item.
void SplitString(QStringList& list, const QString& text, const QString& dividers);

// Upper-cases the letters a to z only.
QString UpperAZ(const QString& text);

}  // namespace zinst
