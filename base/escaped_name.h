// How a name given from outside (a device, a file, an option) is shown in
// a message. The standard library only: the ways out, the monitor and both
// programs' command lines show names this one way.
#pragma once

#include <string>

// Control characters (a line end, an escape sequence) and backslashes
// written as C escapes, so that a name can't forge or hide a line of the
// console.
std::string escaped_name(const std::string& name);
