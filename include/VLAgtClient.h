// VLAgtClient.h - public interface of VLAgtClient.dll, the agent's client-side login module.
//
// Callers include this header and link the import library: libVLAgtClient.dll.a with MinGW,
// VLAgtClient.lib with Microsoft linkers (the header compiles unchanged for either ABI). The module
// itself is built with VLAGTCLIENT_BUILD defined, which turns the imports into exports.
//
// Every record below crosses the wire or a process boundary and is byte-exact: packed, no padding,
// integers little-endian 32-bit, character fields zero-filled and not necessarily terminated.
// Sizes and field offsets are checked at compile time.
#pragma once

#include <stddef.h>
#include <stdint.h>

#if !defined(_WIN32)
#define VLAGTCLIENT_API // a native build (the parsers' fuzz targets) uses the records only
#elif defined(VLAGTCLIENT_BUILD)
#define VLAGTCLIENT_API __declspec(dllexport)
#else
#define VLAGTCLIENT_API __declspec(dllimport)
#endif

// Request types understood by CDRMLogin::Communicate.
enum
{
    SIG_REQ_LOGIN = 2,
    SIG_REQ_TAKEOUT = 3,
    SIG_REQ_TAKEOUT_REF = 4,
    SIG_REQ_TAKEOUT_EDIT = 5,
    SIG_REQ_TAKEOUT_DEL = 6,
    SIG_REQ_ACL = 7,
    SIG_REQ_LEVEL = 8,
    SIG_REQ_PING = 10,
    SIG_REQ_WEB_LOGIN = 11
};

// Take-out states (session and policy file use the same codes).
enum
{
    STATUS_TAKEOUT_REQUESTED = 0,
    STATUS_TAKEOUT_APPROVAL = 1,
    STATUS_TAKEOUT_NONE = 2
};

// Places of the document kinds in abAppFlags (LOGIN_INFO and CCF_INFO).
enum
{
    APP_FLAG_DOC = 0,
    APP_FLAG_XLS = 1,
    APP_FLAG_PPT = 2,
    APP_FLAG_HWP = 3,
    APP_FLAG_GUL = 4,
    APP_FLAG_TXT = 5,
    APP_FLAG_PDF = 6,
    APP_FLAG_DWG = 7,
    APP_FLAG_KODAK = 8,
    APP_FLAG_MSPAINT = 9,
    APP_FLAG_COUNT = 10
};

// Every signal tag is 11 ASCII characters without terminator.
#define VLAGT_SIGNAL_LEN 11

#pragma pack(push, 1)

// The session's policy record; kept in memory only. Each text array is one byte wider than the
// longest value copied into it, so it stays terminated.
struct CCF_INFO
{
    char szUserID[21];
    char szCompanyID[21];
    char szGroupID[51];
    char szPositionID[21];
    char szSuperKey[17];
    uint8_t bTakeOut;
    char szTakeOutStart[9];
    char szTakeOutEnd[9];
    uint8_t nOfflinePolicy;
    uint8_t nOnlineControl;
    uint8_t bControlCount;
    uint8_t nDocExchangePolicy;
    uint8_t nSpare;
    char szDKMS[51];
    char szDTSS[51];
    char szDLS[51];
    uint8_t abAppFlags[APP_FLAG_COUNT]; // by APP_FLAG_* place
};

// The shared login record in the named section "DRMAgentLoginInfo": 28 bytes.
struct LOGIN_SHARED_INFO
{
    char szUserID[20]; // empty (first byte zero) when nobody is logged in
    int32_t nOnline;   // non-zero when the last online check succeeded
    uint8_t abReserved[4];
};

// Take-out request and reference reply: 373 bytes.
struct TAKEOUT_INFO
{
    char szSignal[11];
    uint8_t abReserved1[20];
    char szText[256];
    char szStartDate[8];
    char szEndDate[8];
    uint8_t abReserved2[66];
    int32_t nStatus;
};

// Take-out reference and delete request, and the reply to request, edit and delete: 85 bytes.
struct TAKEOUT_MSG
{
    char szSignal[11];
    uint8_t abReserved[20];
    char szTakeOutKey[50];
    int32_t nStatus;
};

