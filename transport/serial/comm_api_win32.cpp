#include "transport/serial/comm_api.h"

namespace {

CommApi MakeSystemCommApi() {
  CommApi api{};
  api.CreateFileW = ::CreateFileW;
  api.CloseHandle = ::CloseHandle;
  api.GetCommState = ::GetCommState;
  api.SetCommState = ::SetCommState;
  api.SetCommTimeouts = ::SetCommTimeouts;
  api.SetCommMask = ::SetCommMask;
  api.WaitCommEvent = ::WaitCommEvent;
  api.ClearCommError = ::ClearCommError;
  api.PurgeComm = ::PurgeComm;
  api.ReadFile = ::ReadFile;
  api.WriteFile = ::WriteFile;
  api.GetOverlappedResult = ::GetOverlappedResult;
  api.CancelIo = ::CancelIo;
  api.WaitForMultipleObjects = ::WaitForMultipleObjects;
  api.GetLastError = ::GetLastError;
  return api;
}

const CommApi kSystemCommApi = MakeSystemCommApi();

}  // namespace

const CommApi* SystemCommApi() { return &kSystemCommApi; }
