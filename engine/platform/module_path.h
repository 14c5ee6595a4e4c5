#pragma once

#include <string>

namespace kor {

// Full path of the program that hosts the engine (the JVM's launcher, the
// server, a test). Empty if the system cannot tell.
std::string HostProgramPath();

// The process's current directory, ending without a separator.
std::string CurrentDirectory();

// `name` resolved against the current directory when it is relative.
std::string AbsolutePath(const std::string& name);

}  // namespace kor
