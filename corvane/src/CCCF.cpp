// CCCF: one view of the current user's CCF. The object reads the file when it is built, keeps what
// its setters change apart, and merges only those changes into the file when it is destroyed.
#include "Corvane.h"

#include <limits.h>
#include <stdlib.h>

#include <list>
#include <map>
#include <new>
#include <string>

#include "CcfFile.h"
#include "common/WinApi.h"

namespace {

// The longest UTF-16 string read from a caller (site ID, field name), in code units.
constexpr size_t kMaxWideLength = 32767;
// The largest named-field value taken.
constexpr int kMaxFieldLength = 1024 * 1024;
// The state an empty CCF reports for take-out.
constexpr int kNoTakeOut = CCCF::TAKE_OUT_NONE;

// A getter's fallback when the object itself could not be built; reset before every use.
char g_szEmpty[1];

char* EmptyText()
{
    g_szEmpty[0] = '\0';
    return g_szEmpty;
}

// UTF-16 text up to its terminator (at most kMaxWideLength units) as UTF-8.
std::string Utf8(const unsigned short* text)
{
    const wchar_t* wide = reinterpret_cast<const wchar_t*>(text);
    size_t length = 0;
    while (length < kMaxWideLength && wide[length] != L'\0')
        ++length;
    if (length == 0)
        return std::string();
    const int needed = WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    if (needed <= 0)
        return std::string();
    std::string out(static_cast<size_t>(needed), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), &out[0], needed, nullptr, nullptr);
    return out;
}

// A whole decimal int, or `fallback` for anything else.
int ParseInt(const std::string& text, int fallback)
{
    if (text.empty() || text.size() > 11)
        return fallback;
    char* end = nullptr;
    const long value = strtol(text.c_str(), &end, 10);
    if (end == nullptr || *end != '\0' || value < INT_MIN || value > INT_MAX)
        return fallback;
    return static_cast<int>(value);
}

} // namespace

struct CCCF::Impl
{
    std::wstring path;
    corvane::CcfState state = corvane::CcfState::Missing;
    corvane::CcfValues disk;
    corvane::CcfValues changes;
    std::map<int, bool> marks;
    // Every string a getter handed out, kept until the object goes.
    std::map<std::string, std::list<std::string>> handedOut;

    void Load() { state = corvane::ReadLocked(path, disk); }

    const std::string* Find(const std::string& key) const
    {
        auto changed = changes.find(key);
        if (changed != changes.end())
            return &changed->second;
        auto stored = disk.find(key);
        return stored != disk.end() ? &stored->second : nullptr;
    }

    int Set(const char* key, std::string value)
    {
        changes[key] = std::move(value);
        return 1;
    }

    int SetText(const char* key, const char* value)
    {
        if (value == nullptr)
            return 0;
        return Set(key, value);
    }

    char* Text(const char* key)
    {
        const std::string* value = Find(key);
        std::list<std::string>& handed = handedOut[key];
        const std::string current = value ? *value : std::string();
        if (handed.empty() || handed.back() != current)
            handed.push_back(current);
        return &handed.back()[0];
    }

    int Number(const char* key, int fallback) const
    {
        const std::string* value = Find(key);
        return value ? ParseInt(*value, fallback) : fallback;
    }
};

namespace {

// Runs `action` on the object's state; `fallback` when there is none or it throws.
template <typename Result, typename Action>
Result Guarded(CCCF::Impl* impl, Result fallback, Action action)
{
    if (impl == nullptr)
        return fallback;
    try {
        return action(*impl);
    } catch (...) {
        return fallback;
    }
}

char* GuardedText(CCCF::Impl* impl, const char* key)
{
    char* text = Guarded<char*>(impl, nullptr, [key](CCCF::Impl& state) { return state.Text(key); });
    return text != nullptr ? text : EmptyText();
}

} // namespace

