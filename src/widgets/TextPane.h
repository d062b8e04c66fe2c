#pragma once

#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QTextCursor>

// Helpers for a pane built on QPlainTextEdit (the console pane).

// The selected text with its line breaks as "\n".
inline QString SelectedPlainText(const QTextCursor& cursor)
{
    QString text = cursor.selectedText();
    text.replace(QChar::ParagraphSeparator, QChar('\n'));
    text.replace(QChar::LineSeparator, QChar('\n'));
    return text;
}

// Puts the caret at the end of the text, with no selection.
inline void MoveCaretToEnd(QPlainTextEdit* pane)
{
    QTextCursor cursor = pane->textCursor();
    cursor.movePosition(QTextCursor::End);
    pane->setTextCursor(cursor);
}

// The look both panes start with: a sunken edge, no undo, no context menu
// (the right button pastes), the system's fixed-pitch font.
inline void SetUpPane(QPlainTextEdit* pane, const char* name, const char* accessibleName)
{
    pane->setObjectName(name);
    pane->setAccessibleName(accessibleName);
    pane->setUndoRedoEnabled(false);
    pane->setContextMenuPolicy(Qt::NoContextMenu);
    pane->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    pane->setFrameShape(QFrame::StyledPanel);
    pane->setFrameShadow(QFrame::Sunken);
    pane->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
}
