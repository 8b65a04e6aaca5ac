#include "cli/LiveLines.h"

#include "cli/Console.h"

namespace eload::cli {

namespace {
// A line that wraps would throw the cursor arithmetic off.
QString fitted(const QString& text)
{
    const int columns = terminalColumns();
    return columns > 1 ? text.left(columns - 1) : text;
}
} // namespace

LiveLines::LiveLines(int count)
{
    for (int i = 0; i < count; ++i)
        lines_ << QString();
}

QString LiveLines::set(int index, const QString& text)
{
    lines_[index] = text;
    if (!drawn_) {
        drawn_ = true;
        QString block;
        for (const QString& l : lines_)
            block += fitted(l) + u'\n';
        return block;
    }
    const int up = int(lines_.size()) - index;
    return QStringLiteral("\x1b[%1A\r\x1b[2K%2\x1b[%1B\r").arg(up).arg(fitted(text));
}

} // namespace eload::cli
