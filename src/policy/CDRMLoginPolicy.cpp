// The policy-file operations of the login session: the CCF is created from the login reply
// (FillCCFInfo, CreateCCF), the take-out state is recorded in it (SetTakeOutCCF), and it is read back
// (GetTakeOutCCF, GetUserID, TestCCF). Each operation builds one CCCF object of the policy library,
// checks the CCF first, makes its calls and lets the object go, which writes what was set. No result
// of the policy library is tested.
#include "VLAgtClient.h"

#include <stdint.h>
#include <string.h>

#include "Corvane.h"
#include "common/DebugLog.h"
#include "common/TextUtil.h"
#include "common/WinApi.h"
#include "policy/AppList.h"

namespace {

struct AutoEncryptKind
{
    CCF_APP_LIST code;
    size_t flagIndex;
};

// The kinds in the order their automatic-encryption flags are marked in the CCF.
constexpr AutoEncryptKind kMarkOrder[] = {
    {CCF_APP_DOC, APP_FLAG_DOC},         {CCF_APP_XLS, APP_FLAG_XLS}, {CCF_APP_TXT, APP_FLAG_TXT},
    {CCF_APP_PDF, APP_FLAG_PDF},         {CCF_APP_GUL, APP_FLAG_GUL}, {CCF_APP_HWP, APP_FLAG_HWP},
    {CCF_APP_PPT, APP_FLAG_PPT},         {CCF_APP_DWG, APP_FLAG_DWG}, {CCF_APP_MSPAINT, APP_FLAG_MSPAINT},
    {CCF_APP_KODAK, APP_FLAG_KODAK},
};
static_assert(sizeof(kMarkOrder) / sizeof(kMarkOrder[0]) == sizeof(CCF_INFO::abAppFlags),
              "one mark per automatic-encryption flag");

// The programs the agent watches, as one zero-filled 520-byte field value.
constexpr char kFixedAppList[] =
    "acrodist.exe|bppscheme.exe|bdscheme.exe|dssched.exe|gdidrv.exe|PPCNVCOM.exe|excelcnv.exe|wordconv.exe|"
    "mspaint.exe|acrobat.exe|acrord32.exe|notepad.exe|wordpad.exe|hwp.exe|hwpw.exe|hwpview.exe|";
static_assert(sizeof(kFixedAppList) - 1 == 192, "the fixed program list is 192 characters");
constexpr size_t kFixedAppListSize = 520;
constexpr wchar_t kFixedAppListField[] = L"VldocpmiAppList";

// The programs whose documents are handled as images; 60 characters and the terminator.
constexpr char kSdiApps[] = "wordPAD.exe/mspaint.exe/notepad.exe/kodakimg.exe/wangimg.exe";
static_assert(sizeof(kSdiApps) == 61, "the sdiapps value is 61 bytes with its terminator");
constexpr wchar_t kSdiAppsField[] = L"sdiapps";

// The room GetUserID's caller provides: 20 characters and the terminator.
constexpr size_t kUserIDChars = 20;

unsigned short* Wide(wchar_t* text)
{
    return reinterpret_cast<unsigned short*>(text);
}

unsigned short* Wide(const wchar_t* text)
{
    return reinterpret_cast<unsigned short*>(const_cast<wchar_t*>(text));
}

// 8-bit text to UTF-16 with the ANSI code page, terminator included. Every output buffer has one
// unit per input byte and one for the terminator, which is always enough.
void AnsiToWide(const char* text, wchar_t* out, int outUnits)
{
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, out, outUnits) == 0)
        out[0] = L'\0';
}

// A terminated copy of a text field of m_CCFInfo: its callers may have filled it to the last byte.
template <size_t N>
struct FieldText
{
    explicit FieldText(const char (&field)[N]) { vlagt::CopyTerminated(text, N, field); }
    char text[N];
};

// Writes each application of the list with its library as a named field of the CCF.
void WriteAppLibraryPairs(CCCF& ccf, const char* appList)
{
    for (vlagt::AppLibraryPair& pair : vlagt::SplitAppList(appList)) {
        DebugLog("[CreateCCF] App : %s, Dll : %s", pair.szApp, pair.szDll);
        wchar_t wideApp[vlagt::kAppNameSize] = {};
        AnsiToWide(pair.szApp, wideApp, static_cast<int>(vlagt::kAppNameSize));
        ccf.SetField(Wide(wideApp), pair.szDll, static_cast<int>(pair.nDllLength + 1));
    }
}

int Unsigned(uint8_t value)
{
    return static_cast<int>(value);
}

int Signed(uint8_t value)
{
    return static_cast<int>(static_cast<int8_t>(value));
}

} // namespace

