#include "transport/CWinInetApp.h"

#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <new>
#include <string>

#include "common/DebugLog.h"
#include "common/TextUtil.h"
#include "session/SessionConstants.h"
#include "transport/ReplyCloser.h"
#include "transport/ReplyParse.h"
#include "transport/TaggedReply.h"
#include "transport/TlsFailure.h"

namespace {

constexpr char kAgentName[] = "HTTP_VL_CONTENT";
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;
static_assert(kRequestFlags == 0x84000000, "request flags: always reload, never cache");
// An https URL adds TLS, with every certificate check of the system left on: no ignore flag, no
// fallback to plain HTTP.
constexpr DWORD kSecureRequestFlags = kRequestFlags | INTERNET_FLAG_SECURE;
static_assert(kSecureRequestFlags == 0x84800000, "request flags over https: TLS as well");
constexpr INTERNET_PORT kDefaultHttpsPort = 443;

constexpr char kPing[] = "_%REQ_PNG%_";
constexpr char kPong[] = "_%RES_PNG%_";
constexpr DWORD kPingLen = 11;
static_assert(sizeof(kPing) - 1 == kPingLen && sizeof(kPong) - 1 == kPingLen, "ping is 11 bytes");

constexpr int kStatusSuccess = vlagt::kReplyStatusSuccess;
constexpr int kTagMissing = vlagt::kTagMissing;

constexpr char kFormHeader[] = "Content-Type: application/x-www-form-urlencoded\n";
static_assert(sizeof(kFormHeader) - 1 == 48, "the form header is 48 bytes, ending in a single LF");
constexpr size_t kFormAreaSize = 512;
constexpr size_t kWebReplyBlock = 10000; // a reply keeps at most 9,999 bytes and stays terminated
constexpr size_t kValueAreaSize = vlagt::kValueAreaSize;
constexpr char kSeparator[] = "===============================";

using HeapBlock = std::unique_ptr<char, CWinInetApp::CHeapFree>;

// A C-heap block of `size` bytes, at least one so that an empty read or record still has one.
HeapBlock AllocateBlock(size_t size)
{
    return HeapBlock(static_cast<char*>(malloc(std::max<size_t>(size, 1))));
}

unsigned HandleValue(const void* p)
{
    return static_cast<unsigned>(reinterpret_cast<uintptr_t>(p));
}

bool IsUnreserved(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

// Appends `length` bytes of `value` to `out`, percent-encoded for a form body: unreserved
// characters as they are, every other byte as %XX.
void AppendFormEncoded(std::string& out, const char* value, size_t length)
{
    static const char kHex[] = "0123456789ABCDEF";
    for (size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(value[i]);
        if (IsUnreserved(c)) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0x0F];
        }
    }
}

// The text of a failed end of request for the log: the system message of the error in its HRESULT
// form, or a fallback text.
std::string EndRequestErrorText(DWORD error)
{
    const DWORD code = error > 0 ? (0x80070000u | (error & 0xFFFFu)) : error;
    char* message = nullptr;
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                                        nullptr, code, 0x0400, reinterpret_cast<char*>(&message), 0,
                                        nullptr);
    std::string text;
    if (message != nullptr) {
        text.assign(message, length);
        LocalFree(message);
    }
    if (!text.empty()) {
        if (text.size() > 1 && text.back() == '\n') {
            text.pop_back();
            if (!text.empty() && text.back() == '\r')
                text.pop_back();
        }
        return text;
    }
    char fallback[32];
    const DWORD w = (code >= 0x80040200u && code <= 0x8004FFFFu) ? ((code - 0x80040200u) & 0xFFFFu) : 0;
    if (w != 0)
        snprintf(fallback, sizeof(fallback), "IDispatch error #%d", static_cast<int>(w));
    else
        snprintf(fallback, sizeof(fallback), "Unknown error 0x%0lX", static_cast<unsigned long>(code));
    return fallback;
}

