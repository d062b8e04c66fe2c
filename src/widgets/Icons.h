#pragma once

#include <QIcon>

// The program's own artwork, drawn in code so it scales cleanly and needs no
// image plug-ins.
enum class VorlaIcon {
    App,          // window and About box
    Connect,
    Disconnect,
    Settings,
    RunScript,
    ConsoleShown, // Prompt button while the console pane shows
    ConsoleHidden,
    Fonts,
    About,        // small About button
    Help,         // help buttons of the advanced settings
    HelpPressed
};

QIcon MakeIcon(VorlaIcon which, int size);
