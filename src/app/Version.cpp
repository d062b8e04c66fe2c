#include "app/Version.h"

const char* VorlaVersion() { return kVorlaVersion; }
