#include "ui/Accessibility.h"

#include "ui/ClickLabel.h"
#include "ui/PictureBox.h"
#include "ui/Shape.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

namespace eload::accessibility {

namespace {

// What a described widget reads, kept on the widget itself: an interface may
// be made before the window has finished describing it.
constexpr char kCaption[] = "eload_caption"; // value labels, lists, the switch
constexpr char kDark[] = "eload_dark";       // the lamp
constexpr char kLit[] = "eload_lit";
constexpr char kOnText[] = "eload_on"; // the switch
constexpr char kLink[] = "eload_link";
constexpr char kPage[] = "eload_page";
constexpr char kUnread[] = "eload_unread";

using Relations = QList<QPair<QAccessibleInterface*, QAccessible::Relation>>;

// A widget that names its caption itself drops the label relation: readers
// speak it before the name, so the caption would be heard twice.
Relations withoutLabel(Relations all)
{
    all.removeIf([](const auto& r) { return (r.second & QAccessible::Label) != 0; });
    return all;
}

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
    explicit ComposedReading(QWidget* w, QAccessible::Role role = QAccessible::StaticText)
        : QAccessibleWidget(w, role)
    {
    }
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
    Relations relations(QAccessible::Relation match) const override
    {
        const Relations all = QAccessibleWidget::relations(match);
        return widget()->property(kCaption).isValid() ? withoutLabel(all) : all;
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

// The brand picture: its label's text, read once as the picture's name.
class PictureReading final : public ComposedReading {
public:
    explicit PictureReading(QWidget* w) : ComposedReading(w, QAccessible::Graphic) {}

protected:
    QString name() const override
    {
        QStringList texts;
        for (const QLabel* part : widget()->findChildren<QLabel*>())
            texts << part->text();
        return texts.join(u' ');
    }
};

// Named by its caption, its entry as the value. Qt names an editable list by
// its entry on Linux and leaves the caption to a label relation, so a reader
// says "COM1" or "1" for three different lists.
class ListReading final : public QAccessibleWidget {
public:
    explicit ListReading(QWidget* w) : QAccessibleWidget(w, QAccessible::ComboBox) {}
    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty())
            return captioned(widget()->property(kCaption).toString(), {});
        if (t == QAccessible::Value) return list()->currentText();
        return QAccessibleWidget::text(t);
    }
    Relations relations(QAccessible::Relation match) const override
    {
        return withoutLabel(QAccessibleWidget::relations(match));
    }
    // The entries' popup, then the edit field, as Qt's own list has them.
    int childCount() const override { return list()->isEditable() ? 2 : 1; }
    QAccessibleInterface* child(int index) const override
    {
        if (index == 0) return QAccessible::queryAccessibleInterface(list()->view());
        if (index == 1 && list()->isEditable())
            return QAccessible::queryAccessibleInterface(list()->lineEdit());
        return nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        if (child->object() == list()->view()) return 0;
        if (list()->isEditable() && child->object() == list()->lineEdit()) return 1;
        return -1;
    }
    QStringList actionNames() const override
    {
        return QAccessibleWidget::actionNames() << showMenuAction() << pressAction();
    }
    void doAction(const QString& action) override
    {
        if (action != showMenuAction() && action != pressAction())
            return QAccessibleWidget::doAction(action);
        if (list()->view()->isVisible())
            list()->hidePopup();
        else
            list()->showPopup();
    }

private:
    QComboBox* list() const { return static_cast<QComboBox*>(widget()); }
};

// A button whose caption says a state ("ON" / "OFF") reads as a toggle named
// by its caption label, checked while on; pressing or toggling it clicks it.
class SwitchReading final : public QAccessibleWidget {
public:
    explicit SwitchReading(QWidget* w) : QAccessibleWidget(w, QAccessible::CheckBox) {}
    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty())
            return captioned(widget()->property(kCaption).toString(), {});
        return QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.checkable = true;
        s.checked = button()->text() == widget()->property(kOnText).toString();
        return s;
    }
    Relations relations(QAccessible::Relation match) const override
    {
        return withoutLabel(QAccessibleWidget::relations(match));
    }
    QStringList actionNames() const override
    {
        return QAccessibleWidget::actionNames() << pressAction() << toggleAction();
    }
    void doAction(const QString& action) override
    {
        if (action == pressAction() || action == toggleAction()) return button()->click();
        QAccessibleWidget::doAction(action);
    }

