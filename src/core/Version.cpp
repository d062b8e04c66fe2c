#include "core/Version.h"

const char* VorlaVersion() { return kVorlaVersion; }
