#include "sim/services/at_firmware.h"

#include "sim/services/at_text.h"
#include "sim/services/body_sar_commands.h"

namespace sim::services {

namespace {

AtResult Attention(AtModem&, std::string_view args) { return args.empty() ? AtOk() : AtError(); }

AtResult SerialNumber(AtModem& m, std::string_view args) {
  return AtAction(args, [&] { return AtOk({m.config.imei}); });
}

AtResult Manufacturer(AtModem& m, std::string_view args) {
  return AtAction(args, [&] { return AtOk({m.config.manufacturer}); });
}

AtResult Model(AtModem& m, std::string_view args) {
  return AtAction(args, [&] { return AtOk({m.config.model}); });
}

AtResult Revision(AtModem& m, std::string_view args) {
  return AtAction(args, [&] { return AtOk({m.config.firmware}); });
}

constexpr AtCommand kCommands[] = {
    {"", Attention},
    {"+CGSN", SerialNumber},
    {"+CGMI", Manufacturer},
    {"+CGMM", Model},
    {"+CGMR", Revision},
    {"+BODYSAREN", BodySarEnable},
    {"+BODYSARMODE", BodySarMode},
    {"+BODYSARON", BodySarOn},
    {"+BODYSARPROFILE", BodySarProfile},
    {"+BODYSAR", BodySarTable},
    {"+BODYSARCLEAR", BodySarClear},
    {"+GTBAND5WA", Band5Workaround},
};

// Their arguments are not AT arguments (code_verify takes any text in parentheses, the NVM
// commands are assignments to a path), so the rest of the text goes to them untouched.
constexpr AtCommand kPrefixCommands[] = {
    {"@SEC:CODE_VERIFY", CodeVerify},
    {"@NVM:", NvmCommand},
};

std::string Format(const AtResult& r) {
  if (!r.ok) return "\r\nERROR\r\n";
  if (r.lines.empty()) return "\r\nOK\r\n";
  std::string out = "\r\n";
  for (const std::string& line : r.lines) out += line + "\r\n";
  return out + "\r\nOK\r\n";
}

// Trailing blanks are as good as none, as on a terminal.
bool IsTrailing(char c) { return c == '\r' || c == '\n' || IsBlank(c); }

// "= 1 " -> "=1", "?" stays; what follows "?" is kept for the handler to refuse.
std::string NormalArgs(std::string_view args) {
  if (args.empty()) return {};
  return std::string(1, args.front()) + std::string(TrimBlanks(args.substr(1)));
}

const AtReply* ConfiguredReply(const ModemConfig& config, std::string_view received) {
  const AtReply* best = nullptr;
  for (const AtReply& r : config.at_replies)
    if (StartsWithIgnoreCase(received, r.prefix) && (!best || r.prefix.size() > best->prefix.size())) best = &r;
  return best;
}

}  // namespace

AtFirmware::AtFirmware(const std::filesystem::path& machine_dir, ModemConfig config)
    : config_(std::move(config)), nvm_(machine_dir, config_.family), settings_(machine_dir) {}

std::string AtFirmware::Execute(std::string_view command) {
  if (const AtReply* r = ConfiguredReply(config_, command)) return r->reply;
  while (!command.empty() && IsTrailing(command.back())) command.remove_suffix(1);
  if (!StartsWithIgnoreCase(command, "AT")) return Format(AtError());
  command.remove_prefix(2);
  AtModem modem{config_, nvm_, settings_};
  for (const AtCommand& c : kPrefixCommands)
    if (StartsWithIgnoreCase(command, c.name)) return Format(c.handler(modem, command.substr(c.name.size())));
  const std::size_t name_end = command.find_first_of("=?");
  std::string_view name = command.substr(0, name_end);
  while (!name.empty() && IsBlank(name.back())) name.remove_suffix(1);
  const std::string upper = UpperAscii(name);
  const std::string args = NormalArgs(name_end == std::string_view::npos ? std::string_view() : command.substr(name_end));
  for (const AtCommand& c : kCommands)
    if (c.name == upper) return Format(c.handler(modem, args));
  return Format(AtError());
}

}  // namespace sim::services
