#pragma once

#include <QString>
#include <cstdint>

namespace zinst {

// The "drive" of a path on Linux: the mount point of the file system that
// holds the path's nearest existing directory. Empty for a relative or empty
// path, which names no drive.
QString MountPointOf(const QString& path);

// Bytes free for the current (unprivileged) user on the file system mounted at
// mountPoint, or -1 when that cannot be had.
int64_t FreeBytesForUser(const QString& mountPoint);

}  // namespace zinst
