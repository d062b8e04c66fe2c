#include "TestPlatform.h"

// Linux runs every test: its pseudo-terminals are the reference.
std::string WhyNot(ELimit) { return {}; }

std::string MissingPortPath() { return "/nonexistent/ttyUSB99"; }
