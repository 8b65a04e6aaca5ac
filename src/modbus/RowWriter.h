#pragma once
// Told after every decoded read reply, once the window shows its values.

namespace eload {

class RowWriter {
public:
    virtual ~RowWriter() = default;
    virtual void WriteRow() = 0;
};

} // namespace eload
