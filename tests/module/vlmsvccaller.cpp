// vlmsvccaller.exe - a caller of VLAgtClient.dll compiled for Microsoft's C++ ABI (clang's
// i686-pc-windows-msvc or x86_64-pc-windows-msvc target), linked by lld-link against VLAgtClient.lib,
// without any C runtime: its own entry point, operator new over the process heap, the few Win32 functions declared here.
//
// It includes VLAgtClient.h unchanged and drives CDRMLogin through every public member against the
// server the registry names ("VLDrmAgtSvr"), in the order MsvcCallerTest scripts the replies. It
// makes objects on the stack, with new/delete, new[]/delete[] and ::delete, copies and assigns them.
// Each failed check writes a line "FAIL <what>"; the last line is "checks <n> failed <m>". The report
// goes to the file named by VLAGT_MSVC_REPORT. With VLAGT_MSVC_MODE=online it runs CheckOnline
// instead, which echoes the machine's own address (only inside a network namespace of the test's).
// Exit code: the number of failed checks, 100 when the report cannot be written.
#include "SessionLayout.h"
#include "VLAgtClient.h"

typedef unsigned long DWORD_T;

struct HEAP_ENTRY_T // PROCESS_HEAP_ENTRY
{
    void* lpData;
    DWORD_T cbData;
    unsigned char cbOverhead;
    unsigned char iRegionIndex;
    unsigned short wFlags;
    union {
        struct
        {
            void* hMem;
            DWORD_T dwReserved[3];
        } Block;
        struct
        {
            DWORD_T dwCommittedSize;
            DWORD_T dwUnCommittedSize;
            void* lpFirstBlock;
            void* lpLastBlock;
        } Region;
    };
};
#if defined(_WIN64)
static_assert(sizeof(HEAP_ENTRY_T) == 40, "PROCESS_HEAP_ENTRY is 40 bytes");
#else
static_assert(sizeof(HEAP_ENTRY_T) == 28, "PROCESS_HEAP_ENTRY is 28 bytes");
#endif

extern "C" {
__declspec(dllimport) void* __stdcall GetProcessHeap(void);
__declspec(dllimport) void* __stdcall HeapAlloc(void* heap, DWORD_T flags, size_t bytes);
__declspec(dllimport) int __stdcall HeapFree(void* heap, DWORD_T flags, void* block);
__declspec(dllimport) int __stdcall HeapLock(void* heap);
__declspec(dllimport) int __stdcall HeapUnlock(void* heap);
__declspec(dllimport) int __stdcall HeapWalk(void* heap, HEAP_ENTRY_T* entry);
__declspec(dllimport) DWORD_T __stdcall GetEnvironmentVariableA(const char* name, char* buffer, DWORD_T size);
__declspec(dllimport) void* __stdcall CreateFileA(const char* name, DWORD_T access, DWORD_T share, void* security,
                                                  DWORD_T disposition, DWORD_T attributes, void* tmpl);
__declspec(dllimport) int __stdcall WriteFile(void* file, const void* data, DWORD_T bytes, DWORD_T* written,
                                              void* overlapped);
__declspec(dllimport) int __stdcall CloseHandle(void* handle);
__declspec(dllimport) void __stdcall ExitProcess(unsigned int code);
__declspec(dllimport) DWORD_T __stdcall GetLastError(void);

// The compiler lowers record copies and clears to these.
void* memset(void* to, int value, size_t count)
{
    unsigned char* p = static_cast<unsigned char*>(to);
    for (size_t i = 0; i < count; ++i)
        p[i] = static_cast<unsigned char>(value);
    return to;
}
void* memcpy(void* to, const void* from, size_t count)
{
    unsigned char* p = static_cast<unsigned char*>(to);
    const unsigned char* q = static_cast<const unsigned char*>(from);
    for (size_t i = 0; i < count; ++i)
        p[i] = q[i];
    return to;
}
}

// Heap objects of Microsoft-built callers come from the process heap, as the Microsoft runtime's do.
void* operator new(size_t bytes) { return HeapAlloc(GetProcessHeap(), 0, bytes); }
void* operator new[](size_t bytes) { return HeapAlloc(GetProcessHeap(), 0, bytes); }
void operator delete(void* block) noexcept { HeapFree(GetProcessHeap(), 0, block); }
void operator delete[](void* block) noexcept { HeapFree(GetProcessHeap(), 0, block); }
void operator delete(void* block, size_t) noexcept { HeapFree(GetProcessHeap(), 0, block); }
void operator delete[](void* block, size_t) noexcept { HeapFree(GetProcessHeap(), 0, block); }

