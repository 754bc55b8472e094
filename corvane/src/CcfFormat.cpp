#include "CcfFormat.h"

#include <array>

namespace corvane {

namespace {

constexpr char kHeaderLine[] = "CORVANE-CCF 1\r\n";
constexpr char kCheckPrefix[] = "CRC32=";
constexpr char kLineEnd[] = "\r\n";
constexpr char kHexDigits[] = "0123456789ABCDEF";

bool IsPlain(unsigned char c)
{
    return c > 0x20 && c < 0x7F && c != '%' && c != '=';
}

void AppendEscaped(std::string& out, const std::string& bytes)
{
    for (const char ch : bytes) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (IsPlain(c)) {
            out += ch;
        } else {
            out += '%';
            out += kHexDigits[c >> 4];
            out += kHexDigits[c & 0x0F];
        }
    }
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Undoes AppendEscaped; false for anything AppendEscaped cannot have produced.
bool Unescape(const char* begin, const char* end, std::string& out)
{
    out.clear();
    for (const char* p = begin; p < end; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c == '%') {
            if (end - p < 3)
                return false;
            const int high = HexValue(p[1]), low = HexValue(p[2]);
            if (high < 0 || low < 0)
                return false;
            out += static_cast<char>((high << 4) | low);
            p += 2;
        } else if (IsPlain(c)) {
            out += static_cast<char>(c);
        } else {
            return false;
        }
    }
    return true;
}

std::string CheckLine(uint32_t crc)
{
    std::string line = kCheckPrefix;
    for (int shift = 28; shift >= 0; shift -= 4)
        line += kHexDigits[(crc >> shift) & 0x0F];
    return line + kLineEnd;
}

} // namespace

uint32_t Crc32(const void* data, size_t length)
{
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> entries{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            entries[n] = c;
        }
        return entries;
    }();
    uint32_t crc = 0xFFFFFFFFu;
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < length; ++i)
        crc = table[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

std::string Serialize(const CcfValues& values)
{
    std::string text = kHeaderLine;
    for (const auto& entry : values) {
        AppendEscaped(text, entry.first);
        text += '=';
        AppendEscaped(text, entry.second);
        text += kLineEnd;
    }
    return text + CheckLine(Crc32(text.data(), text.size()));
}

bool Parse(const std::string& text, CcfValues& values)
{
    values.clear();
    const size_t headerLength = sizeof(kHeaderLine) - 1;
    if (text.size() > kMaxFileSize || text.compare(0, headerLength, kHeaderLine) != 0)
        return false;
    // The last line is the check line; it covers every byte before it.
    if (text.size() < headerLength + 2 || text.compare(text.size() - 2, 2, kLineEnd) != 0)
        return false;
    const size_t lastLineEnd = text.size() - 2;
    const size_t previousEnd = text.rfind(kLineEnd, lastLineEnd - 1);
    if (previousEnd == std::string::npos || previousEnd + 2 < headerLength)
        return false;
    const size_t checkStart = previousEnd + 2;
    if (text.compare(checkStart, std::string::npos, CheckLine(Crc32(text.data(), checkStart))) != 0)
        return false;

    CcfValues parsed;
    size_t lineStart = headerLength;
    while (lineStart < checkStart) {
        const size_t lineEnd = text.find(kLineEnd, lineStart);
        const size_t equals = text.find('=', lineStart);
        if (lineEnd == std::string::npos || equals == std::string::npos || equals >= lineEnd || equals == lineStart)
            return false;
        std::string name, value;
        if (!Unescape(&text[lineStart], &text[equals], name) ||
            !Unescape(text.data() + equals + 1, text.data() + lineEnd, value))
            return false;
        if (!parsed.emplace(std::move(name), std::move(value)).second)
            return false;
        lineStart = lineEnd + 2;
    }
    values.swap(parsed);
    return true;
}

} // namespace corvane
