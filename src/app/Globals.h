#pragma once

// 1 when the console pane was the last pane to gain the keyboard focus, 0 when
// the terminal pane was. UI thread only.
extern int g_bConsoleFocus;
