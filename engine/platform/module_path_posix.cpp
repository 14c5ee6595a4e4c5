#include "engine/platform/module_path.h"

#include <limits.h>
#include <unistd.h>

namespace kor {

std::string HostProgramPath() {
  char path[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return {};
  return std::string(path, static_cast<size_t>(length));
}

std::string CurrentDirectory() {
  char path[PATH_MAX];
  if (getcwd(path, sizeof path) == nullptr) return {};
  return path;
}

std::string AbsolutePath(const std::string& name) {
  if (!name.empty() && name.front() == '/') return name;
  std::string directory = CurrentDirectory();
  if (directory.empty() || directory == "/") return "/" + name;
  return directory + "/" + name;
}

}  // namespace kor
