// The reply records the dispatcher reads: the login reply with its application list, the ACL
// reply and the document-level list.
#include <stdint.h>
#include <string.h>

#include <vector>

#include "FuzzCheck.h"
#include "session/ReplyRecords.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<char> record(data, data + size);
    const char* begin = record.data();

    LOGIN_INFO info;
    memset(&info, 0xEE, sizeof(info));
    const vlagt::AppInfoText list = vlagt::ParseLoginReply(begin, size, info);
    const size_t fixed = size < sizeof(info) ? size : sizeof(info);
    FUZZ_CHECK(fixed == 0 || memcmp(&info, begin, fixed) == 0);
    for (size_t i = fixed; i < sizeof(info); ++i)
        FUZZ_CHECK(reinterpret_cast<const uint8_t*>(&info)[i] == 0);
    if (list.nLength > 0) {
        FUZZ_CHECK(list.pText == begin + sizeof(LOGIN_INFO));
        FUZZ_CHECK(list.nLength <= size - sizeof(LOGIN_INFO));
        FUZZ_CHECK(list.nLength <= vlagt::ParseAppInfoLength(info.szAppInfoLen));
    }

    ACL_INFO acl;
    vlagt::ParseAclReply(begin, size, acl);
    DOC_LEVEL_LIST levels;
    vlagt::ParseLevelListReply(begin, size, levels);
    if (size > offsetof(DOC_LEVEL_REPLY, LevelList))
        FUZZ_CHECK(levels.nCount == static_cast<uint8_t>(begin[offsetof(DOC_LEVEL_REPLY, LevelList)]));
    else
        FUZZ_CHECK(levels.nCount == 0);
    return 0;
}
