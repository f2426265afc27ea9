#pragma once

#include <windows.h>

#include <memory>

#include "standins/engine/script_display.h"

namespace standin {

// Creates the view's window: a visible child of a hidden parking window of
// the stand-in until the host makes it a child of its own window. It paints
// `log` (the scripted Flutter side) and repaints whenever the log changes.
// Null when creation fails.
HWND CreateViewWindow(int width, int height, std::shared_ptr<ViewLog> log);

// The hidden window views wait in until the host adopts them.
HWND ParkingWindow();

// Paints frame `frame_number` into the view (when it is visible).
void PaintViewFrame(HWND view, int frame_number);

}  // namespace standin