private:
    QAbstractButton* button() const { return static_cast<QAbstractButton*>(widget()); }
};

// A web address that opens when pressed: a link, not a text.
class LinkReading final : public QAccessibleWidget {
public:
    explicit LinkReading(QWidget* w) : QAccessibleWidget(w, QAccessible::Link) {}
    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty())
            return static_cast<const QLabel*>(widget())->text();
        return QAccessibleWidget::text(t);
    }
    int childCount() const override { return 0; }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QStringList actionNames() const override
    {
        return QAccessibleWidget::actionNames() << pressAction();
    }
    void doAction(const QString& action) override
    {
        if (action == pressAction()) return static_cast<ClickLabel*>(widget())->click();
        QAccessibleWidget::doAction(action);
    }
};

// The controls' page, less what only repeats another control (the switch's rim).
class PageReading final : public QAccessibleWidget {
public:
    explicit PageReading(QWidget* w) : QAccessibleWidget(w) {}
    int childCount() const override { return int(read().size()); }
    QAccessibleInterface* child(int index) const override
    {
        const QWidgetList all = read();
        return index >= 0 && index < all.size() ? QAccessible::queryAccessibleInterface(all[index])
                                                : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        return int(read().indexOf(qobject_cast<QWidget*>(child->object())));
    }

private:
    QWidgetList read() const
    {
        QWidgetList all;
        for (QWidget* w : widget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            if (!w->isWindow() && !w->property(kUnread).isValid()) all.append(w);
        return all;
    }
};

// Asked for each class of an object, the most derived first; Qt's own answer
// for its classes first.
QAccessibleInterface* readingOf(const QString& className, QObject* object)
{
    auto* w = qobject_cast<QWidget*>(object);
    if (!w) return nullptr;
    if (w->property(kLink).isValid()) return new LinkReading(w);
    if (w->property(kPage).isValid()) return new PageReading(w);
    const auto is = [&](const QMetaObject& meta) {
        return className == QLatin1String(meta.className());
    };
    if (is(List::staticMetaObject)) return new ListReading(w);
    if (is(Switch::staticMetaObject)) return new SwitchReading(w);
    if (is(ClickLabel::staticMetaObject)) return new LabelReading(w);
    if (is(LabelRow::staticMetaObject)) return new RowReading(w);
    if (is(Shape::staticMetaObject)) return new LampReading(w);
    if (is(PictureBox::staticMetaObject)) return new PictureReading(w);
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

void describeList(List* list, const QString& caption)
{
    list->setProperty(kCaption, caption);
    if (list->lineEdit()) list->lineEdit()->setAccessibleName(captioned(caption, {}));
}

void describeSwitch(Switch* button, const QString& caption, const QString& onText)
{
    button->setProperty(kCaption, caption);
    button->setProperty(kOnText, onText);
}

void describeLink(ClickLabel* label) { label->setProperty(kLink, true); }

void describePage(QWidget* page) { page->setProperty(kPage, true); }

void hideFromReaders(QWidget* w) { w->setProperty(kUnread, true); }

void readingChanged(QWidget* w)
{
    if (!QAccessible::isActive()) return;
    if (w->property(kOnText).isValid()) {
        QAccessible::State checked;
        checked.checked = true;
        QAccessibleStateChangeEvent event(w, checked);
        QAccessible::updateAccessibility(&event);
        return;
    }
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
