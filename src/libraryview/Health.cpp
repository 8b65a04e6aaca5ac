#include "libraryview/Health.h"

#include <algorithm>
#include <cmath>

namespace eload::libraryview {

HealthBands bandsFor(const QString& type, const library::GradeRules& rules)
{
    const auto it = rules.byType.constFind(type.toCaseFolded());
    if (it == rules.byType.constEnd()) return {};
    std::optional<double> highest, lowest;
    for (const library::GradeRule& rule : *it) {
        if (!rule.minSohPercent) continue;
        highest = std::max(highest.value_or(*rule.minSohPercent), *rule.minSohPercent);
        lowest = std::min(lowest.value_or(*rule.minSohPercent), *rule.minSohPercent);
    }
    if (!highest) return {}; // rules on resistance only say nothing of the capacity
    return {*highest, *lowest, true};
}

Health healthOf(const std::optional<double>& soh, const HealthBands& bands)
{
    if (!soh || !std::isfinite(*soh)) return Health::Unknown;
    // In tenths of a percent, as shown: 79.96 % reads "80.0%" and is good.
    const double percent = std::round(*soh * 1000) / 10;
    if (percent >= bands.goodPercent) return Health::Good;
    if (percent >= bands.fairPercent) return Health::Fair;
    return Health::Poor;
}

QColor colourOf(Health health)
{
    switch (health) {
    case Health::Good: return QColor(0xc8, 0xe6, 0xc9);
    case Health::Fair: return QColor(0xff, 0xe0, 0xa0);
    case Health::Poor: return QColor(0xff, 0xc0, 0xc0);
    case Health::Unknown: break;
    }
    return {};
}

QString healthName(Health health)
{
    switch (health) {
    case Health::Good: return QStringLiteral("良好");
    case Health::Fair: return QStringLiteral("一般");
    case Health::Poor: return QStringLiteral("较差");
    case Health::Unknown: break;
    }
    return {};
}

QString bandsText(Health health, const HealthBands& bands)
{
    const QString source =
        bands.fromRules ? QStringLiteral("按该类型的等级规则") : QStringLiteral("该类型无等级规则");
    const auto n = [](double v) { return QString::number(v, 'g', 4) + QLatin1Char('%'); };
    switch (health) {
    case Health::Good:
        return QStringLiteral("%1（≥ %2，%3）")
            .arg(healthName(health), n(bands.goodPercent), source);
    case Health::Fair:
        return QStringLiteral("%1（%2 – %3，%4）")
            .arg(healthName(health), n(bands.fairPercent), n(bands.goodPercent), source);
    case Health::Poor:
        return QStringLiteral("%1（< %2，%3）")
            .arg(healthName(health), n(bands.fairPercent), source);
    case Health::Unknown: break;
    }
    return QStringLiteral("无额定容量，无法计算健康度");
}

} // namespace eload::libraryview
