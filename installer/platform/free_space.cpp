#include "installer/platform/free_space.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace zinst {

namespace {

bool DeviceOf(const QString& dir, dev_t* device) {
  struct stat st {};
  if (stat(QFile::encodeName(dir).constData(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  *device = st.st_dev;
  return true;
}

QString ParentOf(const QString& dir) {
  if (dir == QLatin1String("/")) return {};
  QString parent = QFileInfo(dir).path();
  return parent.isEmpty() ? QStringLiteral("/") : parent;
}

}  // namespace

QString MountPointOf(const QString& path) {
  if (!path.startsWith(QLatin1Char('/'))) return {};
  QString dir = QDir::cleanPath(path);
  dev_t device = 0;
  while (!DeviceOf(dir, &device)) {
    dir = ParentOf(dir);
    if (dir.isEmpty()) return {};
  }
  // Walk up while the parent lies on the same file system.
  for (QString parent = ParentOf(dir); !parent.isEmpty(); parent = ParentOf(dir)) {
    dev_t parentDevice = 0;
    if (!DeviceOf(parent, &parentDevice) || parentDevice != device) break;
    dir = parent;
  }
  return dir;
}

int64_t FreeBytesForUser(const QString& mountPoint) {
  struct statvfs fs {};
  if (mountPoint.isEmpty() || statvfs(QFile::encodeName(mountPoint).constData(), &fs) != 0) {
    return -1;
  }
  return static_cast<int64_t>(fs.f_bavail) * static_cast<int64_t>(fs.f_frsize);
}

}  // namespace zinst
