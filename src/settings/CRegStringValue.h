// CRegStringValue.h - a string registry value.
#pragma once

#include <string>

#include "settings/CRegValueBase.h"

class CRegStringValue : public CRegValueBase
{
public:
    using CRegValueBase::CRegValueBase;
    ~CRegStringValue() override = default;

    // The value's text up to its first zero byte; empty on any failure. The type is not checked.
    std::string Read();
    // Stores text as REG_SZ with its terminator, creating the key when needed. No result.
    void Write(const std::string& text);
};
