#include <gui/platform/wrappingtextedit.h>

#include <QMimeData>

namespace platform {

void WrappingTextEdit::showText(const QString &text)
{
    // The box lays out its text again whenever the mode changes, so the mode that is slow
    // for overlong words is only ever set while the box holds text without them.
    if (hasOverlongWord(text)) {
        setWordWrapMode(QTextOption::WrapAnywhere);
        setPlainText(text);
    } else {
        setPlainText(text);
        setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    }
}

bool WrappingTextEdit::hasOverlongWord(QStringView text)
{
    qsizetype run = 0;
    for (const QChar c : text) {
        run = c.isSpace() ? 0 : run + 1;
        if (run > maxWordLength)
            return true;
    }
    return false;
}

bool WrappingTextEdit::hasTextToPaste(const QMimeData *source)
{
    return source && source->hasText() && !source->text().isEmpty();
}

bool WrappingTextEdit::canInsertFromMimeData(const QMimeData *source) const
{
    return hasTextToPaste(source) && QPlainTextEdit::canInsertFromMimeData(source);
}

void WrappingTextEdit::insertFromMimeData(const QMimeData *source)
{
    // Empty text would still replace the selection with nothing.
    if (!hasTextToPaste(source))
        return;
    chooseWrapMode(source->text());
    QPlainTextEdit::insertFromMimeData(source);
}

void WrappingTextEdit::chooseWrapMode(QStringView incoming)
{
    // Once wrapped anywhere the box stays so until it is shown new text.
    if (wordWrapMode() != QTextOption::WrapAnywhere
        && hasOverlongWord(document()->toRawText() + incoming.toString()))
        setWordWrapMode(QTextOption::WrapAnywhere);
}

} // namespace platform
