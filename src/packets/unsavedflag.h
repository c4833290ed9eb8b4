#pragma once

// Set when rows have arrived that no completed log export has written. The main window keeps
// it in its "saved" check box; tests keep it in a plain bool.
class UnsavedFlag
{
public:
    virtual ~UnsavedFlag() = default;
    virtual bool isSet() const = 0;
    virtual void set(bool value) = 0;
};
