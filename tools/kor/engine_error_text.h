#pragma once

#include <string>
#include <string_view>

#include "engine/base/exceptions.h"

namespace kor::tool {

// An engine exception as one line for the user: what failed, where in its
// input (file and line, or the file it concerns) and the system's reason,
// e.g. "EFileOpenError at PERSON.TBL: Resource temporarily unavailable".
// The engine's source position is left to the log.
std::string DescribeForUser(const EZException& error);

// The same for an exception already described by EZException::Describe
// ("<class>  LastError: <code>[ at <place>] (raised in <file>:<line>)"), as
// the session reports a failed open. Text of another form is returned as it
// is.
std::string DescribeForUser(std::string_view described);

}  // namespace kor::tool
