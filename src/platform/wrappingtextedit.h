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
    void insertFromMimeData(const QMimeData *source) override;

private:
    void chooseWrapMode(QStringView incoming);
};

} // namespace platform
