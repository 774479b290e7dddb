// txlsim: the simulated notebook seen and changed from outside the suite, through the simulator's
// own readers so that what it shows is what the modem would answer. One file a subcommand.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "sim/modem_config.h"

namespace txlsim {

inline constexpr int kFailedExit = 1;
inline constexpr int kUsageExit = 2;

std::string PathText(const std::filesystem::path& p);
// The whole file as text; empty when it cannot be read.
std::string ReadText(const std::filesystem::path& p);
const char* FamilyName(sim::ModemFamily f);

int Show();
int Reset();
// arg: SECTION.KEY=VALUE.
int Set(const std::string& arg);
int Trace();
// args: the words after "mbim".
int Mbim(const std::vector<std::string>& args);
// args: the words after "service".
int ServiceCommand(const std::vector<std::string>& args);
extern const char kServiceHelp[];

}  // namespace txlsim
