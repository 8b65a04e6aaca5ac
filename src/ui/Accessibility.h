#pragma once
// What a screen reader hears from the window. Qt reads a plain top-level
// widget as a client area, a label as its bare text and a painted lamp as
// nothing; the interfaces installed here read the window as a window named
// by its caption, a value with its caption ("放电电流: 1.25A"), a row of
// labels as one text and the lamp by its state. Names are composed from the
// widgets whenever a reader asks; what changes is announced by readingChanged.

#include <QString>
#include <QWidget>

class QLabel;

namespace eload {

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

// The interfaces below, for every window; installing again does nothing.
void install();

// `value` reads "<caption>: <text>", its caption alone while it is empty,
// and has no label of its own for the reader.
void describeValue(QLabel* value, const QString& caption);

// The lamp reads `dark` while its fill is black, `lit` otherwise.
void describeLamp(Shape* lamp, const QString& dark, const QString& lit);

// The text or colour of `w` changed: readers are told the new reading of
// whatever reads it (its row, or itself).
void readingChanged(QWidget* w);

// "<caption>: <text>" with the caption's own colon dropped; the caption alone
// for a blank text.
QString captioned(const QString& caption, const QString& text);

} // namespace accessibility
} // namespace eload
