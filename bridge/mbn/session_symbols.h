// How a client binds the session API at run time: the exported (type-encoded) names and the
// function types they stand for.
#pragma once

#include <cstddef>
#include <string>
#include <type_traits>

#include "bridge/mbn/session_api.h"
#include "platform/dll.h"

namespace vexel::symbols {

using EnumInterfaceFn = long (*)(long*, _MBIMIDS*);
using ConnectInterfaceFn = long (*)(unsigned short*);
using DisconnectInterfaceFn = int (*)();
using OpenCommandSessionFn = long (*)(unsigned short*);
using CloseCommandSessionFn = int (*)(unsigned short*);
using RequestFn = long (*)(unsigned short*, unsigned short*, unsigned int, unsigned int, unsigned char*,
                           unsigned int*, unsigned char*);

// The name each function is exported under: on POSIX the compiler's own; on Windows the one a
// caller built with Microsoft's compiler imports (bridge/VexelSarDll.<arch>.def), given here as on
// x86 and widened for x64, where every pointer parameter is marked 64-bit ("PA" becomes "PEA").
struct ExportedName {
  const char* posix;
  const char* windows_x86;
};
inline constexpr ExportedName kEnumInterface = {"_Z13EnumInterfacePlP8_MBIMIDS", "?EnumInterface@@YAJPAJPAU_MBIMIDS@@@Z"};
inline constexpr ExportedName kConnectInterface = {"_Z16ConnectInterfacePt", "?ConnectInterface@@YAJPAG@Z"};
inline constexpr ExportedName kDisconnectInterface = {"_Z19DisconnectInterfacev", "?DisconnectInterface@@YAHXZ"};
inline constexpr ExportedName kOpenCommandSession = {"_Z18OpenCommandSessionPt", "?OpenCommandSession@@YAJPAG@Z"};
inline constexpr ExportedName kCloseCommandSession = {"_Z19CloseCommandSessionPt", "?CloseCommandSession@@YAHPAG@Z"};
inline constexpr ExportedName kQueryCommand = {"_Z12QueryCommandPtS_jjPhPjS0_", "?QueryCommand@@YAJPAG0IIPAEPAI1@Z"};
inline constexpr ExportedName kSetCommand = {"_Z10SetCommandPtS_jjPhPjS0_", "?SetCommand@@YAJPAG0IIPAEPAI1@Z"};

// The name to bind in this build.
inline std::string NameToBind(const ExportedName& name) {
#if defined(_WIN64)
  std::string widened = name.windows_x86;
  for (std::size_t at = widened.find("PA"); at != std::string::npos; at = widened.find("PA", at + 3))
    widened.insert(at + 1, 1, 'E');
  return widened;
#elif defined(_WIN32)
  return name.windows_x86;
#else
  return name.posix;
#endif
}

// The seven functions bound from a loaded bridge; Bind is false (and binds nothing usable) when
// any of them is missing.
struct SessionApi {
  EnumInterfaceFn enum_interface = nullptr;
  ConnectInterfaceFn connect = nullptr;
  DisconnectInterfaceFn disconnect = nullptr;
  OpenCommandSessionFn open_session = nullptr;
  CloseCommandSessionFn close_session = nullptr;
  RequestFn query = nullptr;
  RequestFn set = nullptr;

  bool Bind(plat::DynamicLibrary& lib) {
    const auto bind = [&lib](auto* fn, const ExportedName& name) {
      *fn = reinterpret_cast<std::remove_reference_t<decltype(*fn)>>(lib.Symbol(NameToBind(name).c_str()));
      return *fn != nullptr;
    };
    // Every one is bound, even after a miss, so that no pointer is left from an earlier library.
    bool all = bind(&enum_interface, kEnumInterface);
    all = bind(&connect, kConnectInterface) && all;
    all = bind(&disconnect, kDisconnectInterface) && all;
    all = bind(&open_session, kOpenCommandSession) && all;
    all = bind(&close_session, kCloseCommandSession) && all;
    all = bind(&query, kQueryCommand) && all;
    return bind(&set, kSetCommand) && all;
  }
};

}  // namespace vexel::symbols
