#pragma once
// What every handler works on: the window, its form-level state, the serial
// line and the clock. One instance lives as long as the window.

namespace eload {

class Panel;
struct FormState;
class SerialDevice;
class Clock;

struct Context {
    Panel& panel;
    FormState& state;
    SerialDevice& port;
    Clock& clock;
};

} // namespace eload