namespace {

const DWORD_T kHeapEntryBusy = 0x0004;

struct Report
{
    char text[8192];
    size_t used;
    int checks;
    int failed;
};
Report g_report; // zero-initialised, no constructor to run

void Append(const char* text)
{
    while (*text != '\0' && g_report.used + 1 < sizeof(g_report.text))
        g_report.text[g_report.used++] = *text++;
}

void AppendNumber(unsigned long value)
{
    char digits[12];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0 && n < 12);
    char text[13];
    for (int i = 0; i < n; ++i)
        text[i] = digits[n - 1 - i];
    text[n] = '\0';
    Append(text);
}

void Check(bool ok, const char* what)
{
    ++g_report.checks;
    if (ok)
        return;
    ++g_report.failed;
    Append("FAIL ");
    Append(what);
    Append("\n");
}

size_t Length(const char* text, size_t limit)
{
    size_t n = 0;
    while (n < limit && text[n] != '\0')
        ++n;
    return n;
}

// A fixed-width field (not necessarily terminated) holds exactly `text`.
bool FieldIs(const char* field, size_t width, const char* text)
{
    const size_t length = Length(text, width + 1);
    if (length > width)
        return false;
    for (size_t i = 0; i < length; ++i)
        if (field[i] != text[i])
            return false;
    return length == width || field[length] == '\0';
}

template <size_t N>
void Put(char (&field)[N], const char* text)
{
    memset(field, 0, N);
    for (size_t i = 0; i < N && text[i] != '\0'; ++i)
        field[i] = text[i];
}

bool StartsWith(const char* text, const char* prefix)
{
    for (; *prefix != '\0'; ++text, ++prefix)
        if (*text != *prefix)
            return false;
    return true;
}

typedef void*(__thiscall* DeletingDestructor)(CDRMLogin*, unsigned int);

// The first slot of the object's virtual table, as Microsoft's compiler calls it.
DeletingDestructor DeletingDestructorOf(CDRMLogin* object)
{
    return (*reinterpret_cast<DeletingDestructor* const*>(object))[0];
}

const void* TableOf(const CDRMLogin* object) { return *reinterpret_cast<const void* const*>(object); }

// Busy blocks of the process heap whose size is one CDRMLogin or an array cookie plus three.
unsigned long SessionBlocks()
{
    void* heap = GetProcessHeap();
    unsigned long count = 0;
    HEAP_ENTRY_T entry;
    memset(&entry, 0, sizeof(entry));
    HeapLock(heap);
    while (HeapWalk(heap, &entry))
        if ((entry.wFlags & kHeapEntryBusy) &&
            (entry.cbData == sizeof(CDRMLogin) || entry.cbData == sizeof(size_t) + 3 * sizeof(CDRMLogin)))
            ++count;
    HeapUnlock(heap);
    return count;
}

// Copies of `source` in every way a caller makes them; each must own its application list.
void CopyAndDelete(const CDRMLogin& source)
{
    const unsigned long before = SessionBlocks();
    const size_t appLength = Length(source.m_pAppInfo, 4096);

    CDRMLogin* heapCopy = new CDRMLogin(source);
    Check(TableOf(heapCopy) == TableOf(&source), "a heap copy has the constructor's virtual table");
    Check(heapCopy->m_pAppInfo != source.m_pAppInfo && heapCopy->m_pAppInfo != nullptr &&
              FieldIs(heapCopy->m_pAppInfo, appLength, source.m_pAppInfo),
          "a heap copy owns its own application list");
    Check(FieldIs(heapCopy->m_szUserID, 51, "msvc01") && heapCopy->m_pSharedInfo == source.m_pSharedInfo,
          "a heap copy has every member");
    Check(SessionBlocks() == before + 1, "new takes one block of the process heap");
    {
        CDRMLogin stackCopy(*heapCopy);
        CDRMLogin assigned;
        CDRMLogin& result = (assigned = stackCopy);
        Check(&result == &assigned, "assignment returns the assigned object");
        const CDRMLogin& alias = assigned;
        assigned = alias;
        Check(assigned.m_pAppInfo != nullptr && assigned.m_pAppInfo != stackCopy.m_pAppInfo &&
                  FieldIs(assigned.m_pAppInfo, appLength, source.m_pAppInfo),
              "an assigned object owns its own application list, also after self-assignment");
        Check(FieldIs(assigned.m_LoginInfo.szGroupID, 50, "grp-msvc"), "assignment copies the records");
    }
    delete heapCopy; // the deleting destructor in the table's first slot, free bit set

    // clang destroys the elements of delete[] itself and frees with its own operator delete[], and
    // ::delete destroys through the table (no flags) and frees the returned pointer. Microsoft's
    // compiler calls the table's slot instead: flags 3 for delete[], 5 for ::delete. Both ways.
    CDRMLogin* array = new CDRMLogin[3];
    Check(SessionBlocks() == before + 1, "new[] takes one block with the element count in front");
    Check(array[0].m_nTakeOutStatus == STATUS_TAKEOUT_NONE && array[2].m_nTakeOutStatus == STATUS_TAKEOUT_NONE,
          "new[] constructs every element");
    array[1] = source;
    array[2] = source;
    delete[] array;

    array = new CDRMLogin[3];
    array[0] = source;
    Check(DeletingDestructorOf(array)(array, 3) == array, "the deleting destructor for delete[] returns this");

    CDRMLogin* global = new CDRMLogin(source);
    ::delete global;
    global = new CDRMLogin(source);
    Check(DeletingDestructorOf(global)(global, 5) == global, "the deleting destructor for ::delete returns this");

    Check(SessionBlocks() == before, "every delete gave its block back to the process heap");
}

