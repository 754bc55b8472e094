// CRegDwordValue.h - a DWORD registry value.
#pragma once

#include "settings/CRegValueBase.h"

class CRegDwordValue : public CRegValueBase
{
public:
    using CRegValueBase::CRegValueBase;
    ~CRegDwordValue() override = default;

    // The value; 0 when the key or value is absent. The type is not checked.
    DWORD Read();
};
