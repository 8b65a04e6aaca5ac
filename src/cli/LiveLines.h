#pragma once
// One line per module on a terminal, each rewritten in place as its values
// change, the cursor left below the block. Makes the text; the caller writes it.

#include <QStringList>

namespace eload::cli {

class LiveLines {
public:
    explicit LiveLines(int count);
    // What to write to show `text` as line `index`.
    QString set(int index, const QString& text);

private:
    QStringList lines_;
    bool drawn_ = false;
};

} // namespace eload::cli
