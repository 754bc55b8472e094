// CComponentModule.h - the module's component record, one per process: the instance handle (for
// resources and the type library), the type library's identifier, an empty table of creatable
// classes, a lock count that nothing changes, and three critical sections that live from Init to
// Term. The entry point calls Init at process attach and Term at process detach.
#pragma once

#include "common/WinApi.h"

class CComponentModule
{
public:
    CComponentModule() = default;
    CComponentModule(const CComponentModule&) = delete;
    CComponentModule& operator=(const CComponentModule&) = delete;

    void Init(HINSTANCE hInstance, const GUID& libid);
    // Deletes the critical sections; nothing else is held (the class table is empty).
    void Term();

    // The module's instance handle: where its resources and its type library are found.
    HINSTANCE GetModuleInstance() const { return m_hInstance; }
    const GUID& GetLibID() const { return m_libid; }
    LONG GetLockCount() const { return m_nLockCount; }

    // The table of creatable classes: this module offers none.
    struct CLASS_ENTRY
    {
        const CLSID* pclsid;
    };
    static const CLASS_ENTRY s_classTable[1]; // the terminating entry only

private:
    HINSTANCE m_hInstance = nullptr;
    GUID m_libid = {};
    const CLASS_ENTRY* m_pClassTable = nullptr;
    LONG m_nLockCount = 0;
    bool m_bInitialized = false;
    CRITICAL_SECTION m_csModule;
    CRITICAL_SECTION m_csTypeInfo;
    CRITICAL_SECTION m_csClassTable;
};

// The record of this module.
extern CComponentModule g_Module;

// The identifier of the module's type library, VLAGTCLIENTLib.
extern const GUID LIBID_VLAGTCLIENTLib;
