// DPI awareness on Windows: see DpiAwarenessWin32.h for why.
//
// The newer calls are looked up with GetProcAddress, not linked: the build
// targets Windows 7, which has neither SetProcessDpiAwarenessContext nor
// shcore.dll, and a missing import would stop the program from starting.
#include "platform/windows/DpiAwarenessWin32.h"

#include "platform/Messages.h"

namespace {

// The values of the headers of Windows 10 and 8.1, which a build for
// Windows 7 (_WIN32_WINNT=0x0601) does not see.
const HANDLE kPerMonitorAwareV2Context = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4));
constexpr int kProcessPerMonitorDpiAware = 2;

template <typename Function>
Function Find(const char* module, const char* name) {
  HMODULE library = GetModuleHandleA(module);
  if (!library) library = LoadLibraryA(module);
  if (!library) return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

}  // namespace

DpiAwarenessResult DeclareDpiAwareness(const DpiAwarenessCalls& calls) {
  // The process's awareness can be set once: a manifest that has set it
  // makes every later call fail with "access denied", which is what we want.
  if (calls.setProcessContext) {
    if (calls.setProcessContext(kPerMonitorAwareV2Context)) return DpiAwarenessResult::PerMonitorV2;
    if (calls.lastError && calls.lastError() == ERROR_ACCESS_DENIED) return DpiAwarenessResult::AlreadySet;
    // ERROR_INVALID_PARAMETER: a system that knows the call but not v2.
  }
  if (calls.setProcessAwareness) {
    const HRESULT result = calls.setProcessAwareness(kProcessPerMonitorDpiAware);
    if (result == S_OK) return DpiAwarenessResult::PerMonitor;
    if (result == E_ACCESSDENIED) return DpiAwarenessResult::AlreadySet;
  }
  if (calls.setProcessAware && calls.setProcessAware()) return DpiAwarenessResult::System;
  return DpiAwarenessResult::Unaware;
}

DpiAwarenessCalls SystemDpiAwarenessCalls() {
  DpiAwarenessCalls calls;
  calls.setProcessContext =
      Find<decltype(calls.setProcessContext)>("user32.dll", "SetProcessDpiAwarenessContext");
  // shcore stays loaded: the awareness it sets stays too.
  calls.setProcessAwareness =
      Find<decltype(calls.setProcessAwareness)>("shcore.dll", "SetProcessDpiAwareness");
  calls.setProcessAware = Find<decltype(calls.setProcessAware)>("user32.dll", "SetProcessDPIAware");
  calls.lastError = GetLastError;
  return calls;
}

namespace {

DpiAwarenessCalls (*callsSource)() = SystemDpiAwarenessCalls;
bool declared = false;

}  // namespace

void MakeProcessDpiAware() {
  if (declared) return;
  declared = true;
  if (DeclareDpiAwareness(callsSource()) == DpiAwarenessResult::Unaware) {
    Say(Subsystem::Display,
        "cannot declare DPI awareness: on a scaled display the system stretches the window");
  }
}

void UseDpiAwarenessCalls(DpiAwarenessCalls (*source)()) {
  callsSource = source;
  declared = false;
}
