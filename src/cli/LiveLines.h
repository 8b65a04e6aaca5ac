#pragma once
// One line per module on a terminal, each rewritten in place as its values
// change, the cursor left below the block.

#include <QStringList>

namespace eload::cli {

class LiveLines {
public:
    explicit LiveLines(int count);
    void set(int index, const QString& text);

private:
    QStringList lines_;
    bool drawn_ = false;
};

} // namespace eload::cli
