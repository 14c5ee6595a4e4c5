#pragma once

#include <QString>
#include <QStringList>

namespace zinst {

// The document type line that opens a menu merge file. It names the root
// element only: menu readers (GNOME's and KDE's) parse merge files without
// validating them, so no external DTD is referred to.
inline constexpr char kMenuDoctype[] = "<!DOCTYPE Menu>\n";

// Shortcuts on a freedesktop desktop: desktop entries (".desktop" files) in the
// desktop folder and in the applications menu, where a group of programs is a
// submenu made of a ".directory" entry and a merge file.
//
// Folders, each empty when it cannot be resolved (no HOME and no XDG setting):
//   desktop       XDG_DESKTOP_DIR, else its line in $XDG_CONFIG_HOME/user-dirs.dirs,
//                 else ~/Desktop
//   applications  $XDG_DATA_HOME/applications (default ~/.local/share/applications)
QString DesktopDirectory();
QString ApplicationsDirectory();
QString DataHome();    // $XDG_DATA_HOME, default ~/.local/share
QString ConfigHome();  // $XDG_CONFIG_HOME, default ~/.config

// Writes an application entry to linkFile and makes it executable:
//   [Desktop Entry]
//   Type=Application
//   Name=<name>          the link file's name without ".desktop"
//   Exec="<target>"      quoted as the desktop entry format asks
//   Path=<directory of target>
//   Icon=<icon>          only when icon is not empty
// Returns false when the file cannot be written.
bool WriteDesktopEntry(const QString& target, const QString& icon, const QString& linkFile);

// Makes the entries under applications/<group[0]>/<group[1]>/... appear as the
// submenu group[0] > group[1] > ...: writes one ".directory" entry per level
// under $XDG_DATA_HOME/desktop-directories and the merge file
// $XDG_CONFIG_HOME/menus/applications-merged/zinst-<group joined by '-'>.menu,
// which includes the given entry files (paths below the applications folder)
// by their desktop file IDs. Returns false when a file cannot be written.
bool WriteMenuGroup(const QStringList& group, const QStringList& entryFiles);

// The desktop file ID of an entry file below the applications folder:
// "Firma/Edytor/Program.desktop" is "Firma-Edytor-Program.desktop".
QString DesktopFileId(const QString& relativeEntryFile);

// The file name used for a group level's ".directory" entry and for the merge file.
QString MenuFileStem(const QStringList& group);

}  // namespace zinst
