#pragma once

// Gives every CTextView an accessible interface with Qt's text interface
// (text, character count, caret, selection, geometry), so that screen
// readers read the pane. Installs its factory once; later calls do nothing.
void InstallTextViewAccessibility();
