#include "ui/Fonts.h"

#include <QStringList>

namespace eload {

QFont songFont(qreal points, bool bold)
{
    QFont f;
    f.setFamilies({QStringLiteral("宋体"), QStringLiteral("SimSun"),
                   QStringLiteral("AR PL UMing CN"), QStringLiteral("WenQuanYi Micro Hei")});
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}

} // namespace eload
