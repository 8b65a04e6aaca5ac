#pragma once
// The three preset boxes Text3, Text4 and Text5: a click stops acquisition,
// typing lets only digits and the point through.

namespace eload {

struct Context;

// The character filter of the preset boxes: digits and "." pass, every other
// code becomes 0 (swallowed), Backspace and the minus sign included.
int filterPresetKey(int keyAscii);

class PresetFields {
public:
    explicit PresetFields(Context& ctx);

    void Text3_Click();
    void Text4_Click();
    void Text5_Click();
    void Text3_KeyPress(int& keyAscii);
    void Text4_KeyPress(int& keyAscii);
    void Text5_KeyPress(int& keyAscii);

private:
    void stopOnClick();

    Context& ctx_;
};

} // namespace eload
