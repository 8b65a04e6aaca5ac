#include "support/MemoryPanel.h"

#include "core/FormDefinition.h"

namespace eload::test {

MemoryPanel::MemoryPanel()
{
    for (const ControlDef& d : formDefinition()) {
        State s;
        s.text = d.text;
        s.items = d.items;
        s.enabled = d.enabled;
        s.back = d.backColor.value_or(kWhite);
        controls_[d.id] = s;
    }
}

QString MemoryPanel::text(Ctl c) const { return controls_.at(c).text; }

void MemoryPanel::setText(Ctl c, const QString& s)
{
    State& st = controls_.at(c);
    st.text = s;
    // As in an editable combo box: typed text that is no entry deselects.
    if (st.index >= 0 && st.items.value(st.index) != s) st.index = -1;
}

bool MemoryPanel::isEnabled(Ctl c) const { return controls_.at(c).enabled; }
void MemoryPanel::setEnabled(Ctl c, bool on) { controls_.at(c).enabled = on; }
Rgb MemoryPanel::backColor(Ctl c) const { return controls_.at(c).back; }
void MemoryPanel::setBackColor(Ctl c, Rgb colour) { controls_.at(c).back = colour; }

int MemoryPanel::listIndex(Ctl c) const
{
    const State& st = controls_.at(c);
    return st.index >= 0 && st.items.value(st.index) == st.text ? st.index : -1;
}

void MemoryPanel::setListIndex(Ctl c, int index)
{
    State& st = controls_.at(c);
    if (index >= 0 && index < st.items.size()) {
        st.index = index;
        st.text = st.items[index];
    } else {
        st.index = -1; // the text stays, as with no entry selected
    }
}

int MemoryPanel::listCount(Ctl c) const { return int(controls_.at(c).items.size()); }
QString MemoryPanel::listItem(Ctl c, int index) const { return controls_.at(c).items.value(index); }
void MemoryPanel::addItem(Ctl c, const QString& s) { controls_.at(c).items.append(s); }
void MemoryPanel::setMaxLength(Ctl, int) {} // typing is the window's; nothing types here
void MemoryPanel::setToolTip(Ctl c, const QString& s) { controls_.at(c).toolTip = s; }
QString MemoryPanel::toolTip(Ctl c) const { return controls_.at(c).toolTip; }

bool MemoryPanel::isTimerEnabled(Timer t) const { return running_.count(t) != 0; }

void MemoryPanel::setTimerEnabled(Timer t, bool on)
{
    if (on)
        running_.insert(t);
    else
        running_.erase(t);
}

void MemoryPanel::showMessage(const QString& text, const QString& detail)
{
    messages.append(text);
    details.append(detail);
}

void MemoryPanel::pick(Ctl c, int index) { setListIndex(c, index); }

QStringList MemoryPanel::takeMessages()
{
    QStringList m = messages;
    messages.clear();
    details.clear();
    return m;
}

} // namespace eload::test
