#pragma once
// Maximum length of typed and pasted input. Unlike QLineEdit::setMaxLength it
// never cuts a text the program sets: such a text may be longer than the
// limit, and an edit may then shorten it but not make it longer.

#include <QValidator>

class QLineEdit;

namespace eload {

class LengthLimit final : public QValidator {
    Q_OBJECT
public:
    LengthLimit(int limit, QLineEdit* edit);

    // Call before the program sets `text`, so that the text counts as valid.
    void admit(const QString& text);

    State validate(QString& input, int& pos) const override;

private:
    void follow(const QString& text);

    int limit_;
    int allowed_; // the limit, or the length of a longer program-set text
};

} // namespace eload
