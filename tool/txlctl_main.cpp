// txlctl: a diagnostic command line over the control library's exports.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "api/exports.h"
#include "api/result.h"
#include "platform/launch.h"
#include "platform/whole_file.h"
#include "tool/txlctl_core.h"
#include "tool/txlctl_sar.h"
#include "tool/txlctl_session.h"

namespace {

using txlctl::Command;
using txlctl::Options;

// Where txlctl's own answer goes: standard output, which nothing else in the process writes to
// once the bridge's console lines are moved off it.
std::unique_ptr<plat::OwnOutput> g_own;

void WriteOwn(const std::string& text) {
  if (!g_own || !g_own->Write(text)) std::fputs(text.c_str(), stdout);
}

// Collects the output as text lines or JSON members.
class Output {
 public:
  explicit Output(bool json) : json_(json) {}
  void Field(const std::string& name, const std::string& text_value, const std::string& json_value) {
    if (json_) {
      members_.push_back(txlctl::JsonString(name) + ":" + json_value);
    } else {
      // A value of several lines starts on the next line and brings its own last line feed.
      const bool block = !text_value.empty() && text_value.front() == '\n';
      text_ += name + (block ? ":" : ": ") + text_value + (block && text_value.back() == '\n' ? "" : "\n");
    }
  }
  // detail: what went wrong in words, beside the code's meaning.
  void Failure(const std::string& name, int code, const std::string& detail = {}) {
    if (first_failure_ == 0) first_failure_ = code;
    if (json_) {
      std::string error = txlctl::JsonError(code);
      if (!detail.empty()) error.insert(error.size() - 1, ",\"detail\":" + txlctl::JsonString(detail));
      members_.push_back(txlctl::JsonString(name) + ":{\"error\":" + error + "}");
    } else {
      const std::string why = txlctl::CodeMessage(code) + (detail.empty() ? "" : ": " + detail);
      errors_ += "txlctl: " + name + " failed: " + why + "\n";
      text_ += name + ": failed: " + why + "\n";
    }
  }
  void Text(const std::string& text) { text_ += text; }
  int Finish() {
    if (json_) {
      std::string out = "{";
      for (std::size_t i = 0; i < members_.size(); ++i) out += (i ? "," : "") + members_[i];
      out += ",\"result\":" + txlctl::JsonError(first_failure_) + "}\n";
      WriteOwn(out);
    } else {
      WriteOwn(text_);
      std::fputs(errors_.c_str(), stderr);
    }
    return first_failure_;
  }