int CDRMLogin::FillCCFInfo()
{
    memset(&m_CCFInfo, 0, sizeof(m_CCFInfo));
    memcpy(m_CCFInfo.szUserID, m_szUserID, kUserIDChars);
    memcpy(m_CCFInfo.szCompanyID, m_LoginInfo.szCompanyID, sizeof(m_LoginInfo.szCompanyID));
    memcpy(m_CCFInfo.szGroupID, m_LoginInfo.szGroupID, sizeof(m_LoginInfo.szGroupID));
    memcpy(m_CCFInfo.szPositionID, m_LoginInfo.szPositionID, sizeof(m_LoginInfo.szPositionID));
    memcpy(m_CCFInfo.szSuperKey, m_LoginInfo.szSuperKey, sizeof(m_LoginInfo.szSuperKey));

    m_CCFInfo.nOfflinePolicy = m_LoginInfo.nOfflinePolicy;
    m_CCFInfo.nOnlineControl = m_LoginInfo.nOnlineControl;
    m_CCFInfo.nDocExchangePolicy = m_LoginInfo.nDocExchangePolicy;
    m_CCFInfo.bControlCount = m_LoginInfo.nCountControl;
    m_CCFInfo.nSpare = m_LoginInfo.nSpare;
    DebugLog("[FillCCFInfo] OfflinePolicy [%d]", Unsigned(m_CCFInfo.nOfflinePolicy));

    if (m_nTakeOutStatus == STATUS_TAKEOUT_APPROVAL) {
        m_CCFInfo.bTakeOut = 1;
        memcpy(m_CCFInfo.szTakeOutStart, m_TakeOutRefInfo.szStartDate, sizeof(m_TakeOutRefInfo.szStartDate));
        memcpy(m_CCFInfo.szTakeOutEnd, m_TakeOutRefInfo.szEndDate, sizeof(m_TakeOutRefInfo.szEndDate));
    }

    memcpy(m_CCFInfo.szDKMS, m_LoginInfo.szDKMS, sizeof(m_LoginInfo.szDKMS));
    memcpy(m_CCFInfo.szDTSS, m_LoginInfo.szDTSS, sizeof(m_LoginInfo.szDTSS));
    memcpy(m_CCFInfo.szDLS, m_LoginInfo.szDLS, sizeof(m_LoginInfo.szDLS));
    memcpy(m_CCFInfo.abAppFlags, m_LoginInfo.abAppFlags, sizeof(m_LoginInfo.abAppFlags));
    return 1;
}

int CDRMLogin::CreateCCF()
{
    FieldText<sizeof(m_CCFInfo.szUserID)> userID(m_CCFInfo.szUserID);
    FieldText<sizeof(m_CCFInfo.szCompanyID)> companyID(m_CCFInfo.szCompanyID);
    FieldText<sizeof(m_CCFInfo.szPositionID)> positionID(m_CCFInfo.szPositionID);
    FieldText<sizeof(m_CCFInfo.szSuperKey)> superKey(m_CCFInfo.szSuperKey);
    FieldText<sizeof(m_CCFInfo.szDKMS)> dkms(m_CCFInfo.szDKMS);
    FieldText<sizeof(m_CCFInfo.szDTSS)> dtss(m_CCFInfo.szDTSS);
    FieldText<sizeof(m_CCFInfo.szDLS)> dls(m_CCFInfo.szDLS);
    const uint8_t* flags = m_CCFInfo.abAppFlags;
    {
        CCCF ccf;
        ccf.CheckCCFValidity();

        wchar_t siteID[sizeof(companyID.text)] = {};
        AnsiToWide(companyID.text, siteID, static_cast<int>(sizeof(companyID.text)));
        ccf.UpdateCurrentSiteID(Wide(siteID));

        // A take-out belongs to the user it was approved for: when the CCF changes hands, the
        // previous user's take-out state and dates must not carry over to the new user.
        const char* previousUser = ccf.GetUserID();
        if (previousUser != nullptr && previousUser[0] != '\0' && lstrcmpiA(previousUser, userID.text) != 0) {
            char noDate[1] = {};
            ccf.SetTakeOutStatus(CCCF::TAKE_OUT_NONE);
            ccf.SetTakeOutStartDate(noDate);
            ccf.SetTakeOutEndDate(noDate);
        }
        ccf.SetUserID(userID.text);
        DebugLog("[CreateCCF] id [%s]", userID.text);
        ccf.SetCompanyID(companyID.text);
        ccf.SetPositionID(positionID.text);
        ccf.SetSuperKey(superKey.text);

        WriteAppLibraryPairs(ccf, m_pAppInfo);

        char appList[kFixedAppListSize] = {};
        memcpy(appList, kFixedAppList, sizeof(kFixedAppList) - 1);
        ccf.SetField(Wide(kFixedAppListField), appList, static_cast<int>(sizeof(appList)));

        ccf.SetOfflinePolicy(static_cast<CCCF::OFFLINE_POLICY_SET>(m_CCFInfo.nOfflinePolicy));
        ccf.SetOnlineControl(static_cast<CCCF::ONLINE_CONTROL_SET>(m_CCFInfo.nOnlineControl));
        ccf.SetDocExchangePolicy(static_cast<CCCF::DOC_EXCHANGE>(m_CCFInfo.nDocExchangePolicy));
        ccf.SetControlCount(m_CCFInfo.bControlCount != 0);

        ccf.SetDKMSInfo(dkms.text);
        ccf.SetDTSSInfo(dtss.text);
        ccf.SetDLSInfo(dls.text);
        ccf.SetTimeSync(Unsigned(m_LoginInfo.nTimeSync));
        ccf.SetProtectRemoteTool(Unsigned(m_LoginInfo.nProtectRemoteTool));
        DebugLog("[CreateCCF] DLS [%s] DTSS[%s] DKMS [%s]", dls.text, dtss.text, dkms.text);

        char sdiApps[sizeof(kSdiApps)];
        memcpy(sdiApps, kSdiApps, sizeof(kSdiApps));
        ccf.SetField(Wide(kSdiAppsField), sdiApps, static_cast<int>(sizeof(sdiApps)));

        for (const AutoEncryptKind& kind : kMarkOrder)
            ccf.MarkAutoEncryptIndicator(kind.code, flags[kind.flagIndex] != 0);
        ccf.SetAutoEncryptIndicator();

        DebugLog("[CreateCCF] id [%s] OfflinePolicy [%d] OnlineControl [%d] DocExchangePolicy [%d]", userID.text,
                 Unsigned(m_CCFInfo.nOfflinePolicy), Unsigned(m_CCFInfo.nOnlineControl),
                 Unsigned(m_CCFInfo.nDocExchangePolicy));
        DebugLog("[CreateCCF] DOC[%d] XLS[%d], TXT[%d], PDF[%d], GUL[%d], HWP[%d], PPT[%d], DWG[%d], KODAK[%d], "
                 "MSPAINT[%d]",
                 Signed(flags[APP_FLAG_DOC]), Signed(flags[APP_FLAG_XLS]), Signed(flags[APP_FLAG_TXT]),
                 Signed(flags[APP_FLAG_PDF]), Signed(flags[APP_FLAG_GUL]), Signed(flags[APP_FLAG_HWP]),
                 Signed(flags[APP_FLAG_PPT]), Signed(flags[APP_FLAG_DWG]), Signed(flags[APP_FLAG_KODAK]),
                 Signed(flags[APP_FLAG_MSPAINT]));
    }
    return 1;
}

