// CWinInetApp.h - one HTTP channel to the policy server: parse the server URL, open session,
// connection and one POST request, run exactly one exchange, close.
//
// Ownership. The object owns the three Internet handles (session, connection, request), the raw
// reply collected during a binary exchange (m_vecReply) and the payload block m_pBuffer, a C-heap
// block that holds the reply record of the last successful binary exchange or the reply text of the
// last web login. A handle member is either empty or open; whoever closes it empties it. Every
// exchange closes the three handles before it returns (one that stopped reading before its reply
// ended hands them to a closing thread instead); a channel that is destroyed while still open (no
// exchange ran) closes them in its destructor. The payload stays in m_pBuffer, with its
// length in m_dwBufferLen, until the next exchange that stores one or the destructor.
//
// Integer results.
//   HttpConnectApp, HttpRequestApp: 1 the handle is open, 0 it is not (nothing is left open then).
//   UseHttpSendReqEx: the five-digit reply status as the server sent it, read like atol reads the
//     first five bytes of the reply (40000 = success, the reply record is stored; 0 also when those
//     bytes hold no leading digits); or a transport failure: 0 the request could not be sent,
//     2 the request body was not written completely, 3 the request could not be completed;
//     0 also when the reply grows past 16 MiB (reading stops there and nothing is kept), and when
//     the reply was cut off: a read failed, or the body ended before the length its head announced
//     (nothing is kept; the status is not looked at).
//   UseHttpSendReqExPING: 1 the server answered the pong; 0 not sent, empty or wrong answer, the
//     reply grew past 64 KiB (reading stops there) or was cut off as above; 2, 3 as above.
//   UseHttpSendReqExWEB: the decimal value of the reply's Result element (40000 = login accepted,
//     0 also when it holds no leading digits); 46000 the reply has no usable Result element;
//     0 the form could not be sent or the reply could not be read (cut off as above), or it grew
//     past 1 MiB (reading stops there and nothing is kept); 0 also, over https, when the request
//     turned out not to run on TLS (its reply is not read).
//   Every exchange is refused with 0, before anything is sent, while the process already closes
//   the most cut-off replies it allows at once (see ReplyCloser.h).
//   GetReturnCode: 1 the value was copied; 46000 the element is missing or malformed.
//   GetReturnCodeInt: the value read as a decimal integer; 0 when the element is missing.
//
// An object lives on one thread and serves one exchange; all calls block.
#pragma once

#include <stddef.h>
#include <stdlib.h>

#include <memory>
#include <vector>

#include "VLAgtClient.h"
#include "common/UniqueHandle.h"
#include "common/WinApi.h"

class CWinInetApp
{
public:
    CWinInetApp();
    ~CWinInetApp();
    CWinInetApp(const CWinInetApp&) = delete;
    CWinInetApp& operator=(const CWinInetApp&) = delete;

    // Splits the zero-terminated server URL into host (m_szServerIP), port (m_nServerPort; none or
    // 0 gives 80, or 443 for https) and path (m_szServerDLL; escapes decoded, query dropped). A URL
    // the parser rejects leaves host and path empty and the port 0, so that the connection fails.
    // An https URL makes every request of the channel go over TLS with the certificate checked.
    void SetServerIP(const char* pszServerURL);
    // Parses the URL into m_UrlComponents, whose part texts live in this object.
    void CrackServerUrl(const char* pszServerURL);

    void HttpOpenApp();
    int HttpConnectApp();
    int HttpRequestApp();
    // Closes request, connection and session, in that order; a second call does nothing.
    void WinInetAppCloseHandle();
    // The same for an exchange that stopped reading before its reply ended (a bound passed, a
    // wrong answer): the same lines, written here, but the handles are closed on a thread of their
    // own, so that the caller never waits for the rest of the reply (see ReplyCloser.h).
    void CloseCutOffExchange();

