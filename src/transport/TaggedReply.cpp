#include "transport/TaggedReply.h"

#include <stdio.h>
#include <string.h>

#include "common/TextCalls.h"
#include "transport/ReplyParse.h"

namespace vlagt {

namespace {

// Length of the multibyte character at p: 2 for a lead byte followed by another byte, else 1.
// Never steps over the terminator.
size_t CharLength(const char* p)
{
    return (IsMultibyteLead(static_cast<unsigned char>(*p)) && p[1] != '\0') ? 2 : 1;
}

// First occurrence of `pattern` in `text` that starts on a character boundary; case-sensitive.
const char* FindOnBoundary(const char* text, const char* pattern)
{
    const size_t length = strlen(pattern);
    for (const char* p = text; *p != '\0'; p += CharLength(p))
        if (strncmp(p, pattern, length) == 0)
            return p;
    return nullptr;
}

} // namespace

void TrimTrailingSpace(char* text)
{
    if (text == nullptr || *text == '\0')
        return;
    char* runStart = nullptr;
    for (char* p = text; *p != '\0';) {
        const size_t length = CharLength(p);
        const char c = *p;
        const bool white =
            length == 1 && (c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r');
        if (!white)
            runStart = nullptr;
        else if (runStart == nullptr)
            runStart = p;
        p += length;
    }
    if (runStart != nullptr)
        *runStart = '\0';
}

TaggedValue FindTaggedValue(const char* text, const char* tag)
{
    TaggedValue found;
    if (text == nullptr || tag == nullptr || strlen(tag) > kMaxTagName)
        return found;
    snprintf(found.szOpenTag, sizeof(found.szOpenTag), "<%s>", tag);
    snprintf(found.szCloseTag, sizeof(found.szCloseTag), "</%s>", tag);

    const char* open = FindOnBoundary(text, found.szOpenTag);
    const char* close = FindOnBoundary(text, found.szCloseTag);
    if (open == nullptr || close == nullptr) {
        found.result = TagLookup::Missing;
        return found;
    }
    if (close == text) {
        found.result = TagLookup::ClosingAtStart;
        return found;
    }
    const char* value = open + strlen(found.szOpenTag);
    if (close < value) {
        found.result = TagLookup::ClosingFirst;
        return found;
    }
    found.result = TagLookup::Found;
    found.pValue = value;
    found.nLength = static_cast<size_t>(close - value);
    return found;
}

int DecimalOfValue(const TaggedValue& value)
{
    if (value.result != TagLookup::Found)
        return 0;
    char area[kValueAreaSize] = {};
    memcpy(area, value.pValue, value.nLength < sizeof(area) - 1 ? value.nLength : sizeof(area) - 1);
    return ReadDecimal(area);
}

} // namespace vlagt
