#include "widgets/TextViewAccessible.h"

#include <QAccessibleWidget>

#include <algorithm>

#include "widgets/TextView.h"

namespace {

bool IsWordByte(char c)
{
    const auto b = static_cast<unsigned char>(c);
    return (b >= '0' && b <= '9') || (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || b == '_' || b >= 0x80;
}

class CTextViewAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit CTextViewAccessible(CTextView* view) : QAccessibleWidget(view, QAccessible::EditableText) {}

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.multiLine = true;
        return state;
    }

    QString text(QAccessible::Text type) const override
    {
        return type == QAccessible::Value ? View()->toPlainText() : QAccessibleWidget::text(type);
    }

    void selection(int selectionIndex, int* startOffset, int* endOffset) const override
    {
        *startOffset = *endOffset = 0;
        if (selectionIndex == 0 && View()->HasSelection()) {
            *startOffset = static_cast<int>(View()->SelectionStart());
            *endOffset = static_cast<int>(View()->SelectionEnd());
        }
    }
    int selectionCount() const override { return View()->HasSelection() ? 1 : 0; }
    void addSelection(int startOffset, int endOffset) override { setSelection(0, startOffset, endOffset); }
    void removeSelection(int selectionIndex) override
    {
        if (selectionIndex == 0)
            setCursorPosition(cursorPosition());
    }
    void setSelection(int selectionIndex, int startOffset, int endOffset) override
    {
        if (selectionIndex == 0)
            View()->SetSelection(startOffset, endOffset);
    }

    int cursorPosition() const override { return static_cast<int>(View()->CaretPosition()); }
    void setCursorPosition(int position) override { View()->SetSelection(position, position); }

    QString text(int startOffset, int endOffset) const override { return View()->TextRange(startOffset, endOffset); }
    int characterCount() const override { return static_cast<int>(View()->CharacterCount()); }

    QString textAtOffset(int offset, QAccessible::TextBoundaryType boundary, int* startOffset,
                         int* endOffset) const override
    {
        Unit(offset, boundary, startOffset, endOffset);
        return text(*startOffset, *endOffset);
    }
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundary, int* startOffset,
                             int* endOffset) const override
    {
        Unit(offset, boundary, startOffset, endOffset);
        if (*startOffset <= 0) {
            *startOffset = *endOffset = 0;
            return QString();
        }
        return textAtOffset(*startOffset - 1, boundary, startOffset, endOffset);
    }
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundary, int* startOffset,
                            int* endOffset) const override
    {
        Unit(offset, boundary, startOffset, endOffset);
        if (*endOffset >= characterCount()) {
            *startOffset = *endOffset = characterCount();
            return QString();
        }
        return textAtOffset(*endOffset, boundary, startOffset, endOffset);
    }

    QRect characterRect(int offset) const override
    {
        const QRect rect = View()->CharacterRect(offset);
        return QRect(View()->viewport()->mapToGlobal(rect.topLeft()), rect.size());
    }
    int offsetAtPoint(const QPoint& point) const override
    {
        return static_cast<int>(View()->OffsetAt(View()->viewport()->mapFromGlobal(point)));
    }
    void scrollToSubstring(int startIndex, int) override { View()->ScrollToOffset(startIndex); }
    QString attributes(int, int* startOffset, int* endOffset) const override
    {
        *startOffset = 0;
        *endOffset = characterCount();
        return QString();
    }

private:
    CTextView* View() const { return static_cast<CTextView*>(widget()); }

    // The character, word or line at offset, or the whole text.
    void Unit(int offset, QAccessible::TextBoundaryType boundary, int* startOffset, int* endOffset) const
    {
        const CLineStore& store = View()->Store();
        const int count = characterCount();
        offset = std::clamp(offset, 0, count);
        const uint64_t pos = store.Begin() + static_cast<uint64_t>(offset);
        uint64_t from = pos;
        uint64_t to = std::min<uint64_t>(pos + 1, store.End());
        switch (boundary) {
        case QAccessible::CharBoundary:
            break;
        case QAccessible::WordBoundary:
            if (pos < store.End() && IsWordByte(store.At(pos))) {
                while (from > store.Begin() && IsWordByte(store.At(from - 1)))
                    --from;
                while (to < store.End() && IsWordByte(store.At(to)))
                    ++to;
            }
            break;
        case QAccessible::NoBoundary:
            from = store.Begin();
            to = store.End();
            break;
        default: { // lines, sentences, paragraphs: the line with its line break
            const std::size_t line = store.LineOf(pos);
            from = store.LineStart(line);
            to = std::min<uint64_t>(store.LineEnd(line) + 1, store.End());
            break;
        }
        }
        *startOffset = static_cast<int>(from - store.Begin());
        *endOffset = static_cast<int>(std::max(from, to) - store.Begin());
    }
};

QAccessibleInterface* TextViewFactory(const QString&, QObject* object)
{
    if (auto* view = qobject_cast<CTextView*>(object))
        return new CTextViewAccessible(view);
    return nullptr;
}

} // namespace

void InstallTextViewAccessibility()
{
    static const bool installed = (QAccessible::installFactory(TextViewFactory), true);
    (void)installed;
}
