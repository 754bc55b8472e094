#include "session/ReplyRecords.h"

#include <string.h>

#include "common/TextUtil.h"

namespace vlagt {

namespace {

// Copies the part of the record that lies at [offset, offset + size) into `out`, cleared first.
void CopyPart(const char* record, size_t length, size_t offset, void* out, size_t size)
{
    memset(out, 0, size);
    if (record == nullptr || length <= offset)
        return;
    const size_t available = length - offset;
    memcpy(out, record + offset, available < size ? available : size);
}

} // namespace

size_t ParseAppInfoLength(const char (&field)[14])
{
    const size_t digits = FieldLength(field, sizeof(field));
    unsigned long long value = 0;
    for (size_t i = 0; i < digits; ++i) {
        if (field[i] < '0' || field[i] > '9')
            return 0;
        value = value * 10 + static_cast<unsigned>(field[i] - '0');
        if (value > 0xFFFFFFFFull)
            value = 0xFFFFFFFFull; // clamped below to what was received
    }
    for (size_t i = digits; i < sizeof(field); ++i)
        if (field[i] != '\0')
            return 0;
    return static_cast<size_t>(value);
}

AppInfoText ParseLoginReply(const char* record, size_t length, LOGIN_INFO& info)
{
    CopyPart(record, length, 0, &info, sizeof(info));
    AppInfoText list;
    if (record == nullptr || length <= sizeof(LOGIN_INFO))
        return list;
    const size_t available = length - sizeof(LOGIN_INFO);
    const size_t claimed = ParseAppInfoLength(info.szAppInfoLen);
    list.pText = record + sizeof(LOGIN_INFO);
    list.nLength = claimed < available ? claimed : available;
    return list;
}

void ParseAclReply(const char* record, size_t length, ACL_INFO& acl)
{
    CopyPart(record, length, offsetof(ACL_REPLY, AclInfo), &acl, sizeof(acl));
}

void ParseLevelListReply(const char* record, size_t length, DOC_LEVEL_LIST& list)
{
    CopyPart(record, length, offsetof(DOC_LEVEL_REPLY, LevelList), &list, sizeof(list));
}

} // namespace vlagt