CCCF::CCCF() : m_pImpl(new (std::nothrow) Impl)
{
    Guarded(m_pImpl, 0, [](Impl& state) {
        state.path = corvane::CcfPath();
        state.Load();
        return 0;
    });
}

CCCF::~CCCF()
{
    Guarded(m_pImpl, 0, [](Impl& state) {
        if (!state.changes.empty())
            corvane::Merge(state.path, state.changes);
        return 0;
    });
    delete m_pImpl;
}

int CCCF::CheckCCFValidity()
{
    return Guarded(m_pImpl, static_cast<int>(CCF_CHECK_UNREADABLE), [](Impl& state) {
        state.Load();
        switch (state.state) {
        case corvane::CcfState::Valid:
            return static_cast<int>(CCF_CHECK_VALID);
        case corvane::CcfState::Missing:
            return static_cast<int>(CCF_CHECK_MISSING);
        case corvane::CcfState::Damaged:
            return static_cast<int>(CCF_CHECK_DAMAGED);
        case corvane::CcfState::Unreadable:
            break;
        }
        return static_cast<int>(CCF_CHECK_UNREADABLE);
    });
}

#define CORVANE_TEXT_SETTER(method, key)                                                           \
    int CCCF::method(char* value)                                                                  \
    {                                                                                              \
        return Guarded(m_pImpl, 0, [value](Impl& state) { return state.SetText(key, value); });    \
    }

CORVANE_TEXT_SETTER(SetUserID, corvane::key::kUserID)
CORVANE_TEXT_SETTER(SetCompanyID, corvane::key::kCompanyID)
CORVANE_TEXT_SETTER(SetPositionID, corvane::key::kPositionID)
CORVANE_TEXT_SETTER(SetSuperKey, corvane::key::kSuperKey)
CORVANE_TEXT_SETTER(SetDKMSInfo, corvane::key::kDKMSInfo)
CORVANE_TEXT_SETTER(SetDTSSInfo, corvane::key::kDTSSInfo)
CORVANE_TEXT_SETTER(SetDLSInfo, corvane::key::kDLSInfo)
CORVANE_TEXT_SETTER(SetTakeOutStartDate, corvane::key::kTakeOutStartDate)
CORVANE_TEXT_SETTER(SetTakeOutEndDate, corvane::key::kTakeOutEndDate)
CORVANE_TEXT_SETTER(SetLatestSeenDate, corvane::key::kLatestSeenDate)

#undef CORVANE_TEXT_SETTER

int CCCF::UpdateCurrentSiteID(unsigned short* siteID)
{
    return Guarded(m_pImpl, 0, [siteID](Impl& state) {
        if (siteID == nullptr)
            return 0;
        return state.Set(corvane::key::kCurrentSiteID, Utf8(siteID));
    });
}

namespace {

int SetNumber(CCCF::Impl* impl, const char* key, int value)
{
    return Guarded(impl, 0, [key, value](CCCF::Impl& state) { return state.Set(key, std::to_string(value)); });
}

} // namespace

int CCCF::SetOfflinePolicy(OFFLINE_POLICY_SET value)
{
    return SetNumber(m_pImpl, corvane::key::kOfflinePolicy, value);
}

int CCCF::SetOnlineControl(ONLINE_CONTROL_SET value)
{
    return SetNumber(m_pImpl, corvane::key::kOnlineControl, value);
}

int CCCF::SetDocExchangePolicy(DOC_EXCHANGE value)
{
    return SetNumber(m_pImpl, corvane::key::kDocExchangePolicy, value);
}

int CCCF::SetTakeOutStatus(TAKE_OUT_STATUS value)
{
    return SetNumber(m_pImpl, corvane::key::kTakeOutStatus, value);
}

int CCCF::SetControlCount(bool value)
{
    return SetNumber(m_pImpl, corvane::key::kControlCount, value ? 1 : 0);
}

int CCCF::SetTimeSync(int value)
{
    return SetNumber(m_pImpl, corvane::key::kTimeSync, value);
}

