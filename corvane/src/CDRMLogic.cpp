// CDRMLogic: whether the agent has a logged-in user, read from the shared login record that the
// agent's login module publishes to every process of the logon.
#include "Corvane.h"

#include "common/UniqueHandle.h"

namespace {

// The named section of the login record: 28 bytes, the user ID in the first 20 (zero-filled, not
// necessarily terminated; empty when nobody is logged in).
constexpr char kSharedLoginName[] = "DRMAgentLoginInfo";
constexpr size_t kUserIDWidth = 20;

vlagt::UniqueKernelHandle OpenLoginRecord()
{
    return vlagt::UniqueKernelHandle(OpenFileMappingA(FILE_MAP_READ, FALSE, kSharedLoginName));
}

} // namespace

CDRMLogic::CDRMLogic() = default;

CDRMLogic::~CDRMLogic() = default;

int CDRMLogic::CheckAgent(CFlexibleHeader*)
{
    return OpenLoginRecord() ? 1 : 0;
}

int CDRMLogic::GetLogInStatus(CFlexibleHeader*)
{
    const vlagt::UniqueKernelHandle section = OpenLoginRecord();
    if (!section)
        return DRM_LOGIC_NO_AGENT;
    const vlagt::UniqueMappedView view(MapViewOfFile(section.Get(), FILE_MAP_READ, 0, 0, 0));
    if (!view)
        return DRM_LOGIC_NO_AGENT;
    MEMORY_BASIC_INFORMATION region = {};
    if (VirtualQuery(view.Get(), &region, sizeof(region)) < sizeof(region) || region.RegionSize < kUserIDWidth)
        return DRM_LOGIC_NO_AGENT;
    const char* userID = static_cast<const char*>(view.Get());
    return userID[0] != '\0' ? DRM_LOGIC_LOGGED_IN : DRM_LOGIC_NOT_LOGGED_IN;
}
