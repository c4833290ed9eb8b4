#pragma once

#include "unsavedflag.h"

// The unsaved flag in a plain bool, for tests without the main window.
class BoolUnsavedFlag : public UnsavedFlag
{
public:
    explicit BoolUnsavedFlag(bool value = false) : m_value(value) {}
    bool isSet() const override { return m_value; }
    void set(bool value) override { m_value = value; }

private:
    bool m_value;
};