void Drive()
{
    CDRMLogin session;
    Check(session.m_nTakeOutStatus == STATUS_TAKEOUT_NONE && session.m_pSharedInfo == nullptr &&
              session.m_hSharedLoginInfo == nullptr && session.m_pAppInfo == nullptr &&
              session.m_szServerURL[0] == '\0' && session.m_szUserID[0] == '\0',
          "the constructor sets the members");
    Check(session.CheckLogin() == 0, "a fresh session is not logged in");

    Check(session.GetServerIP() == 1, "GetServerIP finds the URL in the registry");
    Check(StartsWith(session.m_szServerURL, "http://127.0.0.1:"), "GetServerIP stores the URL");
    char url[260];
    Put(url, session.m_szServerURL);
    session.SetServerIP(const_cast<char*>("http://replaced.invalid/"));
    Check(FieldIs(session.m_szServerURL, 260, "http://replaced.invalid/"), "SetServerIP stores the URL");
    session.SetServerIP(url);

    session.SetUserInfo(const_cast<char*>("msvc01"), const_cast<char*>("pw-msvc"));
    Check(FieldIs(session.m_szUserID, 51, "msvc01") && FieldIs(session.m_szUserPW, 20, "pw-msvc"),
          "SetUserInfo stores the credentials");
    Check(session.CreateSharedMemForLoginInfo() == 1 && session.m_pSharedInfo != nullptr,
          "CreateSharedMemForLoginInfo maps the shared record");
    Check(session.CheckLogin() == 0, "nobody is logged in before the login");

    Check(session.Communicate(SIG_REQ_LOGIN) == 40000, "the login succeeds");
    Check(session.CheckLogin() == 1 && FieldIs(session.m_pSharedInfo->szUserID, 20, "msvc01"),
          "the login publishes the user");
    Check(FieldIs(session.m_LoginInfo.szGroupID, 50, "grp-msvc") &&
              FieldIs(session.m_LoginInfo.szCompanyID, 20, "co-msvc") && session.m_LoginInfo.nOfflinePolicy == 3 &&
              session.m_LoginInfo.abAppFlags[APP_FLAG_PDF] == 1,
          "the login reply is read at its offsets");
    Check(session.m_pAppInfo != nullptr && FieldIs(session.m_pAppInfo, 11, "notepad.exe"),
          "the application list is kept");

    Check(session.FillCCFInfo() == 1, "FillCCFInfo");
    Check(FieldIs(session.m_CCFInfo.szUserID, 21, "msvc01") && FieldIs(session.m_CCFInfo.szGroupID, 51, "grp-msvc") &&
              session.m_CCFInfo.abAppFlags[APP_FLAG_PDF] == 1,
          "FillCCFInfo fills the policy record");
    Check(session.CreateCCF() == 1, "CreateCCF");
    char storedID[21];
    memset(storedID, 'x', sizeof(storedID));
    session.GetUserID(storedID);
    Check(FieldIs(storedID, 21, "msvc01"), "GetUserID reads the CCF's user");
    session.SetTakeOutCCF(STATUS_TAKEOUT_APPROVAL, const_cast<char*>("20270101"), const_cast<char*>("20270131"));
    Check(session.GetTakeOutCCF() == STATUS_TAKEOUT_APPROVAL, "GetTakeOutCCF reads the recorded take-out");
    memset(&session.m_CCFInfo, 0, sizeof(session.m_CCFInfo));
    session.TestCCF();
    Check(FieldIs(session.m_CCFInfo.szUserID, 21, "msvc01") && FieldIs(session.m_CCFInfo.szCompanyID, 21, "co-msvc") &&
              session.m_CCFInfo.nOfflinePolicy == 3,
          "TestCCF refills the policy record");

    TAKEOUT_INFO info;
    memset(&info, 0, sizeof(info));
    Put(info.szText, "msvc reason");
    memcpy(info.szStartDate, "20270201", 8);
    memcpy(info.szEndDate, "20270228", 8);
    session.SetTakeOutInfo(&info);
    Check(FieldIs(session.m_TakeOutInfo.szText, 256, "msvc reason"), "SetTakeOutInfo takes the record");
    Check(session.Communicate(SIG_REQ_TAKEOUT) == 40000 &&
              FieldIs(session.m_TakeOutReply.szTakeOutKey, 50, "KEY-MSVC-1"),
          "the take-out request reads the issued key");

    Check(session.Communicate(SIG_REQ_LEVEL) == 40000 && session.m_DocLevelList.nCount == 2 &&
              session.m_DocLevelList.aLevels[1].nLevel == 7 &&
              FieldIs(session.m_DocLevelList.aLevels[1].szName, 20, "secret"),
          "the level list is read at its offsets");
    session.m_nDocLevel = 7;
    Check(session.Communicate(SIG_REQ_ACL) == 40000 && session.m_AclInfo.abData[0] == 0xA1 &&
              session.m_AclInfo.abData[41] == 0xA2,
          "the ACL data is read at its offsets");

    TAKEOUT_MSG msg;
    memset(&msg, 0, sizeof(msg));
    Put(msg.szTakeOutKey, "KEY-MSVC-1");
    session.SetTakeOutMsg(&msg);
    Check(FieldIs(session.m_TakeOutMsg.szTakeOutKey, 50, "KEY-MSVC-1"), "SetTakeOutMsg takes the record");
    Check(session.Communicate(SIG_REQ_TAKEOUT_DEL) == 40000, "the take-out deletion succeeds");

    CDRMLogin other;
    TAKEOUT_MSG before = other.m_TakeOutMsg;
    other.SetTakeOutMsg(&msg);
    Check(FieldIs(other.m_TakeOutMsg.szTakeOutKey, 50, "") && before.nStatus == other.m_TakeOutMsg.nStatus,
          "SetTakeOutMsg without a user takes nothing");
    other.SetUserID(const_cast<char*>("other"));
    Check(FieldIs(other.m_szUserID, 51, "other"), "SetUserID stores the ID");

    CopyAndDelete(session);

    Check(session.CrearSharedMemForLoginInfo() == 1 && session.m_pSharedInfo == nullptr &&
              session.CheckLogin() == 0,
          "CrearSharedMemForLoginInfo logs out and drops the view");
    Check(session.DeleteSharedMemForLoginInfo() == 1 &&
              session.m_hSharedLoginInfo == reinterpret_cast<void*>(static_cast<size_t>(-1)),
          "DeleteSharedMemForLoginInfo closes the handle");
}