// A terminated copy of at most `length` bytes of `data`, for "%s" in a log line: the shown text
// never reaches past the bytes received, and never past what one log line can hold.
std::string Shown(const char* data, size_t length)
{
    return std::string(data, std::min(length, vlagt::kDebugLogBufferSize));
}

} // namespace

CWinInetApp::CWinInetApp()
    : m_szServerIP{}, m_nServerPort(0), m_szServerDLL{}, m_UrlComponents{}, m_dwBufferLen(0),
      m_szUrlScheme{}, m_szUrlHostName{}, m_szUrlPath{}, m_szUrlExtraInfo{}
{
}

CWinInetApp::~CWinInetApp()
{
    // A channel discarded before any exchange still holds its handles.
    WinInetAppCloseHandle();
    if (m_pBuffer) {
        m_pBuffer.reset();
        m_dwBufferLen = 0;
        DebugLog("[~CWinInetApp()] free m_pBuffer");
    }
    std::vector<char>().swap(m_vecReply);
}

void CWinInetApp::CrackServerUrl(const char* pszServerURL)
{
    const char* url = pszServerURL != nullptr ? pszServerURL : "";
    memset(m_szUrlScheme, 0, sizeof(m_szUrlScheme));
    memset(m_szUrlHostName, 0, sizeof(m_szUrlHostName));
    memset(m_szUrlPath, 0, sizeof(m_szUrlPath));
    memset(m_szUrlExtraInfo, 0, sizeof(m_szUrlExtraInfo));

    URL_COMPONENTSA parts{};
    parts.dwStructSize = sizeof(parts);
    parts.lpszScheme = m_szUrlScheme;
    parts.dwSchemeLength = sizeof(m_szUrlScheme);
    parts.lpszHostName = m_szUrlHostName;
    parts.dwHostNameLength = sizeof(m_szUrlHostName);
    parts.lpszUrlPath = m_szUrlPath;
    parts.dwUrlPathLength = sizeof(m_szUrlPath);
    parts.lpszExtraInfo = m_szUrlExtraInfo;
    parts.dwExtraInfoLength = sizeof(m_szUrlExtraInfo);

    // ICU_DECODE | ICU_ESCAPE: Windows documents both flags as decoding percent escapes, but Wine
    // decodes only with ICU_DECODE; passing both gives decoded parts on both.
    const BOOL parsed =
        InternetCrackUrlA(url, static_cast<DWORD>(strlen(url)), ICU_DECODE | ICU_ESCAPE, &parts);
    // A URL the parser rejects, or one whose scheme it does not know (which some versions of the
    // library accept): no part is trusted, so nothing half-parsed is ever used.
    if (!parsed || parts.nScheme == INTERNET_SCHEME_UNKNOWN ||
        parts.nScheme == INTERNET_SCHEME_DEFAULT) {
        memset(m_szUrlScheme, 0, sizeof(m_szUrlScheme));
        memset(m_szUrlHostName, 0, sizeof(m_szUrlHostName));
        memset(m_szUrlPath, 0, sizeof(m_szUrlPath));
        memset(m_szUrlExtraInfo, 0, sizeof(m_szUrlExtraInfo));
        parts.dwSchemeLength = 0;
        parts.dwHostNameLength = 0;
        parts.dwUrlPathLength = 0;
        parts.dwExtraInfoLength = 0;
        parts.nScheme = INTERNET_SCHEME_UNKNOWN;
        parts.nPort = 0;
    }
    // The part buffers are 128 bytes; keep each text terminated whatever the parser wrote.
    m_szUrlScheme[sizeof(m_szUrlScheme) - 1] = '\0';
    m_szUrlHostName[sizeof(m_szUrlHostName) - 1] = '\0';
    m_szUrlPath[sizeof(m_szUrlPath) - 1] = '\0';
    m_szUrlExtraInfo[sizeof(m_szUrlExtraInfo) - 1] = '\0';
    m_UrlComponents = parts;
}