void CDRMLogin::SetTakeOutCCF(int nStatus, char* pszStartDate, char* pszEndDate)
{
    CCCF ccf;
    ccf.CheckCCFValidity();
    ccf.SetTakeOutStatus(static_cast<CCCF::TAKE_OUT_STATUS>(nStatus));
    if (pszStartDate != nullptr)
        ccf.SetTakeOutStartDate(pszStartDate);
    if (pszEndDate != nullptr)
        ccf.SetTakeOutEndDate(pszEndDate);
}

int CDRMLogin::GetTakeOutCCF()
{
    CCCF ccf;
    ccf.CheckCCFValidity();
    return static_cast<int>(ccf.GetTakeOutStatus());
}

void CDRMLogin::GetUserID(char* pszUserID)
{
    CCCF ccf;
    ccf.CheckCCFValidity();
    const char* stored = ccf.GetUserID();
    if (pszUserID == nullptr)
        return;
    // The caller's buffer holds 21 bytes; an ID stored by another writer may be longer.
    const size_t length = vlagt::FieldLength(stored, kUserIDChars);
    memcpy(pszUserID, stored, length);
    pszUserID[length] = '\0';
}

void CDRMLogin::TestCCF()
{
    memset(&m_CCFInfo, 0, sizeof(m_CCFInfo));
    CCCF ccf;
    ccf.CheckCCFValidity();
    vlagt::CopyTerminated(m_CCFInfo.szUserID, sizeof(m_CCFInfo.szUserID), ccf.GetUserID());
    vlagt::CopyTerminated(m_CCFInfo.szCompanyID, sizeof(m_CCFInfo.szCompanyID), ccf.GetCompanyID());
    vlagt::CopyTerminated(m_CCFInfo.szGroupID, sizeof(m_CCFInfo.szGroupID), ccf.GetGroupID());
    vlagt::CopyTerminated(m_CCFInfo.szPositionID, sizeof(m_CCFInfo.szPositionID), ccf.GetPositionID());
    vlagt::CopyTerminated(m_CCFInfo.szSuperKey, sizeof(m_CCFInfo.szSuperKey), ccf.GetSuperKey());
    m_CCFInfo.nOfflinePolicy = static_cast<uint8_t>(ccf.GetOfflinePolicy() & 0xFF);
    m_CCFInfo.nOnlineControl = static_cast<uint8_t>(ccf.GetOnlineControl() & 0xFF);
    m_CCFInfo.nDocExchangePolicy = static_cast<uint8_t>(ccf.GetDocExchangePolicy() & 0xFF);
    m_CCFInfo.bControlCount = ccf.GetControlCount() ? 1 : 0;
    vlagt::CopyTerminated(m_CCFInfo.szDKMS, sizeof(m_CCFInfo.szDKMS), ccf.GetDKMSInfo());
    vlagt::CopyTerminated(m_CCFInfo.szDTSS, sizeof(m_CCFInfo.szDTSS), ccf.GetDTSSInfo());
}
