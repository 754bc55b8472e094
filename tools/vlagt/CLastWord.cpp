#include "CLastWord.h"

#include <stdint.h>

#include "common/WinApi.h"

namespace vlagt::tool {

namespace {

bool g_json = false;

// Bounded appends into a fixed buffer: nothing here allocates, so it is safe in a process whose
// heap or C runtime may be in any state.
class CLine
{
public:
    void Text(const char* text)
    {
        while (*text != '\0' && m_length + 1 < sizeof(m_buffer))
            m_buffer[m_length++] = *text++;
        m_buffer[m_length] = '\0';
    }
    void Hex(unsigned long long value, int digits)
    {
        char text[19] = "0x";
        for (int i = 0; i < digits; ++i)
            text[2 + i] = "0123456789ABCDEF"[(value >> (4 * (digits - 1 - i))) & 0xF];
        text[2 + digits] = '\0';
        Text(text);
    }
    void Decimal(unsigned long value)
    {
        char text[12];
        char* digit = text + sizeof(text);
        *--digit = '\0';
        do {
            *--digit = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0);
        Text(digit);
    }
    const char* Get() const { return m_buffer; }
    DWORD Length() const { return static_cast<DWORD>(m_length); }

private:
    char m_buffer[512] = {};
    size_t m_length = 0;
};

void WriteTo(DWORD which, const CLine& line)
{
    const HANDLE handle = GetStdHandle(which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(handle, line.Get(), line.Length(), &written, nullptr);
}

const char* ExceptionWords(unsigned long code)
{
    switch (code) {
    case 0xC0000005UL:
        return "access violation";
    case 0xC00000FDUL:
        return "stack overflow";
    case 0xC0000094UL:
        return "integer division by zero";
    case 0xC000001DUL:
        return "illegal instruction";
    case 0xC0000409UL:
        return "stack buffer overrun";
    case 0x80000003UL:
        return "breakpoint";
    default:
        return nullptr;
    }
}

} // namespace

void CLastWord::Arm(bool json)
{
    g_json = json;
    SetUnhandledExceptionFilter(&CLastWord::OnUnhandledException);
}

void CLastWord::Say(const char* reason, unsigned long exit)
{
    CLine text;
    text.Text("vlagt: ");
    text.Text(reason);
    text.Text("\n");
    WriteTo(STD_ERROR_HANDLE, text);
    if (g_json) {
        CLine object;
        object.Text("{\"exit\":");
        object.Decimal(exit);
        object.Text(",\"error\":\"");
        object.Text(reason);
        object.Text("\"}\n");
        WriteTo(STD_OUTPUT_HANDLE, object);
    }
}

long __stdcall CLastWord::OnUnhandledException(EXCEPTION_POINTERS* info)
{
    const EXCEPTION_RECORD* record = info != nullptr ? info->ExceptionRecord : nullptr;
    const unsigned long code = record != nullptr ? record->ExceptionCode : 0;
    CLine reason;
    reason.Text("ended by an unhandled exception ");
    reason.Hex(code, 8);
    if (const char* words = ExceptionWords(code)) {
        reason.Text(" (");
        reason.Text(words);
        reason.Text(")");
    }
    if (record != nullptr) {
        reason.Text(" at ");
        reason.Hex(reinterpret_cast<uintptr_t>(record->ExceptionAddress), 2 * static_cast<int>(sizeof(void*)));
    }
    reason.Text(" in thread ");
    reason.Decimal(GetCurrentThreadId());
    reason.Text("; the command did not finish");
    Say(reason.Get(), code);
    // The rest as without this filter: a debugger or the system's crash handling, then the process
    // ends with the exception's code.
    return EXCEPTION_CONTINUE_SEARCH;
}

} // namespace vlagt::tool
