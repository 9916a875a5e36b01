#include "shell/WindowProc.h"

bool (*ExtraKeyHandler)(int key) = nullptr;

long WindowProc(const DisplayMessage& msg) {
  switch (msg.kind) {
    case MessageKind::KeyDown:
      if (msg.key == KeyEscape) {
        PostQuit();
      } else if (ExtraKeyHandler) {
        ExtraKeyHandler(msg.key);
      }
      return 0;  // every other key is swallowed, no default processing
    case MessageKind::RightButtonDown:
      PostQuit();
      return 0;
    case MessageKind::CloseRequest:
      // Closing the window ends the show like Escape does: a demo that played
      // on without a window would leave its music running with nothing to stop it.
      PostQuit();
      return 0;
    default:
      return DefaultMessageAction(msg);
  }
}

PumpResult PumpOneMessage() {
  if (TakeQuitSignal()) PostQuit();
  DisplayMessage msg;
  if (!PeekDisplayMessage(&msg)) return PumpResult::NoneWaiting;
  WindowProc(msg);
  return msg.kind == MessageKind::Quit ? PumpResult::Quit : PumpResult::Handled;
}

bool RunMessageLoop(bool (*frame)()) {
  for (;;) {
    switch (PumpOneMessage()) {
      case PumpResult::Quit:
        return false;
      case PumpResult::Handled:
        break;
      case PumpResult::NoneWaiting:
        if (!frame()) return true;  // the show's end: that frame was not presented
        break;
    }
  }
}
