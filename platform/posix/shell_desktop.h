#pragma once
// Pieces of the desktop shell shared by its files: the X server parts that run on the
// caller's thread (key state, capture) beside the GTK parts that run on the toolkit's.
namespace platform::desktop {

// GetKeyState for a Win32 virtual-key code, read from the server's key map and
// pointer buttons.
bool keyDown(int code);
// Captures width x height from the top-left corner of the screen into a PNG file
// (a size of 0 or beyond the screen means the whole screen).
bool captureToPng(int width, int height, const char* path);

}  // namespace platform::desktop
