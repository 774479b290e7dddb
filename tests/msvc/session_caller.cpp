// A Windows client of the bridge's session API as it would be built with Microsoft's compiler:
// the declarations as such a client writes them, no header of ours, no system header. The export
// check compiles it for x86 and x64 (clang++ --target=<arch>-pc-windows-msvc) and requires every
// symbol the object leaves undefined to be among the DLL's exports.
struct _MBIMIDS {
  wchar_t InterfaceID[64];
};

long EnumInterface(long* count, _MBIMIDS* ids);
long ConnectInterface(unsigned short* interfaceID);
int DisconnectInterface();
long OpenCommandSession(unsigned short* deviceServiceID);
int CloseCommandSession(unsigned short* deviceServiceID);
long QueryCommand(unsigned short* interfaceID, unsigned short* deviceServiceID, unsigned int commandID,
                  unsigned int ulCommandLength, unsigned char* pCommandData, unsigned int* pulResponseLength,
                  unsigned char* pResponseData);
long SetCommand(unsigned short* interfaceID, unsigned short* deviceServiceID, unsigned int commandID,
                unsigned int ulCommandLength, unsigned char* pCommandData, unsigned int* pulResponseLength,
                unsigned char* pResponseData);

long WalkTheSession(unsigned short* service) {
  static _MBIMIDS ids[32];
  long count = 0;
  long hr = EnumInterface(&count, ids);
  if (hr < 0 || count == 0) return hr;
  hr = ConnectInterface(reinterpret_cast<unsigned short*>(ids[0].InterfaceID));
  if (hr < 0) return hr;
  unsigned char request[12] = {};
  unsigned char response[64] = {};
  unsigned int length = sizeof response;
  if (OpenCommandSession(service) >= 0) {
    hr = QueryCommand(reinterpret_cast<unsigned short*>(ids[0].InterfaceID), service, 1, sizeof request, request,
                      &length, response);
    if (hr >= 0)
      hr = SetCommand(reinterpret_cast<unsigned short*>(ids[0].InterfaceID), service, 2, sizeof request, request,
                      &length, response);
    CloseCommandSession(service);
  }
  DisconnectInterface();
  return hr;
}