// The machine has a non-loopback address: the check answers 1, and publishes it once mapped.
void DriveOnline()
{
    CDRMLogin session;
    const int online = session.CheckOnline();
    Check(online == 1, "CheckOnline without the shared record");
    if (online != 1) {
        Append("last error ");
        AppendNumber(GetLastError());
        Append("\n");
    }
    Check(session.CreateSharedMemForLoginInfo() == 1, "CreateSharedMemForLoginInfo");
    session.m_pSharedInfo->nOnline = 7;
    Check(session.CheckOnline() == 1 && session.m_pSharedInfo->nOnline == 1, "CheckOnline publishes the answer");
    session.DeleteSharedMemForLoginInfo();
}

bool IsOnlineMode()
{
    char mode[16];
    const DWORD_T length = GetEnvironmentVariableA("VLAGT_MSVC_MODE", mode, sizeof(mode));
    return length == 6 && FieldIs(mode, 6, "online");
}

} // namespace

extern "C" int mainCRTStartup()
{
    if (IsOnlineMode())
        DriveOnline();
    else
        Drive();
    Append("checks ");
    AppendNumber(static_cast<unsigned long>(g_report.checks));
    Append(" failed ");
    AppendNumber(static_cast<unsigned long>(g_report.failed));
    Append("\n");

    char path[260];
    const DWORD_T length = GetEnvironmentVariableA("VLAGT_MSVC_REPORT", path, sizeof(path));
    if (length == 0 || length >= sizeof(path))
        ExitProcess(100);
    const DWORD_T kGenericWrite = 0x40000000, kCreateAlways = 2, kNormal = 0x80;
    void* file = CreateFileA(path, kGenericWrite, 0, nullptr, kCreateAlways, kNormal, nullptr);
    if (file == reinterpret_cast<void*>(static_cast<size_t>(-1)))
        ExitProcess(100);
    DWORD_T written = 0;
    WriteFile(file, g_report.text, static_cast<DWORD_T>(g_report.used), &written, nullptr);
    CloseHandle(file);
    ExitProcess(static_cast<unsigned int>(g_report.failed));
    return 0;
}
