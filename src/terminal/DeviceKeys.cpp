#include "terminal/DeviceKeys.h"

#include <QKeyEvent>

namespace {

// Keys that send an escape sequence whatever their modifiers (Shift, Ctrl).
const char* SequenceFor(int key)
{
    switch (key) {
    case Qt::Key_Up: return "\x1b[A";
    case Qt::Key_Down: return "\x1b[B";
    case Qt::Key_Right: return "\x1b[C";
    case Qt::Key_Left: return "\x1b[D";
    case Qt::Key_Home: return "\x1b[H";
    case Qt::Key_End: return "\x1b[F";
    case Qt::Key_Insert: return "\x1b[2~";
    case Qt::Key_Delete: return "\x1b[3~";
    case Qt::Key_PageUp: return "\x1b[5~";
    case Qt::Key_PageDown: return "\x1b[6~";
    case Qt::Key_F1: return "\x1bOP";
    case Qt::Key_F2: return "\x1bOQ";
    case Qt::Key_F3: return "\x1bOR";
    case Qt::Key_F4: return "\x1bOS";
    case Qt::Key_F5: return "\x1b[15~";
    case Qt::Key_F6: return "\x1b[17~";
    case Qt::Key_F7: return "\x1b[18~";
    case Qt::Key_F8: return "\x1b[19~";
    case Qt::Key_F9: return "\x1b[20~";
    case Qt::Key_F10: return "\x1b[21~";
    case Qt::Key_F11: return "\x1b[23~";
    case Qt::Key_F12: return "\x1b[24~";
    case Qt::Key_Backtab: return "\x1b[Z";
    case Qt::Key_Escape: return "\x1b";
    case Qt::Key_Backspace: return "\x7f";
    default: return nullptr;
    }
}

} // namespace

std::string DeviceKeyBytes(const QKeyEvent& event)
{
    const int key = event.key();
    const Qt::KeyboardModifiers mods = event.modifiers();
    const bool ctrl = mods & Qt::ControlModifier;
    const bool shift = mods & Qt::ShiftModifier;
    if (mods & (Qt::AltModifier | Qt::MetaModifier))
        return {};
    if (ctrl && (key == Qt::Key_Tab || key == Qt::Key_Backtab || key == Qt::Key_Pause || key == Qt::Key_Cancel))
        return {};
    if (ctrl && shift && (key == Qt::Key_C || key == Qt::Key_V))
        return {};
    if (const char* sequence = SequenceFor(key))
        return sequence;
    if (key == Qt::Key_Tab)
        return "\t";
    if (ctrl) {
        if (key >= Qt::Key_A && key <= Qt::Key_Z)
            return std::string(1, static_cast<char>(key - Qt::Key_A + 1));
        if (key == Qt::Key_Space || key == Qt::Key_At || key == Qt::Key_2)
            return std::string(1, '\0');
        if (key >= Qt::Key_BracketLeft && key <= Qt::Key_Underscore)
            return std::string(1, static_cast<char>(key - Qt::Key_At)); // Ctrl+[ \ ] ^ _
        if (key == Qt::Key_Question)
            return "\x7f";
        return {};
    }
    return event.text().toUtf8().toStdString();
}
