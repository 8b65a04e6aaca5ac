#include "recording/RecordLayout.h"

#include "ui/Panel.h"

namespace eload {

QString bookNameAt(const QDateTime& t)
{
    return t.toString(QStringLiteral("yyyy-MM-dd_")) + t.toString(QStringLiteral("hh时mm分ss秒"));
}

QString rowTimeText(const QDateTime& t)
{
    return t.toString(QStringLiteral("yyyy-MM-dd")) + QLatin1Char(' ') +
           t.toString(QStringLiteral("hh时:mm分:ss秒"));
}

RecordRow rowFromPanel(const Panel& panel, int number, const QDateTime& t)
{
    const QString discharge = QLatin1Char(' ') + panel.text(Ctl::Label17_0) + QLatin1Char(':') +
                              panel.text(Ctl::Label17_1) + QLatin1Char(':') +
                              panel.text(Ctl::Label17_2);
    return {number,
            {rowTimeText(t), panel.text(Ctl::AI_SHOW0), panel.text(Ctl::AI_SHOW1),
             panel.text(Ctl::AI_SHOW2), panel.text(Ctl::AI_SHOW7), panel.text(Ctl::AI_SHOW5),
             panel.text(Ctl::AI_SHOW3), panel.text(Ctl::AI_SHOW4), discharge}};
}

} // namespace eload