// The login request record: 61 bytes.
struct LOGIN_REQ
{
    char szSignal[11];
    char szUserID[20];
    char szUserPW[20];
    char szSiteCode[6];
    uint8_t abReserved[4];
};

// The fixed body of the login reply: 304 bytes, followed on the wire by the application list.
struct LOGIN_INFO
{
    char szSignal[11];
    uint8_t abReserved1[4];
    char szGroupID[50];
    char szPositionID[20];
    char szCompanyID[20];
    char szSuperKey[16];
    uint8_t nOfflinePolicy;
    uint8_t nOnlineControl;
    uint8_t nDocExchangePolicy;
    uint8_t nSpare;       // copied into CCF_INFO, used nowhere
    uint8_t nReserved2;
    uint8_t nCountControl;
    uint8_t nReserved3;
    uint8_t nTimeSync;
    uint8_t nProtectRemoteTool;
    char szDKMS[50];
    char szDTSS[50];
    char szDLS[50];
    uint8_t abAppFlags[APP_FLAG_COUNT]; // by APP_FLAG_* place
    char szAppInfoLen[14];  // decimal length of the application list, zero-filled
};

// ACL data: opaque to the module, handed to callers unchanged. 42 bytes.
struct ACL_INFO
{
    uint8_t abData[42];
};

// The ACL request record: 35 bytes.
struct ACL_REQ
{
    char szSignal[11];
    char szUserID[20];
    int32_t nDocLevel;
};

// The ACL reply record: 53 bytes.
struct ACL_REPLY
{
    char szSignal[11];
    ACL_INFO AclInfo;
};

// One entry of the document-level list: 24 bytes.
struct DOC_LEVEL
{
    int32_t nLevel;
    char szName[20];
};

// The document-level list: 241 bytes, at most 10 entries.
struct DOC_LEVEL_LIST
{
    uint8_t nCount;
    DOC_LEVEL aLevels[10];
};

// The level-list reply record: 252 bytes.
struct DOC_LEVEL_REPLY
{
    char szSignal[11];
    DOC_LEVEL_LIST LevelList;
};

#pragma pack(pop)

