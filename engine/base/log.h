#pragma once

#include <string>
#include <string_view>

namespace kor {

// The engine's log: plain text, one line per event, appended with the file
// opened and closed for every line so that nothing is lost when the process
// dies. Line format:
//   <host program name> <YYYY-MM-DD> <HH:MM:SS>  <text><CR><LF>
// with every trailing character of code 32 or less removed before the line
// end. The first line a process writes is preceded by an empty line, which
// separates runs in a log that many runs append to.

// Fixes the log file: `name` resolved against the current directory.
void SetLogFile(const std::string& name);
// The log file's full path; before SetLogFile, "ERRORS.TXT" in the host
// program's directory.
std::string LogFilePath();

// Appends one line. Returns false when the log file could not be opened or
// created; the line is then written to standard error instead.
bool LogLine(std::string_view text);

}  // namespace kor
