#pragma once
// The operator's commands, each one request through the shared transaction:
// write presets (Command2), read presets (Command3), clear data (Command4),
// load on/off (Command5) and the module address change (Command_OK1).

namespace eload {

struct Context;

class Commands {
public:
    explicit Commands(Context& ctx);

    void Command2_Click();
    void Combo6_Click();
    void Command3_Click();
    void Command4_Click();
    void Command5_Click();
    void Command_OK1_Click();

private:
    Context& ctx_;
};

} // namespace eload
