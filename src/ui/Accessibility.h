#pragma once
// What a screen reader hears from the window. Qt reads a plain top-level
// widget as a client area, a label as its bare text, a painted lamp as
// nothing and, on Linux, an editable list by its current entry; the
// interfaces installed here read the window as a window named by its caption,
// a value with its caption ("放电电流: 1.25A"), a row of labels as one text,
// the lamp by its state, a list by its caption, the load switch as a toggle
// with its state and the web address as a link. Names are composed from the
// widgets whenever a reader asks; what changes is announced by readingChanged.

#include <QComboBox>
#include <QPushButton>
#include <QString>
#include <QWidget>

class QLabel;

namespace eload {

class ClickLabel;
class Shape;

namespace accessibility {

// Labels read together as "<caption>: " and their texts in order, such as
// the discharge time 00:01:05; the labels are not read on their own.
class LabelRow final : public QWidget {
    Q_OBJECT
public:
    LabelRow(const QString& caption, QWidget* parent);
    QString caption() const { return caption_; }

private:
    QString caption_;
};

// Qt's own interfaces answer for its own classes before any of ours is
// asked: a list or a switch that reads otherwise is a class of its own.
class List final : public QComboBox {
    Q_OBJECT
public:
    using QComboBox::QComboBox;
};

class Switch final : public QPushButton {
    Q_OBJECT
public:
    using QPushButton::QPushButton;
};

// The interfaces below, for every window; installing again does nothing.
void install();

// `value` reads "<caption>: <text>", its caption alone while it is empty,
// and has no label of its own for the reader.
void describeValue(QLabel* value, const QString& caption);

// The lamp reads `dark` while its fill is black, `lit` otherwise.
void describeLamp(Shape* lamp, const QString& dark, const QString& lit);

// `list` reads as a list named `caption`, its entry as its value; so does
// its edit field, which holds the focus on its behalf.
void describeList(List* list, const QString& caption);

// `button` reads as a toggle named `caption`, on while its text is `onText`.
void describeSwitch(Switch* button, const QString& caption, const QString& onText);

// `label` reads as a link to its text; pressing it is a click.
void describeLink(ClickLabel* label);

// `page` holds the controls: its children marked by hideFromReaders are left
// out of what readers reach.
void describePage(QWidget* page);
void hideFromReaders(QWidget* w);

// The text or colour of `w` changed: readers are told the new reading of
// whatever reads it (its row, or itself), and a switch's new state.
void readingChanged(QWidget* w);

// "<caption>: <text>" with the caption's own colon dropped; the caption alone
// for a blank text.
QString captioned(const QString& caption, const QString& text);

} // namespace accessibility
} // namespace eload
