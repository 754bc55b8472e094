#include "module/CComponentModule.h"

const CComponentModule::CLASS_ENTRY CComponentModule::s_classTable[1] = {{nullptr}};

// {3F6B2C1D-7A4E-4C9B-9D21-5E8A0B7C6F14}
const GUID LIBID_VLAGTCLIENTLib = {0x3F6B2C1D, 0x7A4E, 0x4C9B, {0x9D, 0x21, 0x5E, 0x8A, 0x0B, 0x7C, 0x6F, 0x14}};

CComponentModule g_Module;

void CComponentModule::Init(HINSTANCE hInstance, const GUID& libid)
{
    if (m_bInitialized)
        return;
    m_hInstance = hInstance;
    m_libid = libid;
    m_pClassTable = s_classTable;
    m_nLockCount = 0;
    InitializeCriticalSection(&m_csModule);
    InitializeCriticalSection(&m_csTypeInfo);
    InitializeCriticalSection(&m_csClassTable);
    m_bInitialized = true;
}

void CComponentModule::Term()
{
    if (!m_bInitialized)
        return;
    DeleteCriticalSection(&m_csClassTable);
    DeleteCriticalSection(&m_csTypeInfo);
    DeleteCriticalSection(&m_csModule);
    m_bInitialized = false;
}
