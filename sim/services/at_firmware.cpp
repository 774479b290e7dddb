#include "sim/services/at_firmware.h"

#include <array>

#include "platform/text.h"

namespace sim::services {

namespace {

AtResult Ok(std::vector<std::string> lines = {}) { return AtResult{true, std::move(lines)}; }
AtResult Error() { return AtResult{false, {}}; }

// An action command that takes no arguments: run, or asked whether it exists ("=?").
template <class F>
AtResult Action(std::string_view args, F answer) {
  if (args.empty()) return answer();
  if (args == "=?") return Ok();
  return Error();
}

AtResult Attention(AtModem&, std::string_view args) { return args.empty() ? Ok() : Error(); }

AtResult SerialNumber(AtModem& m, std::string_view args) {
  return Action(args, [&] { return Ok({m.config.imei}); });
}

AtResult Manufacturer(AtModem& m, std::string_view args) {
  return Action(args, [&] { return Ok({m.config.manufacturer}); });
}

AtResult Model(AtModem& m, std::string_view args) {
  return Action(args, [&] { return Ok({m.config.model}); });
}

AtResult Revision(AtModem& m, std::string_view args) {
  return Action(args, [&] { return Ok({m.config.firmware}); });
}

constexpr std::array<AtCommand, 5> kCommands = {{
    {"", Attention},
    {"+CGSN", SerialNumber},
    {"+CGMI", Manufacturer},
    {"+CGMM", Model},
    {"+CGMR", Revision},
}};

std::string Format(const AtResult& r) {
  if (!r.ok) return "\r\nERROR\r\n";
  if (r.lines.empty()) return "\r\nOK\r\n";
  std::string out = "\r\n";
  for (const std::string& line : r.lines) out += line + "\r\n";
  return out + "\r\nOK\r\n";
}

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

// Trailing blanks are as good as none, as on a terminal.
bool IsTrailing(char c) { return c == '\r' || c == '\n' || c == ' ' || c == '\t'; }

}  // namespace

AtFirmware::AtFirmware(const std::filesystem::path& machine_dir, ModemConfig config)
    : config_(std::move(config)), nvm_(machine_dir, config_.family) {}

std::string AtFirmware::Execute(std::string_view command) {
  while (!command.empty() && IsTrailing(command.back())) command.remove_suffix(1);
  if (command.size() < 2 || !plat::EqualsIgnoreCaseAscii(command.substr(0, 2), "AT")) return Format(Error());
  command.remove_prefix(2);
  const std::size_t name_end = command.find_first_of("=?");
  const std::string name = Upper(command.substr(0, name_end));
  const std::string_view args = name_end == std::string_view::npos ? std::string_view() : command.substr(name_end);
  AtModem modem{config_, nvm_};
  for (const AtCommand& c : kCommands)
    if (c.name == name) return Format(c.handler(modem, args));
  return Format(Error());
}

}  // namespace sim::services
