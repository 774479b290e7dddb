#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "platform/process.h"
#include "platform/sync.h"

namespace plat {

double TimeScale() {
  const auto v = GetEnv("TXL_TIME_SCALE");
  if (!v || v->empty()) return 1.0;
  char* end = nullptr;
  const double d = std::strtod(v->c_str(), &end);
  if (end == v->c_str() || *end != '\0' || !(d > 0.0) || !std::isfinite(d)) return 1.0;
  return d;
}

DWORD ScaleMs(DWORD ms) {
  if (ms == INFINITE) return INFINITE;
  const double scaled = std::ceil(static_cast<double>(ms) * TimeScale());
  if (scaled >= static_cast<double>(INFINITE - 1)) return INFINITE - 1;
  return static_cast<DWORD>(scaled);
}

DWORD Timeout::Scaled() const {
  const DWORD scaled = ScaleMs(ms_);
  if (!round_trip_ || scaled == INFINITE) return scaled;
  return std::max(scaled, std::min(ms_, kRoundTripFloorMs));
}

}  // namespace plat
