#pragma once

// The program's version as shown in the About box and by GetVorlaVersion.
inline constexpr const char* kVorlaVersion = "1.0";
inline constexpr const char* kAppName = "VORLA";

const char* VorlaVersion();