    // Posts dwRequestLen bytes of pRequest and reads the reply. On 40000 the reply record (the reply
    // after its five status bytes) goes to m_pBuffer / m_dwBufferLen, and its first
    // min(record length, dwReplySize) bytes to pReply when pReply is not null; nothing else of
    // pReply is written. Any other result leaves m_pBuffer and pReply as they were.
    int UseHttpSendReqEx(const void* pRequest, DWORD dwRequestLen, void* pReply, DWORD dwReplySize);
    int UseHttpSendReqExPING();
    // Posts the login form built from the user ID and password fields of the login record and reads
    // the reply text (at most 9,999 bytes are kept, zero-terminated) into m_pBuffer.
    int UseHttpSendReqExWEB(const LOGIN_REQ* pLoginReq);

    // Looks up the first "<tag>" and the first "</tag>" in pszText (trimmed in place first) and
    // copies the bytes between them into pszDest, at most nDestSize of them, without adding a
    // terminator; pszDest is untouched unless the result is 1.
    int GetReturnCode(char* pszText, const char* pszTag, char* pszDest, size_t nDestSize);
    int GetReturnCodeInt(char* pszText, const char* pszTag);
    // Cuts trailing white space (blank, TAB, LF, VT, FF, CR) off a multibyte text, in place.
    void TrimTrailingSpace(char* pszText);

    struct CHeapFree
    {
        void operator()(char* p) const noexcept { free(p); }
    };

    vlagt::UniqueInternetHandle m_hSession;
    vlagt::UniqueInternetHandle m_hConnect;
    vlagt::UniqueInternetHandle m_hRequest;
    char m_szServerIP[260];
    DWORD m_nServerPort;
    char m_szServerDLL[260];
    URL_COMPONENTSA m_UrlComponents;
    std::vector<char> m_vecReply;
    std::unique_ptr<char, CHeapFree> m_pBuffer;
    // Bytes of payload in m_pBuffer: the reply record's length after a binary exchange, the reply
    // text's length (terminator not counted) after a web login; 0 when m_pBuffer is empty.
    DWORD m_dwBufferLen;

private:
    // Sends the request body the binary way (send with buffers, one write, end of request).
    // Returns true when the request completed; otherwise closes the channel and stores the result
    // (0, 2 or 3) in *pnFailure.
    bool SendRecord(const void* pRequest, DWORD dwRequestLen, bool bPing, int* pnFailure);
    // True when the last parsed URL has the https scheme.
    bool IsSecure() const;
    // True when the open request runs on a TLS connection (asked after the request was sent).
    bool OnSecureConnection() const;
    // Over https, one line naming a failed exchange's WinINet error when the secure channel
    // reported it; nothing otherwise.
    void LogTlsFailure(DWORD error) const;
    // True (after a line saying so, with the handles closed) while the process closes as many
    // cut-off replies as it allows at once: the exchange is not started.
    bool RefusedAtCloseCap(const char* pszWho);
    // True when the reply's head announced a Content-Length (and no transfer coding) and fewer
    // body bytes than that arrived: the connection ended early. *pdwAnnounced gets the length.
    bool EndedBeforeAnnouncedLength(size_t nReceived, DWORD* pdwAnnounced) const;
    // The lines for a reply that was cut off: a read that failed with `error` (bFailed), or a body
    // that ended after nReceived of dwAnnounced bytes.
    void LogCutOffReply(const char* pszWho, bool bFailed, DWORD error, size_t nReceived,
                        DWORD dwAnnounced) const;

    // The part texts m_UrlComponents points at.
    char m_szUrlScheme[128];
    char m_szUrlHostName[128];
    char m_szUrlPath[128];
    char m_szUrlExtraInfo[128];
};

#if defined(_WIN64)
static_assert(sizeof(URL_COMPONENTSA) == 104, "the URL component record is 104 bytes");
static_assert(sizeof(INTERNET_BUFFERSA) == 56, "the send-buffers record is 56 bytes");
#else
static_assert(sizeof(URL_COMPONENTSA) == 60, "the URL component record is 60 bytes");
static_assert(sizeof(INTERNET_BUFFERSA) == 40, "the send-buffers record is 40 bytes");
#endif
