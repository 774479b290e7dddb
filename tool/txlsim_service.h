// txlsim service ...: the simulated notebook's service control manager from the command line.
#pragma once

#include <string>
#include <vector>

// args: the words after "service". Returns the program's exit code.
int ServiceCommand(const std::vector<std::string>& args);

extern const char kServiceHelp[];
