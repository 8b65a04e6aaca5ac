#include "ui/LengthLimit.h"

#include <QLineEdit>

namespace eload {

LengthLimit::LengthLimit(int limit, QLineEdit* edit)
    : QValidator(edit), limit_(limit), allowed_(qMax(limit, int(edit->text().size())))
{
    connect(edit, &QLineEdit::textChanged, this, &LengthLimit::follow);
}

void LengthLimit::admit(const QString& text) { allowed_ = qMax(limit_, int(text.size())); }

// An accepted edit that shortened an over-long text lowers the allowance with it.
void LengthLimit::follow(const QString& text)
{
    allowed_ = qMax(limit_, qMin(allowed_, int(text.size())));
}

QValidator::State LengthLimit::validate(QString& input, int&) const
{
    return input.size() > allowed_ ? Invalid : Acceptable;
}

} // namespace eload
