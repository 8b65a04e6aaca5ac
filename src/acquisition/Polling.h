#pragma once
// The acquisition cycle: Timer2 polls the module every 500 ms while
// Command_OK3 reads "停 止"; Timer3 reads it once a second after a clear.

namespace eload {

struct Context;

class Polling {
public:
    explicit Polling(Context& ctx);

    void Command_OK3_Click(); // start / stop
    void Timer2_Timer();      // one MeasurementPoll, no pause
    void Timer3_Timer();      // one MeasurementPoll after a clear, acquisition stopped

private:
    Context& ctx_;
};

} // namespace eload
