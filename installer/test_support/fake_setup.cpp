// A stand-in for a product's setup program in the installer's tests. It works
// in its current directory (the installer starts it in its own directory):
// it writes "ran.txt" there, then follows the environment variable
// FAKE_SETUP_MODE:
//   exit N   ends with exit code N (the default is 0)
//   crash    ends by a signal (abort)
//   wait     waits until a file "go" appears, then writes "done.txt", exit 0
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

int main() {
  std::ofstream("ran.txt") << "ran\n";
  std::string mode;
  int code = 0;
  const char* modeText = std::getenv("FAKE_SETUP_MODE");
  std::istringstream(modeText != nullptr ? modeText : "") >> mode >> code;
  if (mode == "crash") std::abort();
  if (mode == "wait") {
    while (access("go", F_OK) != 0) usleep(20000);
    std::ofstream("done.txt") << "done\n";
  }
  return mode == "exit" ? code : 0;
}