 private:
  bool json_;
  std::vector<std::string> members_;
  std::string text_;
  std::string errors_;
  int first_failure_ = 0;
};

void Ready(Output& out) {
  unsigned int ready = 0;
  const int rc = get_IsMBIMReady(&ready);
  if (rc != 0) return out.Failure("ready", rc);
  out.Field("ready", ready ? "yes" : "no", ready ? "true" : "false");
}

template <class T>
void ReadNumber(Output& out, const char* name, int (*get)(T*)) {
  T v{};
  const int rc = get(&v);
  if (rc != 0) return out.Failure(name, rc);
  out.Field(name, std::to_string(v), std::to_string(v));
}

void Imei(Output& out) {
  char buf[64] = {};
  const int rc = get_ImeiInfo(buf);
  if (rc != 0) return out.Failure("imei", rc);
  buf[sizeof buf - 1] = '\0';
  out.Field("imei", buf, txlctl::JsonString(buf));
}

// Reads the tables back and shows them; the rows, when they could be read.
std::optional<std::vector<txlctl::Row>> Table(Output& out, bool raw) {
  std::vector<char> buf(kBodySarValueTextBytes, '\0');
  const int rc = get_BodySarValue(buf.data());
  if (rc != 0) {
    out.Failure("table", rc);
    return std::nullopt;
  }
  buf.back() = '\0';
  const std::string text(buf.data());
  auto rows = txlctl::ParseReadBack(text);
  if (raw) out.Field("table", "\n" + text, txlctl::JsonString(text));
  else out.Field("table", "\n" + txlctl::FormatRows(rows), txlctl::RowsJson(rows));
  return rows;
}

// Per band asked for, whether the read-back holds the value: a set the modem silently ignores is
// not reported as done.
void Applied(Output& out, const std::vector<txlctl::Row>& wanted, const std::vector<txlctl::Row>& held) {
  std::string text;
  std::string json = "[";
  bool all = true;
  for (const txlctl::Row& w : wanted) {
    const bool applied = std::any_of(held.begin(), held.end(), [&](const txlctl::Row& r) {
      return r.technology == w.technology && r.band == w.band && r.tenths == w.tenths;
    });
    all = all && applied;
    const std::string dbm = txlctl::FormatTenths(w.tenths);
    text += "  " + txlctl::TechnologyName(w.technology) + " band " + std::to_string(w.band) + " " + dbm +
            " dBm: " + (applied ? "applied" : "not applied") + "\n";
    json += std::string(json.size() > 1 ? "," : "") + "{\"technology\":" +
            txlctl::JsonString(txlctl::TechnologyName(w.technology)) + ",\"band\":" + std::to_string(w.band) +
            ",\"dbm\":" + dbm + ",\"applied\":" + (applied ? "true" : "false") + "}";
  }
  out.Field("applied", "\n" + text, json + "]");
  if (!all) out.Failure("table set", txlctl::kNotAppliedExit);
}

// The tables as rows, read without showing them; the export's result in *rc.
std::optional<std::vector<txlctl::Row>> ReadRows(int* rc) {
  std::vector<char> buf(kBodySarValueTextBytes, '\0');
  *rc = get_BodySarValue(buf.data());
  if (*rc != 0) return std::nullopt;
  buf.back() = '\0';
  return txlctl::ParseReadBack(buf.data());
}

// A table file's rows, checked whole before anything reaches the modem; a refusal is the output.
std::optional<std::vector<txlctl::Row>> FileRows(Output& out, const std::string& file) {
  std::vector<std::uint8_t> bytes;
  std::string why;
  if (!plat::ReadFileContents(std::filesystem::path(file), &bytes)) {
    why = "cannot read " + file;
  } else {
    const txlctl::FileRows parsed = txlctl::ParseTableFile(std::string(bytes.begin(), bytes.end()));
    if (parsed.ok) return parsed.rows;
    why = file + ": " + parsed.error;
  }
  out.Field("refused", why + " (nothing sent)", txlctl::JsonString(why));
  out.Failure("table file", txlctl::kUsageExit);
  return std::nullopt;
}

// table export: the active profile's tables, or those of --profile N (selected for the read and
// then put back), as a table file.
int Export(const Options& o) {
  Output out(o.json);
  Ready(out);  // identifies the module; shown only when the export fails
  unsigned int active = 0;
  int rc = get_BodySarProfile(&active);
  if (rc != 0) {
    out.Failure("profile", rc);
    return out.Finish();
  }
  const int profile = o.profile ? *o.profile : static_cast<int>(active);
  const bool switched = profile != static_cast<int>(active);
  if (switched && (rc = set_BodySarProfile(profile)) != 0) {
    out.Failure("select profile", rc);
    return out.Finish();
  }
  const auto rows = ReadRows(&rc);
  if (switched) {
    const int back = set_BodySarProfile(static_cast<int>(active));
    if (back != 0) out.Failure("select the active profile again", back);
  }
  if (!rows) {
    out.Failure("table", rc);
    return out.Finish();
  }
  const std::string document =
      "{\"profile\":" + std::to_string(profile) + ",\"table\":" + txlctl::RowsJson(*rows) + "}\n";
  if (o.file.empty()) {
    WriteOwn(document);
    return 0;
  }
  if (!plat::ReplaceFileContents(std::filesystem::path(o.file), std::vector<std::uint8_t>(document.begin(), document.end()))) {
    out.Field("refused", "cannot write " + o.file, txlctl::JsonString("cannot write " + o.file));
    out.Failure("table export", txlctl::kUsageExit);
    return out.Finish();
  }
  out.Field("exported", std::to_string(rows->size()) + " entries of profile " + std::to_string(profile) + " to " + o.file,
            std::to_string(rows->size()));
  return out.Finish();
}

// ---- MS SAR ----------------------------------------------------------------------------------------

std::string OnOff(bool on) { return on ? "on" : "off"; }
std::string Bool(bool b) { return b ? "true" : "false"; }

// The configuration the modem holds, shown; the decoded answer, when there is one.
std::optional<txlctl::SarConfig> ShowSarConfig(Output& out, txlctl::ServiceSession& session) {
  txlctl::SessionFailure failure;
  txlctl::Bytes answer;
  if (!session.Query(txlctl::kSarConfigCid, {}, &answer, &failure)) {
    out.Failure("sar", failure.code, failure.why);
    return std::nullopt;
  }
  std::string why;
  const auto config = txlctl::DecodeSarConfig(answer, &why);
  if (!config) {
    out.Failure("sar", krill::kUnusableReply, "the configuration answer cannot be read: " + why);
    return std::nullopt;
  }
  const std::string mode = config->host ? "host" : "device";
  out.Field("mode", mode, txlctl::JsonString(mode));
  out.Field("backoff", OnOff(config->backoff), Bool(config->backoff));
  out.Field("wifi_integrated", config->wifi_integrated ? "yes" : "no", Bool(config->wifi_integrated));
  out.Field("states", "\n" + txlctl::SarStatesText(config->states), txlctl::SarStatesJson(config->states));
  return config;
}

std::optional<txlctl::TransmissionStatus> ShowTransmission(Output& out, txlctl::ServiceSession& session) {
  txlctl::SessionFailure failure;
  txlctl::Bytes answer;
  if (!session.Query(txlctl::kSarTransmissionCid, {}, &answer, &failure)) {
    out.Failure("sar tx", failure.code, failure.why);
    return std::nullopt;
  }
  std::string why;
  const auto status = txlctl::DecodeTransmissionStatus(answer, &why);
  if (!status) {
    out.Failure("sar tx", krill::kUnusableReply, "the transmission-status answer cannot be read: " + why);
    return std::nullopt;
  }
  out.Field("notification", OnOff(status->notification), Bool(status->notification));
  out.Field("transmitting", status->active ? "yes" : "no", Bool(status->active));
  out.Field("hysteresis", std::to_string(status->hysteresis_s) + " s", std::to_string(status->hysteresis_s));
  return status;
}

// Whether a set holds when read back; exit 65 when it does not.
void Held(Output& out, bool held) {
  out.Field("applied", held ? "yes" : "no", Bool(held));
  if (!held) out.Failure("sar set", txlctl::kNotAppliedExit);
}

// sar, sar set, sar tx, sar tx set over one session of the MS SAR service.
void Sar(Output& out, const Options& o) {
  txlctl::SessionFailure failure;
  const auto session = txlctl::ServiceSession::Open(txlctl::kMsSarService, &failure);
  if (!session) return out.Failure("sar", failure.code, failure.why);
  txlctl::Bytes answer;
  if (o.command == Command::kSarSet) {
    const txlctl::SarConfig wanted{*o.sar_host, *o.sar_backoff, false, o.sar_states};
    if (!session->Set(txlctl::kSarConfigCid, txlctl::EncodeSarConfigSet(wanted), &answer, &failure))
      return out.Failure("sar set", failure.code, failure.why);
  } else if (o.command == Command::kSarTxSet) {
    if (!session->Set(txlctl::kSarTransmissionCid, txlctl::EncodeTransmissionSet(*o.notify, *o.hysteresis_s),
                      &answer, &failure))
      return out.Failure("sar tx set", failure.code, failure.why);
  }
  // A set is judged by a fresh query, not by its own answer.
  if (o.command == Command::kSar || o.command == Command::kSarSet) {
    const auto held = ShowSarConfig(out, *session);
    if (held && o.command == Command::kSarSet)
      Held(out, txlctl::SarHeld({*o.sar_host, *o.sar_backoff, false, o.sar_states}, *held));
  } else {
    const auto held = ShowTransmission(out, *session);
    if (held && o.command == Command::kSarTxSet)
      Held(out, held->notification == *o.notify && held->hysteresis_s == *o.hysteresis_s);
  }
}

// Sets when a value is given, then reads back.
template <class T>
void ValueCommand(Output& out, const char* name, const Options& o, int (*set)(int), int (*get)(T*)) {
  if (o.value) {
    const int rc = set(*o.value);
    if (rc != 0) return out.Failure(std::string("set ") + name, rc);
  }
  ReadNumber(out, name, get);
}

int Run(const Options& o) {
  if (o.command == Command::kTableExport) return Export(o);
  Output out(o.json);
  // A table file is checked whole before the modem is asked anything.
  std::optional<std::vector<txlctl::Row>> file_rows;
  if (o.command == Command::kTableImport || o.command == Command::kTableDiff) {
    file_rows = FileRows(out, o.file);
    if (!file_rows) return out.Finish();
  }
  Ready(out);
  switch (o.command) {
    case Command::kStatus:
      Imei(out);
      ReadNumber(out, "enable", get_BodySarEnable);
      ReadNumber(out, "on", get_BodySarON);
      ReadNumber(out, "mode", get_BodySarMode);
      ReadNumber(out, "profile", get_BodySarProfile);
      Table(out, false);
      break;
    case Command::kEnable: ValueCommand(out, "enable", o, set_BodySarEnable, get_BodySarEnable); break;
    case Command::kOn: ValueCommand(out, "on", o, set_BodySarON, get_BodySarON); break;
    case Command::kMode: ValueCommand(out, "mode", o, set_BodySarMode, get_BodySarMode); break;
    case Command::kProfile: ValueCommand(out, "profile", o, set_BodySarProfile, get_BodySarProfile); break;
    case Command::kClear: {
      const int rc = set_BodySarClear();
      if (rc != 0) out.Failure("clear", rc);
      else out.Field("clear", "done", "true");
      break;
    }
    case Command::kImei: Imei(out); break;
    case Command::kTableGet: Table(out, o.raw); break;
    case Command::kTableSet: {
      std::vector<char> text(o.table_text.begin(), o.table_text.end());
      text.push_back('\0');
      out.Field("sent", o.table_text, txlctl::JsonString(o.table_text));
      const int rc = set_BodySarValue(text.data());
      if (rc != 0) {
        out.Failure("table set", rc);
        break;
      }
      const auto held = Table(out, false);
      // A text sent with --force may name nothing this check can read; it is shown, not judged.
      const txlctl::CheckedText wanted = txlctl::CheckTableText(o.table_text);
      if (held && wanted.ok) Applied(out, wanted.rows, *held);
      break;
    }
    case Command::kTableImport: {
      for (const std::string& t : txlctl::TableTexts(*file_rows)) {
        std::vector<char> text(t.begin(), t.end());
        text.push_back('\0');
        const int rc = set_BodySarValue(text.data());
        if (rc != 0) {
          out.Failure("table import", rc);
          break;
        }
      }
      if (const auto held = Table(out, false)) Applied(out, *file_rows, *held);
      break;
    }
    case Command::kTableDiff: {
      int rc = 0;
      const auto held = ReadRows(&rc);
      if (!held) {
        out.Failure("table", rc);
        break;
      }
      int changes = 0;
      const std::string diff = txlctl::DiffRows(*file_rows, *held, &changes);
      out.Field("changes", std::to_string(changes) + (changes ? "\n" + diff : std::string()),
                std::to_string(changes));
      break;
    }
    case Command::kSar:
    case Command::kSarSet:
    case Command::kSarTx:
    case Command::kSarTxSet: Sar(out, o); break;
    case Command::kTableExport:
    case Command::kHelp: break;
  }
  return out.Finish();
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i] ? argv[i] : "");
  const txlctl::Parsed parsed = txlctl::ParseArguments(args);
  if (!parsed.ok) {
    // The refusal may come before --json is read: look for it here.
    bool json = false;
    for (const auto& a : args) json = json || a == "--json";
    if (json) {
      std::printf("{\"refused\":%s,\"result\":{\"code\":%d,\"message\":\"command line refused, nothing sent\"}}\n",
                  txlctl::JsonString(parsed.error).c_str(), txlctl::kUsageExit);
    } else {
      std::fprintf(stderr, "txlctl: %s; nothing sent (txlctl --help)\n", parsed.error.c_str());
    }
    return txlctl::kUsageExit;
  }
  if (parsed.options.command == Command::kHelp) {
    std::fputs(txlctl::HelpText().c_str(), stdout);
    return 0;
  }
  // Before the first export loads the bridge: its console lines are kept off the answer (shown on
  // standard error with --verbose), so that the output is txlctl's own and --json is one document.
  g_own = plat::DivertStandardOutput(parsed.options.verbose);
  return Run(parsed.options);
}
