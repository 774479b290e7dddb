// The benchmark program's entry: the suite's libraries write console lines of their own (the
// bridge at log level 2, the pool when it grows), which would break into the report. They are
// dropped; the report keeps the original standard output.
#include <benchmark/benchmark.h>

#include <memory>
#include <ostream>
#include <streambuf>
#include <string>

#include "platform/launch.h"

namespace {

class OwnBuffer final : public std::streambuf {
 public:
  explicit OwnBuffer(plat::OwnOutput* out) : out_(out) {}

 protected:
  int overflow(int c) override {
    if (c == traits_type::eof()) return traits_type::not_eof(c);
    const char ch = static_cast<char>(c);
    return xsputn(&ch, 1) == 1 ? c : traits_type::eof();
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    return out_->Write(std::string_view(s, static_cast<std::size_t>(n))) ? n : 0;
  }

 private:
  plat::OwnOutput* out_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  const std::unique_ptr<plat::OwnOutput> own = plat::DivertStandardOutput(false);
  benchmark::ConsoleReporter reporter(benchmark::ConsoleReporter::OO_Tabular);
  std::unique_ptr<OwnBuffer> buffer;
  std::unique_ptr<std::ostream> stream;
  if (own) {
    buffer = std::make_unique<OwnBuffer>(own.get());
    stream = std::make_unique<std::ostream>(buffer.get());
    reporter.SetOutputStream(stream.get());
    reporter.SetErrorStream(stream.get());
  }
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
