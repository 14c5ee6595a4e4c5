#pragma once

#include <QString>
#include <QStringList>

namespace zinst {

// The installer's command line. Without arguments the wizard opens.
//   --silent           install without any window (no display needed)
//   --accept-licence   accepts the licence terms; --silent refuses to run without it
//   --dest=DIR         the destination (default: the wizard's default destination)
//   --no-desktop       no desktop shortcuts
//   --no-menu          no menu group and shortcuts
//   --log=FILE         writes the install log (see install_log.h), in both modes
//   --help             prints the options in Polish
// Each option is given at most once; --accept-licence, --dest, --no-desktop and
// --no-menu need --silent. Anything else is a bad option.
struct TInstallOptions {
  bool Silent = false;
  bool AcceptLicence = false;
  bool NoDesktop = false;
  bool NoMenu = false;
  bool Help = false;
  QString Dest;     // as given; empty for the default destination
  QString LogFile;  // empty for no log
};

// Reads the arguments that follow the program's name into options. Returns
// the reason (in Polish) why they are bad, or an empty string.
QString ParseOptions(const QStringList& arguments, TInstallOptions& options);

// The --help text: usage, every option and the exit codes, in Polish.
QString HelpText();

}  // namespace zinst
