#include "ui/Accessibility.h"

#include "ui/ClickLabel.h"
#include "ui/Shape.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QLabel>

namespace eload::accessibility {

namespace {

// What a described widget reads, kept on the widget itself: an interface may
// be made before the window has finished describing it.
constexpr char kCaption[] = "eload_caption"; // value labels
constexpr char kDark[] = "eload_dark";       // the lamp
constexpr char kLit[] = "eload_lit";

// The window is a window, named by its caption without the blanks that pad it.
class WindowReading final : public QAccessibleWidget {
public:
    explicit WindowReading(QWidget* w) : QAccessibleWidget(w, QAccessible::Window) {}
    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty())
            return widget()->windowTitle().trimmed();
        return QAccessibleWidget::text(t);
    }
};

// A name composed afresh on every question; no children of its own.
class ComposedReading : public QAccessibleWidget {
public:
    explicit ComposedReading(QWidget* w) : QAccessibleWidget(w, QAccessible::StaticText) {}
    QString text(QAccessible::Text t) const override
    {
        if (t != QAccessible::Name || !widget()->accessibleName().isEmpty())
            return QAccessibleWidget::text(t);
        return name();
    }
    int childCount() const override { return 0; }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }

protected:
    virtual QString name() const = 0;
};

// A label: its text, after its caption when it has one.
class LabelReading final : public ComposedReading {
public:
    using ComposedReading::ComposedReading;

    // A captioned value names its caption itself. Readers speak a label
    // relation before the name: the caption twice, or for an empty value the
    // frame's title, which Qt relates to every widget in a frame.
    QList<QPair<QAccessibleInterface*, QAccessible::Relation>>
    relations(QAccessible::Relation match) const override
    {
        auto all = QAccessibleWidget::relations(match);
        if (widget()->property(kCaption).isValid())
            all.removeIf([](const auto& r) { return (r.second & QAccessible::Label) != 0; });
        return all;
    }

protected:
    QString name() const override
    {
        const QString text = static_cast<const QLabel*>(widget())->text();
        const QVariant caption = widget()->property(kCaption);
        return caption.isValid() ? captioned(caption.toString(), text) : text;
    }
};

class RowReading final : public ComposedReading {
public:
    using ComposedReading::ComposedReading;

protected:
    QString name() const override
    {
        QString text;
        for (const QLabel* part : widget()->findChildren<QLabel*>(Qt::FindDirectChildrenOnly))
            text += part->text();
        return captioned(static_cast<const LabelRow*>(widget())->caption(), text);
    }
};

class LampReading final : public ComposedReading {
public:
    using ComposedReading::ComposedReading;

protected:
    QString name() const override
    {
        const bool dark = static_cast<const Shape*>(widget())->fillColor() == Qt::black;
        return widget()->property(dark ? kDark : kLit).toString();
    }
};

// Asked for each class of an object, the most derived first, before Qt's own.
QAccessibleInterface* readingOf(const QString& className, QObject* object)
{
    auto* w = qobject_cast<QWidget*>(object);
    if (!w) return nullptr;
    if (className == QLatin1String(ClickLabel::staticMetaObject.className()))
        return new LabelReading(w);
    if (className == QLatin1String(LabelRow::staticMetaObject.className()))
        return new RowReading(w);
    if (className == QLatin1String(Shape::staticMetaObject.className())) return new LampReading(w);
    // A top-level widget of a class no one describes: a window, not a client area.
    if (className == QLatin1String("QWidget") && w->isWindow()) return new WindowReading(w);
    return nullptr;
}

} // namespace

LabelRow::LabelRow(const QString& caption, QWidget* parent) : QWidget(parent), caption_(caption) {}

void install()
{
    static const bool installed = [] {
        QAccessible::installFactory(readingOf);
        return true;
    }();
    Q_UNUSED(installed);
}

void describeValue(QLabel* value, const QString& caption) { value->setProperty(kCaption, caption); }

void describeLamp(Shape* lamp, const QString& dark, const QString& lit)
{
    lamp->setProperty(kDark, dark);
    lamp->setProperty(kLit, lit);
}

void readingChanged(QWidget* w)
{
    if (!QAccessible::isActive()) return;
    QWidget* reader = qobject_cast<LabelRow*>(w->parentWidget()) ? w->parentWidget() : w;
    QAccessibleEvent event(reader, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&event);
}

QString captioned(const QString& caption, const QString& text)
{
    QString name = caption.trimmed();
    if (name.endsWith(u':') || name.endsWith(u'：')) name.chop(1);
    const QString value = text.trimmed();
    return value.isEmpty() ? name : name + QStringLiteral(": ") + value;
}

} // namespace eload::accessibility
