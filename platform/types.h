// Fixed-width Windows-style scalar types and result codes shared by every layer.
//
// These are declared in our own namespace on every platform so that product code never needs an
// OS header. Values and widths match the Windows definitions bit for bit, because on Windows the
// same declarations talk to the operating system's own COM objects.
//
// Backend translation units that include <windows.h> must include this header *before* it: the OS
// headers define several of these names (S_OK, E_FAIL, ...) as macros.
#pragma once
#define TXL_PLATFORM_TYPES_INCLUDED 1

#include <cstdint>

namespace plat {

using HRESULT = std::int32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using DWORD = std::uint32_t;
using UINT = std::uint32_t;
using BOOL = std::int32_t;
using BYTE = std::uint8_t;
using USHORT = std::uint16_t;
using VARTYPE = std::uint16_t;
using VARIANT_BOOL = std::int16_t;

inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;

inline constexpr bool Succeeded(HRESULT hr) { return hr >= 0; }
inline constexpr bool Failed(HRESULT hr) { return hr < 0; }

// Builds an HRESULT from a literal written the way Windows documents it (0x8000xxxx).
inline constexpr HRESULT Hr(std::uint32_t bits) { return static_cast<HRESULT>(bits); }

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = Hr(0x80004001u);
inline constexpr HRESULT E_NOINTERFACE = Hr(0x80004002u);
inline constexpr HRESULT E_POINTER = Hr(0x80004003u);
inline constexpr HRESULT E_ABORT = Hr(0x80004004u);
inline constexpr HRESULT E_FAIL = Hr(0x80004005u);
inline constexpr HRESULT E_PENDING = Hr(0x8000000Au);
inline constexpr HRESULT E_UNEXPECTED = Hr(0x8000FFFFu);
inline constexpr HRESULT E_OUTOFMEMORY = Hr(0x8007000Eu);
inline constexpr HRESULT E_INVALIDARG = Hr(0x80070057u);
inline constexpr HRESULT RPC_E_CHANGED_MODE = Hr(0x80010106u);
inline constexpr HRESULT CO_E_NOTINITIALIZED = Hr(0x800401F0u);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = Hr(0x80040154u);
inline constexpr HRESULT CLASS_E_NOAGGREGATION = Hr(0x80040110u);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = Hr(0x80040111u);
inline constexpr HRESULT CONNECT_E_NOCONNECTION = Hr(0x80040200u);
inline constexpr HRESULT CONNECT_E_CANNOTCONNECT = Hr(0x80040202u);
inline constexpr HRESULT DISP_E_BADINDEX = Hr(0x8002000Bu);
inline constexpr HRESULT DISP_E_ARRAYISLOCKED = Hr(0x8002000Du);
inline constexpr HRESULT CO_E_CLASSSTRING = Hr(0x800401F3u);

// Win32 error codes used by the suite.
inline constexpr DWORD ERROR_SUCCESS = 0;
inline constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
inline constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
inline constexpr DWORD ERROR_ACCESS_DENIED = 5;
inline constexpr DWORD ERROR_INVALID_HANDLE = 6;
inline constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr DWORD ERROR_SHARING_VIOLATION = 32;
inline constexpr DWORD ERROR_NOT_SUPPORTED = 50;
inline constexpr DWORD ERROR_FILE_EXISTS = 80;
inline constexpr DWORD ERROR_INVALID_PARAMETER = 87;
inline constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr DWORD ERROR_ALREADY_EXISTS = 183;
inline constexpr DWORD ERROR_FILENAME_EXCED_RANGE = 206;
inline constexpr DWORD ERROR_NO_MORE_ITEMS = 259;
inline constexpr DWORD ERROR_NOT_FOUND = 1168;
inline constexpr DWORD WAIT_TIMEOUT = 258;

// The HRESULT_FROM_WIN32 mapping: 0x8007xxxx for a positive code, the raw value otherwise.
inline constexpr HRESULT HresultFromWin32(DWORD code) {
  return static_cast<HRESULT>(code) <= 0 ? static_cast<HRESULT>(code)
                                         : static_cast<HRESULT>((code & 0x0000FFFFu) | 0x80070000u);
}

}  // namespace plat
