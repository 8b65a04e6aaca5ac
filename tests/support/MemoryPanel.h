#pragma once
// The window without widgets: texts, states and timers in memory, message
// boxes recorded instead of shown. Starts as the window is created.

#include "core/Panel.h"

#include <QStringList>
#include <map>
#include <set>

namespace eload::test {

class MemoryPanel : public Panel {
public:
    MemoryPanel();

    QString text(Ctl c) const override;
    void setText(Ctl c, const QString& s) override;
    bool isEnabled(Ctl c) const override;
    void setEnabled(Ctl c, bool on) override;
    Rgb backColor(Ctl c) const override;
    void setBackColor(Ctl c, Rgb colour) override;
    int listIndex(Ctl c) const override;
    void setListIndex(Ctl c, int index) override;
    int listCount(Ctl c) const override;
    QString listItem(Ctl c, int index) const override;
    void addItem(Ctl c, const QString& s) override;
    void setMaxLength(Ctl c, int length) override;
    void setToolTip(Ctl c, const QString& s) override;
    bool isTimerEnabled(Timer t) const override;
    void setTimerEnabled(Timer t, bool on) override;
    void showMessage(const QString& text, const QString& detail = {}) override;

    // What the operator would see and do.
    QStringList messages; // every box shown, oldest first
    QStringList details;  // their detail lines
    QString toolTip(Ctl c) const;
    // The operator picks entry `index`: the text follows, no handler runs.
    void pick(Ctl c, int index);
    // Take and clear the recorded boxes.
    QStringList takeMessages();

private:
    struct State {
        QString text;
        QStringList items;
        int index = -1;
        bool enabled = true;
        Rgb back{};
        QString toolTip;
    };
    std::map<Ctl, State> controls_;
    std::set<Timer> running_;
};

} // namespace eload::test