int CCCF::SetProtectRemoteTool(int value)
{
    return SetNumber(m_pImpl, corvane::key::kProtectRemoteTool, value);
}

int CCCF::SetField(unsigned short* name, char* value, int length)
{
    return Guarded(m_pImpl, 0, [name, value, length](Impl& state) {
        if (name == nullptr || value == nullptr || length < 1 || length > kMaxFieldLength)
            return 0;
        const std::string fieldName = Utf8(name);
        if (fieldName.empty())
            return 0;
        return state.Set((std::string(corvane::key::kFieldPrefix) + fieldName).c_str(),
                         std::string(value, static_cast<size_t>(length)));
    });
}

void CCCF::MarkAutoEncryptIndicator(CCF_APP_LIST kind, bool encrypt)
{
    Guarded(m_pImpl, 0, [kind, encrypt](Impl& state) {
        const int code = static_cast<int>(kind);
        if (code >= 0 && code <= 255)
            state.marks[code] = encrypt;
        return 0;
    });
}

int CCCF::SetAutoEncryptIndicator()
{
    return Guarded(m_pImpl, 0, [](Impl& state) {
        for (const auto& mark : state.marks)
            state.Set((std::string(corvane::key::kAutoEncryptPrefix) + std::to_string(mark.first)).c_str(),
                      mark.second ? "1" : "0");
        return 1;
    });
}

char* CCCF::GetUserID()
{
    return GuardedText(m_pImpl, corvane::key::kUserID);
}

char* CCCF::GetCompanyID()
{
    return GuardedText(m_pImpl, corvane::key::kCompanyID);
}

char* CCCF::GetGroupID()
{
    return GuardedText(m_pImpl, corvane::key::kGroupID);
}

char* CCCF::GetPositionID()
{
    return GuardedText(m_pImpl, corvane::key::kPositionID);
}

char* CCCF::GetSuperKey()
{
    return GuardedText(m_pImpl, corvane::key::kSuperKey);
}

char* CCCF::GetDKMSInfo()
{
    return GuardedText(m_pImpl, corvane::key::kDKMSInfo);
}

char* CCCF::GetDTSSInfo()
{
    return GuardedText(m_pImpl, corvane::key::kDTSSInfo);
}

char* CCCF::GetTakeOutStartDate()
{
    return GuardedText(m_pImpl, corvane::key::kTakeOutStartDate);
}

char* CCCF::GetTakeOutEndDate()
{
    return GuardedText(m_pImpl, corvane::key::kTakeOutEndDate);
}

char* CCCF::GetLatestSeenDate()
{
    return GuardedText(m_pImpl, corvane::key::kLatestSeenDate);
}

namespace {

int GetNumber(CCCF::Impl* impl, const char* key, int fallback)
{
    return Guarded(impl, fallback, [key, fallback](CCCF::Impl& state) { return state.Number(key, fallback); });
}

} // namespace

CCCF::OFFLINE_POLICY_SET CCCF::GetOfflinePolicy()
{
    return static_cast<OFFLINE_POLICY_SET>(GetNumber(m_pImpl, corvane::key::kOfflinePolicy, 0));
}

CCCF::ONLINE_CONTROL_SET CCCF::GetOnlineControl()
{
    return static_cast<ONLINE_CONTROL_SET>(GetNumber(m_pImpl, corvane::key::kOnlineControl, 0));
}

CCCF::DOC_EXCHANGE CCCF::GetDocExchangePolicy()
{
    return static_cast<DOC_EXCHANGE>(GetNumber(m_pImpl, corvane::key::kDocExchangePolicy, 0));
}

CCCF::TAKE_OUT_STATUS CCCF::GetTakeOutStatus()
{
    return static_cast<TAKE_OUT_STATUS>(GetNumber(m_pImpl, corvane::key::kTakeOutStatus, kNoTakeOut));
}

bool CCCF::GetControlCount()
{
    return GetNumber(m_pImpl, corvane::key::kControlCount, 0) != 0;
}
