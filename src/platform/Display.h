// Display service: the desktop's mode, one borderless window of the desktop's
// size with a GL compatibility context, window messages one at a time without
// blocking, quit posting and buffer swaps.
#pragma once

struct DesktopMode {
  int width = 0;
  int height = 0;
  int bitsPerPixel = 0;
};

enum class MessageKind { KeyDown, SysKeyDown, RightButtonDown, CloseRequest, Quit, Other };

struct DisplayMessage {
  MessageKind kind = MessageKind::Other;
  int key = 0;  // SDL keycode for KeyDown and SysKeyDown
};

// Swaps the demo window's buffers: presents the frame drawn since the last swap.
void SwapDemoWindow();
// Posts a quit message that the message loop will retrieve.
void PostQuit();
