// Corvane.h - public interface of Corvane.dll, the agent's policy library.
//
// Callers include this header and link Corvane.lib (the import library); the library itself is
// built with CORVANE_BUILD defined, which turns the imports into exports. Both classes are exported
// by name with all their members.
//
// CCCF reads and writes the current Windows user's client control file (CCF). The file lives in the
// user's profile, "<local application data>\Velmora\Tessaline\Client.ccf"; the environment variable
// CORVANE_CCF_PATH, when set, names the file instead (tests use it). Its format is described in
// corvane/README.md.
//
// A CCCF object reads the CCF when it is built and records what its setters change. Nothing is
// written before the object is destroyed: the destructor merges the changed values - and only those -
// into the file as it stands on disk at that moment, under a named mutex, by writing a temporary file
// beside it and moving it over the old one. Two objects (in one process or in two) that change
// different values therefore keep both, and a write cut short leaves the previous CCF whole.
//
// CDRMLogic tells whether a user is logged in to the agent, from the shared login record
// "DRMAgentLoginInfo".
//
// An object of either class is used by one thread at a time. No member throws.
#pragma once

#if defined(CORVANE_BUILD)
#define CORVANE_API __declspec(dllexport)
#else
#define CORVANE_API __declspec(dllimport)
#endif

// Kinds of document whose automatic encryption the CCF records (MarkAutoEncryptIndicator). Codes 0
// and 1 are reserved.
enum CCF_APP_LIST : int
{
    CCF_APP_DOC = 2,
    CCF_APP_XLS = 3,
    CCF_APP_PPT = 4,
    CCF_APP_HWP = 5,
    CCF_APP_PDF = 6,
    CCF_APP_TXT = 7,
    CCF_APP_DWG = 8,
    CCF_APP_GUL = 9,
    CCF_APP_KODAK = 10,
    CCF_APP_MSPAINT = 11
};

// Results of CCCF::CheckCCFValidity.
enum
{
    CCF_CHECK_VALID = 1,       // the CCF exists and passes its integrity check
    CCF_CHECK_MISSING = 0,     // no CCF yet: it reads as empty, the first write creates it
    CCF_CHECK_DAMAGED = -1,    // the file fails its integrity check: it reads as empty, the next
                               // write replaces it
    CCF_CHECK_UNREADABLE = -2  // the file exists but cannot be read: it reads as empty and is
                               // left alone (a write is refused rather than risk losing it)
};

// Results of CDRMLogic::GetLogInStatus.
enum
{
    DRM_LOGIC_LOGGED_IN = 3000,     // the shared login record names a user
    DRM_LOGIC_NOT_LOGGED_IN = 3001, // the record exists but names nobody
    DRM_LOGIC_NO_AGENT = 3002       // no shared login record: the agent is not running
};

// Opaque header of the agent's messages; both CDRMLogic calls accept a null pointer.
class CFlexibleHeader;

class CORVANE_API CCCF
{
public:
    // The server's policy codes, 0 to 255; the CCF stores them unchanged.
    enum OFFLINE_POLICY_SET : int
    {
        OFFLINE_POLICY_DEFAULT = 0
    };
    enum ONLINE_CONTROL_SET : int
    {
        ONLINE_CONTROL_DEFAULT = 0
    };
    enum DOC_EXCHANGE : int
    {
        DOC_EXCHANGE_DEFAULT = 0
    };
    // Take-out state; an empty CCF reads as TAKE_OUT_NONE.
    enum TAKE_OUT_STATUS : int
    {
        TAKE_OUT_REQUESTED = 0,
        TAKE_OUT_APPROVED = 1,
        TAKE_OUT_NONE = 2
    };

    // Reads the CCF (a missing or damaged one reads as empty).
    CCCF();
    // Writes what the setters changed (see above).
    ~CCCF();
    CCCF(const CCCF&) = delete;
    CCCF& operator=(const CCCF&) = delete;

    // Reads the file again and reports its state: one of the CCF_CHECK_ values.
    int CheckCCFValidity();

    // Setters: 1 when the value is recorded for the write, 0 when refused (null argument). Strings
    // are NUL-terminated 8-bit text and are stored byte for byte.
    int SetUserID(char* value);
    int SetCompanyID(char* value);
    int SetPositionID(char* value);
    int SetSuperKey(char* value);
    int SetDKMSInfo(char* value);
    int SetDTSSInfo(char* value);
    int SetDLSInfo(char* value);
    int SetTakeOutStartDate(char* value);
    int SetTakeOutEndDate(char* value);
    // The latest local date ("YYYYMMDD") an offline check has seen, kept to notice a clock that was
    // turned back.
    int SetLatestSeenDate(char* value);
    // A NUL-terminated UTF-16 string.
    int UpdateCurrentSiteID(unsigned short* siteID);
    int SetOfflinePolicy(OFFLINE_POLICY_SET value);
    int SetOnlineControl(ONLINE_CONTROL_SET value);
    int SetDocExchangePolicy(DOC_EXCHANGE value);
    int SetTakeOutStatus(TAKE_OUT_STATUS value);
    int SetControlCount(bool value);
    int SetTimeSync(int value);
    int SetProtectRemoteTool(int value);
    // Stores `length` bytes of `value` (its terminating NUL included) under the UTF-16 field name.
    // 0 for a null or empty name, a null value or a length outside 1 to 1 MiB.
    int SetField(unsigned short* name, char* value, int length);

    // Records in the object whether one kind of document is encrypted automatically (codes 0 to
    // 255; others are ignored); SetAutoEncryptIndicator records the marked flags for the write and
    // returns 1.
    void MarkAutoEncryptIndicator(CCF_APP_LIST kind, bool encrypt);
    int SetAutoEncryptIndicator();

    // Getters: the object's view of the CCF (the file as read, overlaid with this object's changes).
    // Strings are NUL-terminated, empty when the CCF holds no value, and stay valid while the object
    // lives. Absent numbers read as 0, an absent take-out state as TAKE_OUT_NONE.
    char* GetUserID();
    char* GetCompanyID();
    char* GetGroupID();
    char* GetPositionID();
    char* GetSuperKey();
    char* GetDKMSInfo();
    char* GetDTSSInfo();
    char* GetTakeOutStartDate();
    char* GetTakeOutEndDate();
    char* GetLatestSeenDate();
    OFFLINE_POLICY_SET GetOfflinePolicy();
    ONLINE_CONTROL_SET GetOnlineControl();
    DOC_EXCHANGE GetDocExchangePolicy();
    TAKE_OUT_STATUS GetTakeOutStatus();
    bool GetControlCount();

    struct Impl; // the object's state; opaque to callers

private:
    Impl* m_pImpl; // null only when memory ran out while building the object
};

class CORVANE_API CDRMLogic
{
public:
    CDRMLogic();
    ~CDRMLogic();

    // 1 when the shared login record exists, else 0.
    int CheckAgent(CFlexibleHeader* header);
    // DRM_LOGIC_LOGGED_IN (3000) when the shared login record names a user (its first byte is not
    // zero), else DRM_LOGIC_NOT_LOGGED_IN or DRM_LOGIC_NO_AGENT.
    int GetLogInStatus(CFlexibleHeader* header);
};