void CWinInetApp::SetServerIP(const char* pszServerURL)
{
    CrackServerUrl(pszServerURL);
    vlagt::CopyTerminated(m_szServerIP, sizeof(m_szServerIP), m_szUrlHostName);
    vlagt::CopyTerminated(m_szServerDLL, sizeof(m_szServerDLL), m_szUrlPath);
    m_nServerPort = m_UrlComponents.nPort;
    // A URL without a host (rejected by the parser, or naming none) keeps port 0: nothing to reach.
    if (m_nServerPort == 0 && m_szServerIP[0] != '\0')
        m_nServerPort = IsSecure() ? kDefaultHttpsPort : 80;
    DebugLog("SetServerIP:  m_szServerIP = %s, m_nServerPort = %d, m_szServerDLL =%s", m_szServerIP,
             static_cast<int>(m_nServerPort), m_szServerDLL);
}

void CWinInetApp::HttpOpenApp()
{
    m_hSession.Reset(InternetOpenA(kAgentName, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    DebugLog("HttpOpenApp: m_hSession = %x", HandleValue(m_hSession.Get()));
}

int CWinInetApp::HttpConnectApp()
{
    if (!m_hSession) {
        DebugLog("HttpConnectApp: m_hSession = %x", HandleValue(m_hSession.Get()));
        return 0;
    }
    m_hConnect.Reset(InternetConnectA(m_hSession.Get(), m_szServerIP,
                                      static_cast<INTERNET_PORT>(m_nServerPort & 0xFFFF), nullptr,
                                      nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    if (!m_hConnect) {
        m_hSession.Reset();
        return 0;
    }
    DebugLog("HttpConnectApp: m_hConnect = %x", HandleValue(m_hConnect.Get()));
    return 1;
}

int CWinInetApp::HttpRequestApp()
{
    if (!m_hConnect) {
        DebugLog("HttpRequestApp  m_hConnect Error");
        return 0;
    }
    m_hRequest.Reset(HttpOpenRequestA(m_hConnect.Get(), "POST", m_szServerDLL, nullptr, nullptr,
                                      nullptr, IsSecure() ? kSecureRequestFlags : kRequestFlags, 0));
    if (!m_hRequest) {
        DebugLog("HttpRequestApp  ERROR");
        m_hConnect.Reset();
        m_hSession.Reset();
        return 0;
    }
    DebugLog("HttpRequestApp  m_hRequest = %x", HandleValue(m_hRequest.Get()));
    return 1;
}

bool CWinInetApp::IsSecure() const
{
    return m_UrlComponents.nScheme == INTERNET_SCHEME_HTTPS;
}

bool CWinInetApp::OnSecureConnection() const
{
    DWORD flags = 0;
    DWORD length = sizeof(flags);
    return InternetQueryOptionA(m_hRequest.Get(), INTERNET_OPTION_SECURITY_FLAGS, &flags, &length) &&
           (flags & SECURITY_FLAG_SECURE) != 0;
}

void CWinInetApp::LogTlsFailure(DWORD error) const
{
    const char* meaning = IsSecure() ? vlagt::TlsFailureText(error) : nullptr;
    if (meaning != nullptr)
        DebugLog("[TLS] exchange refused: WinINet error %u, %s", static_cast<unsigned>(error), meaning);
}

bool CWinInetApp::RefusedAtCloseCap(const char* pszWho)
{
    if (!vlagt::CutOffClosesAtCap())
        return false;
    DebugLog("%s exchange refused: %d closes of cut-off replies still run (at most %d); nothing was sent",
             pszWho, static_cast<int>(vlagt::CutOffClosesRunning()), static_cast<int>(vlagt::kMaxCutOffCloses));
    WinInetAppCloseHandle();
    return true;
}

bool CWinInetApp::EndedBeforeAnnouncedLength(size_t nReceived, DWORD* pdwAnnounced) const
{
    *pdwAnnounced = 0;
    DWORD status = 0;
    DWORD length = sizeof(status);
    // Replies that carry no body whatever their head says.
    if (HttpQueryInfoA(m_hRequest.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &length,
                       nullptr) &&
        (status < 200 || status == 204 || status == 304))
        return false;
    // A transfer coding frames the body itself; the Content-Length then says nothing.
    char coding[64] = {};
    length = sizeof(coding);
    if (HttpQueryInfoA(m_hRequest.Get(), HTTP_QUERY_TRANSFER_ENCODING, coding, &length, nullptr))
        return false;
    DWORD announced = 0;
    length = sizeof(announced);
    if (!HttpQueryInfoA(m_hRequest.Get(), HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &announced,
                        &length, nullptr))
        return false;
    *pdwAnnounced = announced;
    return nReceived < announced;
}

void CWinInetApp::LogCutOffReply(const char* pszWho, bool bFailed, DWORD error, size_t nReceived,
                                 DWORD dwAnnounced) const
{
    DebugLog("InternetReadFile Read Exception [%x]",
             static_cast<unsigned>(bFailed ? error : ERROR_INTERNET_CONNECTION_ABORTED));
    if (bFailed) {
        DebugLog("%s reply cut off: a read failed after %u bytes (error %u); nothing kept", pszWho,
                 static_cast<unsigned>(nReceived), static_cast<unsigned>(error));
        LogTlsFailure(error);
    } else {
        DebugLog("%s reply cut off: %u of the %u bytes announced arrived; nothing kept", pszWho,
                 static_cast<unsigned>(nReceived), static_cast<unsigned>(dwAnnounced));
    }
}

void CWinInetApp::WinInetAppCloseHandle()
{
    if (m_hRequest) {
        DebugLog("InternetCloseHandle: m_hRequest");
        m_hRequest.Reset();
    }
    if (m_hConnect) {
        DebugLog("InternetCloseHandle: m_hConnect");
        m_hConnect.Reset();
    }
    if (m_hSession) {
        DebugLog("InternetCloseHandle: m_hSession");
        m_hSession.Reset();
    }
}

void CWinInetApp::CloseCutOffExchange()
{
    if (m_hRequest)
        DebugLog("InternetCloseHandle: m_hRequest");
    if (m_hConnect)
        DebugLog("InternetCloseHandle: m_hConnect");
    if (m_hSession)
        DebugLog("InternetCloseHandle: m_hSession");
    vlagt::CloseCutOffExchange(m_hRequest, m_hConnect, m_hSession);
}

bool CWinInetApp::SendRecord(const void* pRequest, DWORD dwRequestLen, bool bPing, int* pnFailure)
{
    if (RefusedAtCloseCap(bPing ? "[UseHttpSendReqExPING]" : "[UseHttpSendReqEx]")) {
        *pnFailure = 0;
        return false;
    }
    INTERNET_BUFFERSA buffers{};
    buffers.dwStructSize = sizeof(buffers);
    buffers.dwBufferTotal = dwRequestLen;
    if (!HttpSendRequestExA(m_hRequest.Get(), &buffers, nullptr, 0, 0)) {
        const DWORD error = GetLastError();
        if (bPing)
            DebugLog("Fail to HttpSendRequestEx with only HTTP. Error Code is [%d][%x]\n",
                     static_cast<int>(error), HandleValue(m_hRequest.Get()));
        else
            DebugLog("Fail to HttpSendRequestEx with only HTTP. Error Code is [%x][%d]\n",
                     HandleValue(m_hRequest.Get()), static_cast<int>(error));
        LogTlsFailure(error);
        WinInetAppCloseHandle();
        *pnFailure = 0;
        return false;
    }
    // Over https the record (which may hold a password) goes out only on a connection that is
    // encrypted: Wine's WinINet, asked for https through a proxy, ends this call after the proxy's
    // CONNECT answer without starting TLS, and the body would then cross the tunnel in clear.
    if (IsSecure() && !OnSecureConnection()) {
        DebugLog("[TLS] exchange refused: the request is not on a TLS connection (WinINet started no TLS, "
                 "as through a proxy under Wine); nothing of the record was sent");
        WinInetAppCloseHandle();
        *pnFailure = 0;
        return false;
    }

    DWORD dwBytesWritten = 0;
    const BOOL written = InternetWriteFile(m_hRequest.Get(), pRequest, dwRequestLen, &dwBytesWritten);
    const DWORD writeError = GetLastError();
    DebugLog("dwBytesWritten  = %d [Bytes] by InternetWriteFile", static_cast<int>(dwBytesWritten));
    if (!written || dwBytesWritten != dwRequestLen) {
        DebugLog("Error on InternetWriteFile. Error Code is [%d]\n", static_cast<int>(writeError));
        LogTlsFailure(writeError);
        WinInetAppCloseHandle();
        *pnFailure = 2;
        return false;
    }

    if (!HttpEndRequestA(m_hRequest.Get(), nullptr, 0, 0)) {
        const DWORD error = GetLastError();
        const std::string text = EndRequestErrorText(error);
        DebugLog("Error on HttpEndRequest. Error Code is [%s]", text.c_str());
        LogTlsFailure(error);
        WinInetAppCloseHandle();
        *pnFailure = 3;
        return false;
    }
    return true;
}

int CWinInetApp::UseHttpSendReqEx(const void* pRequest, DWORD dwRequestLen, void* pReply,
                                  DWORD dwReplySize)
{
    int failure = 0;
    if (!SendRecord(pRequest, dwRequestLen, false, &failure))
        return failure;

    // Read the reply body to its end, one read per pass, each sized by what the library reports.
    // A body past the bound is not read further: the exchange fails and nothing of it is kept.
    // A read that fails ends the exchange as a transport failure, never as the end of the reply.
    DWORD dwAvailable = 0;
    DWORD dwRead = 0;
    DWORD dwLastRead = 0;
    bool tooLong = false;
    bool readFailed = false;
    DWORD readError = 0;
    do {
        dwRead = 0;
        InternetQueryDataAvailable(m_hRequest.Get(), &dwAvailable, 0, 0);
        DebugLog("[InternetQueryDataAvailable] size [%d]", static_cast<int>(dwAvailable));
        HeapBlock block = AllocateBlock(dwAvailable);
        if (!block) {
            readFailed = true;
            readError = ERROR_NOT_ENOUGH_MEMORY;
            break;
        }
        if (InternetReadFile(m_hRequest.Get(), block.get(), dwAvailable, &dwRead)) {
            DebugLog("[InternetReadFile] size [%d]", static_cast<int>(dwRead));
            if (dwRead > 0) {
                const size_t needed = m_vecReply.size() + dwRead;
                if (needed > vlagt::kMaxBinaryReply) {
                    tooLong = true;
                    break;
                }
                try {
                    // Grow by doubling, but never past the bound.
                    if (needed > m_vecReply.capacity())
                        m_vecReply.reserve(std::min(std::max(needed, 2 * m_vecReply.capacity()),
                                                    vlagt::kMaxBinaryReply));
                    m_vecReply.insert(m_vecReply.end(), block.get(), block.get() + dwRead);
                } catch (const std::bad_alloc&) {
                    readFailed = true;
                    readError = ERROR_NOT_ENOUGH_MEMORY;
                    break;
                }
                dwLastRead = dwRead;
            }
        } else {
            readError = GetLastError();
            readFailed = true;
            dwRead = 0;
        }
    } while (dwRead > 0);

    if (tooLong) {
        DebugLog("[UseHttpSendReqEx] reply longer than %u bytes: not read further, nothing kept",
                 static_cast<unsigned>(vlagt::kMaxBinaryReply));
        CloseCutOffExchange();
        std::vector<char>().swap(m_vecReply);
        return 0;
    }

    // A reply cut off by the connection is not a reply: whatever its first bytes say, nothing of
    // it is evaluated. (Under Wine a reset can read as the end of the body: the announced length
    // shows it.)
    DWORD announced = 0;
    if (readFailed || EndedBeforeAnnouncedLength(m_vecReply.size(), &announced)) {
        LogCutOffReply("[UseHttpSendReqEx]", readFailed, readError, m_vecReply.size(), announced);
        if (readFailed)
            CloseCutOffExchange();
        else
            WinInetAppCloseHandle();
        std::vector<char>().swap(m_vecReply);
        return 0;
    }

    // The status is the first five bytes, or fewer when fewer arrived; never read past them.
    const vlagt::BinaryReply parsed = vlagt::ParseBinaryReply(m_vecReply.data(), m_vecReply.size());
    const int status = parsed.nStatus;
    if (status != kStatusSuccess)
        DebugLog("Server Return Error[%s]\n", parsed.szStatus);

    WinInetAppCloseHandle();

    int result = status;
    if (status == kStatusSuccess) {
        const size_t recordLen = parsed.nRecordLen;
        HeapBlock block = AllocateBlock(recordLen);
        if (!block) {
            result = 0; // the record cannot be kept: never report success without it
        } else {
            if (recordLen > 0)
                memcpy(block.get(), parsed.pRecord, recordLen);
            m_pBuffer = std::move(block);
            m_dwBufferLen = static_cast<DWORD>(recordLen);
            DebugLog("[buffer] size : %d", static_cast<int>(recordLen));
            DebugLog("[buffer] [%x][%s]", HandleValue(m_pBuffer.get()),
                     Shown(m_pBuffer.get(), recordLen).c_str());
            if (dwReplySize > 0)
                vlagt::CopyReplyRecord(m_pBuffer.get(), recordLen, pReply, dwReplySize);
            DebugLog("HttpSendReqEx Success = %d,%d,%d", static_cast<int>(dwReplySize),
                     static_cast<int>(dwLastRead), static_cast<int>(m_vecReply.size()));
        }
    }
    std::vector<char>().swap(m_vecReply);
    return result;
}

int CWinInetApp::UseHttpSendReqExPING()
{
    int failure = 0;
    if (!SendRecord(kPing, kPingLen, true, &failure))
        return failure;

    char chunk[kPingLen] = {};
    char compared[kPingLen] = {};
    size_t received = 0;
    bool cutOff = false; // stopped before the reply ended
    bool readFailed = false;
    DWORD readError = 0;
    for (;;) {
        DWORD dwRead = 0;
        if (!InternetReadFile(m_hRequest.Get(), chunk, kPingLen, &dwRead)) {
            readError = GetLastError();
            readFailed = true;
            break;
        }
        if (dwRead == 0)
            break;
        received += dwRead;
        if (received > vlagt::kMaxPingReply) {
            DebugLog("[UseHttpSendReqExPING] reply longer than %u bytes: not read further",
                     static_cast<unsigned>(vlagt::kMaxPingReply));
            CloseCutOffExchange();
            return 0;
        }
        // Bytes a short read did not overwrite keep what the last read left there.
        memcpy(compared, chunk, kPingLen);
        if (memcmp(compared, kPong, kPingLen) != 0) {
            DebugLog("Server PING Return Error[%s]\n", Shown(compared, kPingLen).c_str());
            cutOff = true;
            break;
        }
    }

    DWORD announced = 0;
    if (!cutOff && (readFailed || EndedBeforeAnnouncedLength(received, &announced))) {
        LogCutOffReply("[UseHttpSendReqExPING]", readFailed, readError, received, announced);
        if (readFailed)
            CloseCutOffExchange();
        else
            WinInetAppCloseHandle();
        return 0;
    }
    if (cutOff)
        CloseCutOffExchange();
    else
        WinInetAppCloseHandle();
    return memcmp(compared, kPong, kPingLen) == 0 ? 1 : 0;
}

int CWinInetApp::UseHttpSendReqExWEB(const LOGIN_REQ* pLoginReq)
{
    static const LOGIN_REQ kEmptyLogin = {};
    const LOGIN_REQ& login = pLoginReq != nullptr ? *pLoginReq : kEmptyLogin;

    // Both values are percent-encoded, so that "&", "=", "+", "%" or a non-ASCII byte reach the
    // server as part of the value. Worst case: 8 + 60 + 10 + 60 bytes, well inside the area.
    std::string encodedID;
    std::string encodedPW;
    AppendFormEncoded(encodedID, login.szUserID,
                      vlagt::FieldLength(login.szUserID, sizeof(login.szUserID)));
    AppendFormEncoded(encodedPW, login.szUserPW,
                      vlagt::FieldLength(login.szUserPW, sizeof(login.szUserPW)));
    char szFormData[kFormAreaSize] = {};
    const int formLen = snprintf(szFormData, sizeof(szFormData), "USER_ID=%s&USER_PWD=%s",
                                 encodedID.c_str(), encodedPW.c_str());
    static_assert(8 + 3 * 20 + 10 + 3 * 20 < kFormAreaSize, "the form area fits the worst case");
    char szShownForm[kFormAreaSize] = {};
    snprintf(szShownForm, sizeof(szShownForm), "USER_ID=%s&USER_PWD=%s", encodedID.c_str(),
             vlagt::kPasswordMask);

    DebugLog("%s", kSeparator);
    DebugLog("Web frmdata = [%s]", szShownForm);
    DebugLog("%s", kSeparator);

    if (RefusedAtCloseCap("[UseHttpSendReqExWEB]"))
        return 0;
    if (!HttpSendRequestA(m_hRequest.Get(), kFormHeader, sizeof(kFormHeader) - 1, szFormData,
                          static_cast<DWORD>(std::max(formLen, 0)))) {
        const DWORD error = GetLastError();
        DebugLog("[UseHttpSendReqEx] ERROR_HTTPSENDREQUEST");
        LogTlsFailure(error);
        WinInetAppCloseHandle();
        return 0;
    }
    // Over https the form goes out with the headers in this one send, and WinINet sends it only
    // once TLS runs (through a proxy, inside the CONNECT tunnel). Should a library ever answer
    // without TLS, nothing of that answer is believed: anyone on the path could have written it.
    if (IsSecure() && !OnSecureConnection()) {
        DebugLog("[TLS] exchange refused: the form's request is not on a TLS connection; its reply is not read");
        WinInetAppCloseHandle();
        return 0;
    }
    DebugLog("m_hRequest true1");

    DWORD dwRead = 0;
    bool readFailed = false;
    DWORD readError = 0;
    size_t received = 0; // every byte read, kept or dropped
    try {
        m_pBuffer.reset();
        m_dwBufferLen = 0;
        m_pBuffer = AllocateBlock(kWebReplyBlock);
        if (!m_pBuffer)
            throw std::bad_alloc();
        memset(m_pBuffer.get(), 0, kWebReplyBlock);
        DWORD dwTotal = 0;
        DWORD dwAvailable = 0;
        do {
            dwRead = 0;
            InternetQueryDataAvailable(m_hRequest.Get(), &dwAvailable, 0, 0);
            DebugLog("[UseHttpSendReqExWEB] size [%d]", static_cast<int>(dwAvailable));
            HeapBlock block = AllocateBlock(dwAvailable);
            if (!block)
                throw std::bad_alloc();
            if (!InternetReadFile(m_hRequest.Get(), block.get(), dwAvailable, &dwRead)) {
                readError = GetLastError();
                readFailed = true;
                dwRead = 0;
            }
            if (dwRead > 0 && received + dwRead > vlagt::kMaxWebReply) {
                DebugLog("[UseHttpSendReqExWEB] reply longer than %u bytes: not read further, nothing kept",
                         static_cast<unsigned>(vlagt::kMaxWebReply));
                CloseCutOffExchange();
                m_pBuffer.reset();
                m_dwBufferLen = 0;
                return 0;
            }
            received += dwRead;
            if (dwRead > 0) {
                // Bytes beyond the first 9,999 are read and dropped; the block stays terminated.
                const DWORD room = static_cast<DWORD>(kWebReplyBlock - 1) - dwTotal;
                const DWORD kept = std::min(dwRead, room);
                memcpy(m_pBuffer.get() + dwTotal, block.get(), kept);
                dwTotal += kept;
                DebugLog("total = %d", static_cast<int>(dwTotal));
            }
        } while (dwRead > 0);
        m_dwBufferLen = dwTotal;
    } catch (...) {
        DebugLog("InternetReadFile Read Exception [%x]", static_cast<unsigned>(GetLastError()));
        CloseCutOffExchange(); // the reply may not have been read to its end
        m_pBuffer.reset();
        m_dwBufferLen = 0;
        return 0;
    }
    DWORD announced = 0;
    if (readFailed || EndedBeforeAnnouncedLength(received, &announced)) {
        LogCutOffReply("[UseHttpSendReqExWEB]", readFailed, readError, received, announced);
        if (readFailed)
            CloseCutOffExchange();
        else
            WinInetAppCloseHandle();
        m_pBuffer.reset();
        m_dwBufferLen = 0;
        return 0;
    }

    char szValue[kValueAreaSize] = {};
    DebugLog("GetReturnCode start");
    DebugLog("buffer [%s]", m_pBuffer.get());
    const int found = GetReturnCode(m_pBuffer.get(), "Result", szValue, sizeof(szValue) - 1);
    const int result = (found == 1) ? vlagt::ReadDecimal(szValue) : found;

    DebugLog("[UseHttpSendReqExWEB] WinInetAppCloseHandle");
    WinInetAppCloseHandle();
    DebugLog("[UseHttpSendReqExWEB] dwBytesRead [%d], g_retVal [%d]", static_cast<int>(dwRead), result);
    return result;
}

int CWinInetApp::GetReturnCode(char* pszText, const char* pszTag, char* pszDest, size_t nDestSize)
{
    if (pszText == nullptr || pszTag == nullptr || strlen(pszTag) > vlagt::kMaxTagName)
        return kTagMissing;

    TrimTrailingSpace(pszText);
    const vlagt::TaggedValue found = vlagt::FindTaggedValue(pszText, pszTag);
    switch (found.result) {
    case vlagt::TagLookup::Found:
        break;
    case vlagt::TagLookup::ClosingAtStart:
    case vlagt::TagLookup::BadTag:
        return kTagMissing;
    case vlagt::TagLookup::Missing:
    case vlagt::TagLookup::ClosingFirst: // a malformed page
        DebugLog("[GetReturnCode] tag [%s] [%s]", found.szOpenTag, found.szCloseTag);
        DebugLog("[GetReturnCode] 잘못된 페이지..");
        return kTagMissing;
    }
    const size_t copied = std::min(found.nLength, nDestSize);
    if (pszDest != nullptr && copied > 0)
        memcpy(pszDest, found.pValue, copied);
    DebugLog("[GetReturnCode] [%s] =[%s]", pszTag, std::string(found.pValue, pszDest ? copied : 0).c_str());
    return 1;
}

int CWinInetApp::GetReturnCodeInt(char* pszText, const char* pszTag)
{
    char szValue[kValueAreaSize] = {};
    GetReturnCode(pszText, pszTag, szValue, sizeof(szValue) - 1);
    return vlagt::ReadDecimal(szValue);
}

void CWinInetApp::TrimTrailingSpace(char* pszText)
{
    vlagt::TrimTrailingSpace(pszText);
}
