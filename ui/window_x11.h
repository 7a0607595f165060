// The window system beneath the window library: whether the window still
// exists, and what happens when the connection to the display breaks. The
// window library reports neither.
#pragma once

// From now on a broken connection to the display calls on_lost, which must
// end the process (it must not use the window library any more).
void watch_display_connection(void (*on_lost)());

// True when the window the window library draws into has been destroyed.
bool window_is_gone();
