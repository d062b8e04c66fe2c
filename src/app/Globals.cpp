#include "app/Globals.h"

int g_bConsoleFocus = 0;
