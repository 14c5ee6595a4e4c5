#pragma once

namespace zinst {

// The installer's process exit codes, the same in the wizard and in the
// unattended mode. Deployment scripts test them, so they never change.
enum TExitCode : int {
  kExitInstalled = 0,   // the install run succeeded (also: --help printed)
  kExitRunFailed = 1,   // the install run failed (copy, setup program, deletion)
  kExitCancelled = 2,   // stopped before the run: the window closed, the licence
                        // not accepted, no free space at the destination
  kExitBadOptions = 3,  // bad command-line options, a missing or unusable script,
                        // a log that cannot be written
};

}  // namespace zinst