#define VLAGT_ASSERT_FIELD(rec, field, off) \
    static_assert(offsetof(rec, field) == (off), #rec "." #field " must sit at offset " #off)

static_assert(sizeof(CCF_INFO) == 318, "CCF_INFO is 318 bytes");
VLAGT_ASSERT_FIELD(CCF_INFO, szUserID, 0);
VLAGT_ASSERT_FIELD(CCF_INFO, szCompanyID, 21);
VLAGT_ASSERT_FIELD(CCF_INFO, szGroupID, 42);
VLAGT_ASSERT_FIELD(CCF_INFO, szPositionID, 93);
VLAGT_ASSERT_FIELD(CCF_INFO, szSuperKey, 114);
VLAGT_ASSERT_FIELD(CCF_INFO, bTakeOut, 131);
VLAGT_ASSERT_FIELD(CCF_INFO, szTakeOutStart, 132);
VLAGT_ASSERT_FIELD(CCF_INFO, szTakeOutEnd, 141);
VLAGT_ASSERT_FIELD(CCF_INFO, nOfflinePolicy, 150);
VLAGT_ASSERT_FIELD(CCF_INFO, nOnlineControl, 151);
VLAGT_ASSERT_FIELD(CCF_INFO, bControlCount, 152);
VLAGT_ASSERT_FIELD(CCF_INFO, nDocExchangePolicy, 153);
VLAGT_ASSERT_FIELD(CCF_INFO, nSpare, 154);
VLAGT_ASSERT_FIELD(CCF_INFO, szDKMS, 155);
VLAGT_ASSERT_FIELD(CCF_INFO, szDTSS, 206);
VLAGT_ASSERT_FIELD(CCF_INFO, szDLS, 257);
VLAGT_ASSERT_FIELD(CCF_INFO, abAppFlags, 308);

static_assert(sizeof(LOGIN_SHARED_INFO) == 28, "LOGIN_SHARED_INFO is 28 bytes");
VLAGT_ASSERT_FIELD(LOGIN_SHARED_INFO, szUserID, 0);
VLAGT_ASSERT_FIELD(LOGIN_SHARED_INFO, nOnline, 20);
VLAGT_ASSERT_FIELD(LOGIN_SHARED_INFO, abReserved, 24);

static_assert(sizeof(TAKEOUT_INFO) == 373, "TAKEOUT_INFO is 373 bytes");
VLAGT_ASSERT_FIELD(TAKEOUT_INFO, szSignal, 0);
VLAGT_ASSERT_FIELD(TAKEOUT_INFO, abReserved1, 11);
VLAGT_ASSERT_FIELD(TAKEOUT_INFO, szText, 31);
VLAGT_ASSERT_FIELD(TAKEOUT_INFO, szStartDate, 287);
VLAGT_ASSERT_FIELD(TAKEOUT_INFO, szEndDate, 295);
VLAGT_ASSERT_FIELD(TAKEOUT_INFO, abReserved2, 303);
VLAGT_ASSERT_FIELD(TAKEOUT_INFO, nStatus, 369);

static_assert(sizeof(TAKEOUT_MSG) == 85, "TAKEOUT_MSG is 85 bytes");
VLAGT_ASSERT_FIELD(TAKEOUT_MSG, szSignal, 0);
VLAGT_ASSERT_FIELD(TAKEOUT_MSG, abReserved, 11);
VLAGT_ASSERT_FIELD(TAKEOUT_MSG, szTakeOutKey, 31);
VLAGT_ASSERT_FIELD(TAKEOUT_MSG, nStatus, 81);

static_assert(sizeof(LOGIN_REQ) == 61, "LOGIN_REQ is 61 bytes");
VLAGT_ASSERT_FIELD(LOGIN_REQ, szSignal, 0);
VLAGT_ASSERT_FIELD(LOGIN_REQ, szUserID, 11);
VLAGT_ASSERT_FIELD(LOGIN_REQ, szUserPW, 31);
VLAGT_ASSERT_FIELD(LOGIN_REQ, szSiteCode, 51);
VLAGT_ASSERT_FIELD(LOGIN_REQ, abReserved, 57);

static_assert(sizeof(LOGIN_INFO) == 304, "LOGIN_INFO is 304 bytes");
VLAGT_ASSERT_FIELD(LOGIN_INFO, szSignal, 0);
VLAGT_ASSERT_FIELD(LOGIN_INFO, abReserved1, 11);
VLAGT_ASSERT_FIELD(LOGIN_INFO, szGroupID, 15);
VLAGT_ASSERT_FIELD(LOGIN_INFO, szPositionID, 65);
VLAGT_ASSERT_FIELD(LOGIN_INFO, szCompanyID, 85);
VLAGT_ASSERT_FIELD(LOGIN_INFO, szSuperKey, 105);
VLAGT_ASSERT_FIELD(LOGIN_INFO, nOfflinePolicy, 121);
VLAGT_ASSERT_FIELD(LOGIN_INFO, nOnlineControl, 122);
VLAGT_ASSERT_FIELD(LOGIN_INFO, nDocExchangePolicy, 123);
VLAGT_ASSERT_FIELD(LOGIN_INFO, nSpare, 124);
VLAGT_ASSERT_FIELD(LOGIN_INFO, nReserved2, 125);
VLAGT_ASSERT_FIELD(LOGIN_INFO, nCountControl, 126);
VLAGT_ASSERT_FIELD(LOGIN_INFO, nReserved3, 127);
VLAGT_ASSERT_FIELD(LOGIN_INFO, nTimeSync, 128);
VLAGT_ASSERT_FIELD(LOGIN_INFO, nProtectRemoteTool, 129);
VLAGT_ASSERT_FIELD(LOGIN_INFO, szDKMS, 130);
VLAGT_ASSERT_FIELD(LOGIN_INFO, szDTSS, 180);
VLAGT_ASSERT_FIELD(LOGIN_INFO, szDLS, 230);
VLAGT_ASSERT_FIELD(LOGIN_INFO, abAppFlags, 280);
VLAGT_ASSERT_FIELD(LOGIN_INFO, szAppInfoLen, 290);

static_assert(sizeof(ACL_INFO) == 42, "ACL_INFO is 42 bytes");
VLAGT_ASSERT_FIELD(ACL_INFO, abData, 0);

static_assert(sizeof(ACL_REQ) == 35, "ACL_REQ is 35 bytes");
VLAGT_ASSERT_FIELD(ACL_REQ, szSignal, 0);
VLAGT_ASSERT_FIELD(ACL_REQ, szUserID, 11);
VLAGT_ASSERT_FIELD(ACL_REQ, nDocLevel, 31);

static_assert(sizeof(ACL_REPLY) == 53, "ACL_REPLY is 53 bytes");
VLAGT_ASSERT_FIELD(ACL_REPLY, szSignal, 0);
VLAGT_ASSERT_FIELD(ACL_REPLY, AclInfo, 11);

static_assert(sizeof(DOC_LEVEL) == 24, "DOC_LEVEL is 24 bytes");
VLAGT_ASSERT_FIELD(DOC_LEVEL, nLevel, 0);
VLAGT_ASSERT_FIELD(DOC_LEVEL, szName, 4);

static_assert(sizeof(DOC_LEVEL_LIST) == 241, "DOC_LEVEL_LIST is 241 bytes");
VLAGT_ASSERT_FIELD(DOC_LEVEL_LIST, nCount, 0);
VLAGT_ASSERT_FIELD(DOC_LEVEL_LIST, aLevels, 1);

static_assert(sizeof(DOC_LEVEL_REPLY) == 252, "DOC_LEVEL_REPLY is 252 bytes");
VLAGT_ASSERT_FIELD(DOC_LEVEL_REPLY, szSignal, 0);
VLAGT_ASSERT_FIELD(DOC_LEVEL_REPLY, LevelList, 11);

#undef VLAGT_ASSERT_FIELD

// The class and the plain exports exist only in Windows builds; native programs (the policy
// server) use the records and constants above.
#if defined(_WIN32)

// One login session with the policy server. All members are public: callers read the records the
// server filled (m_LoginInfo, m_AclInfo, m_nTakeOutStatus and the rest).
//
// Results: 1 success, 0 failure, unless a method says otherwise.
class VLAGTCLIENT_API CDRMLogin
{
public:
    CDRMLogin();
    CDRMLogin(const CDRMLogin& other);
    CDRMLogin& operator=(const CDRMLogin& other);
    // Releases m_pAppInfo only; the shared record, its view and its handle are left alone.
    virtual ~CDRMLogin();

    // Creates or opens the shared record "DRMAgentLoginInfo" and maps it: 1 success, 0 failure.
    int CreateSharedMemForLoginInfo();
    // Empties the shared user ID, unmaps the view and closes the section handle. Always 1.
    int DeleteSharedMemForLoginInfo();
    // Empties the shared user ID and drops the view pointer; the handle stays held. Always 1.
    int CrearSharedMemForLoginInfo();
    // 1 when this session's view of the shared record names a user, else 0.
    int CheckLogin();
    // Is the machine on a network? Sends one ICMP echo to the local host's own address: 1 when it
    // answers, 0 for loopback only, no host address, or no good reply (the thread's last-error
    // value then tells why). The result is published in nOnline of the shared record when this
    // session has it mapped.
    int CheckOnline();

    // Stores the server URL (at most 259 characters). http://HOST[:PORT]/PATH speaks plain HTTP
    // (port 80 by default); https://HOST[:PORT]/PATH speaks TLS (port 443 by default) and is refused,
    // with nothing of the request sent, unless the server's certificate chains to a root the machine
    // trusts and names HOST. The same holds for every exchange of the session, the ping and the web
    // login included.
    void SetServerIP(char* url);
    // Reads the server URL from the registry: 1 when one was found, else 0 (URL kept).
    int GetServerIP();
    // Stores the credentials (user ID at most 50 characters, password at most 19).
    void SetUserInfo(char* userID, char* password);
    void SetUserID(char* userID);
    // Take the caller's record only when a user ID is set.
    void SetTakeOutInfo(TAKEOUT_INFO* info);
    void SetTakeOutMsg(TAKEOUT_MSG* msg);

    // One exchange with the server, chosen by a SIG_REQ_* type, on a channel of its own. Returns
    // 40000 on success, the server's status when it refused, 0 when no channel could be opened (or,
    // for logins, when the user cannot be published), else the exchange's failure code (0, 2, 3;
    // 46000 for a web reply without a result). Types with no exchange return 40000 unsent.
    unsigned long Communicate(int type);

    // The user's client control file (CCF), written and read through the policy library.
    // Gathers the policy values of the login reply (and the approved take-out) into m_CCFInfo.
    // Always 1.
    int FillCCFInfo();
    // Writes m_CCFInfo, the application list and the fixed program lists into the CCF. Always 1.
    int CreateCCF();
    // Records the take-out state; a null date leaves the stored date as it was.
    void SetTakeOutCCF(int nStatus, char* pszStartDate, char* pszEndDate);
    // The take-out state the CCF holds (2, no take-out, for an empty CCF).
    int GetTakeOutCCF();
    // Copies the CCF's user ID into the caller's buffer, which must hold 21 bytes: at most 20
    // characters and the terminator are written.
    void GetUserID(char* pszUserID);
    // Refills m_CCFInfo from the CCF; values longer than their field are cut to its width.
    void TestCCF();

public:
    uint8_t m_nTakeOutStatus;
    CCF_INFO m_CCFInfo;
    LOGIN_INFO m_LoginInfo;
    ACL_INFO m_AclInfo;
    DOC_LEVEL_LIST m_DocLevelList;
    TAKEOUT_MSG m_TakeOutReply;
    TAKEOUT_INFO m_TakeOutRefInfo;
    int32_t m_nDocLevel;
    LOGIN_SHARED_INFO* m_pSharedInfo;
    void* m_hSharedLoginInfo; // a HANDLE; void* keeps <windows.h> out of callers' include order
    LOGIN_REQ m_LoginReq;
    TAKEOUT_INFO m_TakeOutInfo;
    TAKEOUT_MSG m_TakeOutMsg;
    char* m_pAppInfo;
    char m_szUserID[51];
    char m_szUserPW[20];
    char m_szServerURL[260];
};

// The plain exports: undecorated names, cdecl. They work on the module's process-wide session and
// serialise on its lock.
extern "C" {
// Stores the server URL of the process-wide session; http or https, as CDRMLogin::SetServerIP says.
VLAGTCLIENT_API void __cdecl SetServerIP(char* url);
// Does nothing; kept for callers that still call it.
VLAGTCLIENT_API void __cdecl SetTakeOutInfo(void);
// Logs the user in and publishes the ID in "DRMAgentLoginInfo": 40000, the server's refusal status,
// or 0 when nothing was sent (record unavailable, a user already logged in, no channel).
VLAGTCLIENT_API unsigned long __cdecl DRMAgentLogin(char* userID, char* password);
// Sends a take-out request: 8-byte start and end dates, a 256-byte reason, the status. Returns the
// status of the exchange as CDRMLogin::Communicate gives it.
VLAGTCLIENT_API unsigned long __cdecl TakeOutPC(char* startDate, char* endDate, char* reason, int status);
// Always 1.
VLAGTCLIENT_API int __cdecl RecoveryCCF(void);

// The quick questions. They never touch the process-wide session: each call starts one worker
// thread with a session of its own, which reads the server URL from the registry ("VLDrmAgtSvr"),
// and waits at most 3000 ms for that worker.
//
// The ACL of a user (at most 20 characters) for a named document level (at most 20 characters,
// compared without regard to case; longer texts are cut): 1 when it was obtained, and then the 42
// bytes are in *aclOut; 0 after 3000 ms otherwise, with *aclOut untouched, now and later (a worker
// that succeeds after its caller gave up discards its result). A null aclOut is never written.
VLAGTCLIENT_API int __cdecl GetACLInfo(char* userID, char* levelName, ACL_INFO* aclOut);
// 1 when the policy server answered a ping within 3000 ms, else 0 after 3000 ms.
VLAGTCLIENT_API int __cdecl CheckPing(void);
// May this user go on? 1 when the agent has a logged-in user, or when the server does not answer
// and the offline check of Ossilet.dll accepts userID, which is passed
// to it unread; -1 otherwise. When the server answers, the web login page ("LoginPage") is opened in
// the browser and the result is -1. Never 0. Ossilet.dll is loaded by its full path only, from the
// installation folder (the folder of the program that the "Velmora TessaLINE" shell open command
// names): <folder>\Ossilet.dll for the 32-bit module, <folder>\x64\Ossilet.dll for the 64-bit one.
VLAGTCLIENT_API int __cdecl CheckUserID(char* userID);
}

#endif // _WIN32
