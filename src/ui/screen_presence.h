#pragma once

/// False on the offscreen and minimal platforms, where nobody can see or answer a window.
bool platformHasScreen();
