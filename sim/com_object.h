// The simulator's objects use the platform's COM plumbing under the simulator's own names.
#pragma once

#include "platform/com_object.h"

namespace sim {

using plat::ComObject;
using plat::ConnectionPointContainer;
using plat::ConnectionPoints;
using plat::HandOut;
using plat::MakeCom;
using plat::SinkList;

}  // namespace sim
