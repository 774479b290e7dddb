// How a client binds the session API at run time: the exported (type-encoded) names and the
// function types they stand for.
#pragma once

#include "bridge/mbn/session_api.h"

namespace vexel::symbols {

using EnumInterfaceFn = long (*)(long*, _MBIMIDS*);
using ConnectInterfaceFn = long (*)(unsigned short*);
using DisconnectInterfaceFn = int (*)();
using OpenCommandSessionFn = long (*)(unsigned short*);
using CloseCommandSessionFn = int (*)(unsigned short*);
using RequestFn = long (*)(unsigned short*, unsigned short*, unsigned int, unsigned int, unsigned char*,
                           unsigned int*, unsigned char*);

// The names the library exports: on Windows those of Microsoft's compiler (as listed in
// bridge/VexelSarDll.<arch>.def), elsewhere the compiler's own.
#if defined(_WIN64)
inline constexpr const char* kEnumInterface = "?EnumInterface@@YAJPEAJPEAU_MBIMIDS@@@Z";
inline constexpr const char* kConnectInterface = "?ConnectInterface@@YAJPEAG@Z";
inline constexpr const char* kDisconnectInterface = "?DisconnectInterface@@YAHXZ";
inline constexpr const char* kOpenCommandSession = "?OpenCommandSession@@YAJPEAG@Z";
inline constexpr const char* kCloseCommandSession = "?CloseCommandSession@@YAHPEAG@Z";
inline constexpr const char* kQueryCommand = "?QueryCommand@@YAJPEAG0IIPEAEPEAI1@Z";
inline constexpr const char* kSetCommand = "?SetCommand@@YAJPEAG0IIPEAEPEAI1@Z";
#elif defined(_WIN32)
inline constexpr const char* kEnumInterface = "?EnumInterface@@YAJPAJPAU_MBIMIDS@@@Z";
inline constexpr const char* kConnectInterface = "?ConnectInterface@@YAJPAG@Z";
inline constexpr const char* kDisconnectInterface = "?DisconnectInterface@@YAHXZ";
inline constexpr const char* kOpenCommandSession = "?OpenCommandSession@@YAJPAG@Z";
inline constexpr const char* kCloseCommandSession = "?CloseCommandSession@@YAHPAG@Z";
inline constexpr const char* kQueryCommand = "?QueryCommand@@YAJPAG0IIPAEPAI1@Z";
inline constexpr const char* kSetCommand = "?SetCommand@@YAJPAG0IIPAEPAI1@Z";
#else
inline constexpr const char* kEnumInterface = "_Z13EnumInterfacePlP8_MBIMIDS";
inline constexpr const char* kConnectInterface = "_Z16ConnectInterfacePt";
inline constexpr const char* kDisconnectInterface = "_Z19DisconnectInterfacev";
inline constexpr const char* kOpenCommandSession = "_Z18OpenCommandSessionPt";
inline constexpr const char* kCloseCommandSession = "_Z19CloseCommandSessionPt";
inline constexpr const char* kQueryCommand = "_Z12QueryCommandPtS_jjPhPjS0_";
inline constexpr const char* kSetCommand = "_Z10SetCommandPtS_jjPhPjS0_";
#endif

}  // namespace vexel::symbols
