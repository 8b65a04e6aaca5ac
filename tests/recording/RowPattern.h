#pragma once
// Window values that differ from poll to poll and from column to column, so
// that a workbook row tells which poll it came from and a swapped column shows.

#include "core/Panel.h"

#include <QStringList>

namespace eload::test {

// AI_SHOW(0,1,2,7,5,3,4) with their units, then Label17(0,1,2), for poll `n`.
inline QStringList valueTextsFor(int n)
{
    const auto two = [](int v) { return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0')); };
    return {QString::number(n % 1000 / 100.0, 'f', 2) + QStringLiteral("A"),
            QString::number((1200 + n % 1000) / 100.0, 'f', 2) + QStringLiteral("V"),
            QString::number(n % 15000 / 100.0, 'f', 2) + QStringLiteral("W"),
            QString::number(n % 100) + QStringLiteral("℃"),
            QString::number(n % 500) + QStringLiteral("MR"),
            QString::number(n / 1000.0, 'f', 3) + QStringLiteral("AH"),
            QString::number(n * 12 / 1000.0, 'f', 3) + QStringLiteral("WH"),
            two(n / 3600 % 100),
            two(n / 60 % 60),
            two(n % 60)};
}

inline void showValuesFor(Panel& panel, int n)
{
    const QStringList v = valueTextsFor(n);
    int i = 0;
    for (Ctl c : {Ctl::AI_SHOW0, Ctl::AI_SHOW1, Ctl::AI_SHOW2, Ctl::AI_SHOW7, Ctl::AI_SHOW5,
                  Ctl::AI_SHOW3, Ctl::AI_SHOW4, Ctl::Label17_0, Ctl::Label17_1, Ctl::Label17_2})
        panel.setText(c, v[i++]);
}

// Columns 3 to 10 of that poll's row.
inline QStringList rowTextsFor(int n)
{
    const QStringList v = valueTextsFor(n);
    return v.mid(0, 7) << QStringLiteral(" %1:%2:%3").arg(v[7], v[8], v[9]);
}

} // namespace eload::test
