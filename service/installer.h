// The command line of TXLGuard: install, remove, console, service mode, usage.
#pragma once

#include <vector>
#include <string>

namespace txlguard {

void InstallService();
void RemoveService();
void PrintUsage();

// Runs the program for its arguments (argv[0] first); always returns 0.
int RunTxlGuard(const std::vector<std::u16string>& args);

}  // namespace txlguard
