#pragma once

#include <QPlainTextEdit>

namespace platform {

// A multi-line text box that wraps at word boundaries and stays quick with very long words.
// QPlainTextEdit lays out a word longer than a line in time that grows with the square of
// the word's length (a 1 MB line without a blank took over three minutes); breaking
// anywhere is linear. So text holding such a word is wrapped anywhere, other text at words.
class WrappingTextEdit : public QPlainTextEdit
{
    Q_OBJECT

public:
    using QPlainTextEdit::QPlainTextEdit;

    // Replaces the text, choosing the wrap mode for it first.
    void showText(const QString &text);

    // True when text holds more than maxWordLength characters in a row without a blank.
    static bool hasOverlongWord(QStringView text);
    static constexpr qsizetype maxWordLength = 2000;

protected:
    // A paste or drop with nothing to paste does nothing. Qt 6.4's own insertFromMimeData
    // dereferences the first of the source's formats, and an X clipboard without an owner
    // hands out data with none: Ctrl+V after login ended the program.
    bool canInsertFromMimeData(const QMimeData *source) const override;
    void insertFromMimeData(const QMimeData *source) override;

private:
    // True when source holds text that is not empty: the only thing a plain text box takes.
    static bool hasTextToPaste(const QMimeData *source);
    void chooseWrapMode(QStringView incoming);
};

} // namespace platform
