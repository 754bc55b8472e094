#include "CPasswordPrompt.h"

#include "common/WinApi.h"

namespace vlagt::tool {

void Wipe(std::string& text)
{
    if (!text.empty())
        SecureZeroMemory(&text[0], text.size());
    text.clear();
}

CPasswordPrompt::~CPasswordPrompt()
{
    Wipe(m_text);
}

bool CPasswordPrompt::Read(const std::string& prompt, std::string& error)
{
    Wipe(m_text);
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (input == nullptr || input == INVALID_HANDLE_VALUE) {
        error = "no password given and no input to read it from";
        return false;
    }
    DWORD mode = 0;
    const bool ok = GetConsoleMode(input, &mode) ? ReadFromConsole(input, prompt, error) : ReadFromInput(input, error);
    if (ok && m_text.size() > kMaxLength) {
        Wipe(m_text);
        error = "the password is longer than " + std::to_string(kMaxLength) + " characters";
        return false;
    }
    return ok;
}

bool CPasswordPrompt::ReadFromConsole(void* input, const std::string& prompt, std::string& error)
{
    DWORD mode = 0;
    GetConsoleMode(input, &mode);
    // Line input without echo; the old mode comes back on every path.
    struct ModeGuard
    {
        HANDLE handle;
        DWORD mode;
        ~ModeGuard() { SetConsoleMode(handle, mode); }
    } guard{input, mode};
    SetConsoleMode(input, (mode | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT) & ~ENABLE_ECHO_INPUT);

    HANDLE output = GetStdHandle(STD_ERROR_HANDLE);
    DWORD written = 0;
    WriteFile(output, prompt.data(), static_cast<DWORD>(prompt.size()), &written, nullptr);

    char buffer[64];
    bool ended = false;
    while (!ended && m_text.size() <= kMaxLength) {
        DWORD count = 0;
        if (!ReadConsoleA(input, buffer, sizeof(buffer), &count, nullptr) || count == 0)
            break;
        for (DWORD i = 0; i < count && !ended; ++i) {
            if (buffer[i] == '\r' || buffer[i] == '\n')
                ended = true;
            else
                m_text.push_back(buffer[i]);
        }
        SecureZeroMemory(buffer, sizeof(buffer));
    }
    WriteFile(output, "\r\n", 2, &written, nullptr);
    if (!ended && m_text.size() <= kMaxLength) {
        Wipe(m_text);
        error = "no password read from the console";
        return false;
    }
    return true;
}

bool CPasswordPrompt::ReadFromInput(void* input, std::string& error)
{
    // One byte at a time, so that nothing after the line is taken from the input.
    for (;;) {
        char c = 0;
        DWORD count = 0;
        if (!ReadFile(input, &c, 1, &count, nullptr) || count == 0) {
            if (m_text.empty()) {
                error = "no password given and none on standard input";
                return false;
            }
            return true;
        }
        if (c == '\n')
            break;
        m_text.push_back(c);
        if (m_text.size() > kMaxLength)
            break;
    }
    if (!m_text.empty() && m_text.back() == '\r')
        m_text.pop_back();
    return true;
}

} // namespace vlagt::tool
