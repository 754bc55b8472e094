// TaggedReply.h - reading values out of a web reply text by tag name, apart from the I/O: the
// trailing-space trim, the look-up of "<tag>" and "</tag>", and the decimal reading of a value.
// Pure functions over zero-terminated texts; they log nothing (the channel logs what they found).
#pragma once

#include <stddef.h>

namespace vlagt {

// The tag texts are built in 50-byte areas: "</" + name + ">" + terminator, so names of at most
// 46 characters. A value read as a number is taken from a 260-byte area: at most 259 bytes.
constexpr size_t kTagAreaSize = 50;
constexpr size_t kMaxTagName = 46;
constexpr size_t kValueAreaSize = 260;
// The result of a look-up that found no usable element.
constexpr int kTagMissing = 46000;

// Cuts trailing white space (blank, TAB, LF, VT, FF, CR) off a multibyte text, in place: the first
// character of the last run of white space becomes the terminator. A double-byte character is
// never white space.
void TrimTrailingSpace(char* text);

enum class TagLookup
{
    Found,          // pValue / nLength: the bytes between the tags
    BadTag,         // no text, no tag name, or a name longer than 46 characters
    Missing,        // the opening or the closing tag is not in the text
    ClosingAtStart, // the closing tag is the text's very first byte
    ClosingFirst    // the closing tag comes before the end of the opening tag
};

struct TaggedValue
{
    TagLookup result = TagLookup::BadTag;
    const char* pValue = nullptr;
    size_t nLength = 0;
    char szOpenTag[kTagAreaSize] = {};
    char szCloseTag[kTagAreaSize] = {};
};

// Finds the first "<tag>" and, again from the start, the first "</tag>" in `text`, each starting
// on a character boundary of the multibyte code page; case-sensitive. The text is not trimmed.
TaggedValue FindTaggedValue(const char* text, const char* tag);

// The decimal value of a found value as atol reads it, from at most its first 259 bytes; 0 for
// anything not found.
int DecimalOfValue(const TaggedValue& value);

} // namespace vlagt
