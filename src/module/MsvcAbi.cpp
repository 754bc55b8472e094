// The members of CDRMLogin that a Microsoft-built caller cannot call as GCC built them: the two
// constructors and the deleting destructor of the virtual table.
#include "module/MsvcAbi.h"

#include <stddef.h>
#include <string.h>

#include <new>

#include "common/WinApi.h"

namespace {

// The deleting destructor's flags.
constexpr unsigned int kFreeMemory = 0x1;
constexpr unsigned int kArray = 0x2;

// A Microsoft virtual table for a class whose only virtual function is its destructor: the slot
// before the table holds the run-time type record (none here), then the deleting destructor.
struct MsvcVirtualTable
{
    const void* typeRecord;
    void*(__thiscall* deletingDestructor)(CDRMLogin*, unsigned int);
};

const MsvcVirtualTable kMsvcTable = {nullptr, &VLAgtMsvcDeletingDestructor};

CDRMLogin* InstallMsvcTable(CDRMLogin* self)
{
    const void* const tablePointer = &kMsvcTable.deletingDestructor;
    memcpy(static_cast<void*>(self), &tablePointer, sizeof(tablePointer));
    return self;
}

} // namespace

extern "C" {

CDRMLogin* __thiscall VLAgtMsvcConstruct(CDRMLogin* self)
{
    return InstallMsvcTable(new (self) CDRMLogin());
}

CDRMLogin* __thiscall VLAgtMsvcCopyConstruct(CDRMLogin* self, const CDRMLogin* other)
{
    return InstallMsvcTable(new (self) CDRMLogin(*other));
}

void* __thiscall VLAgtMsvcDeletingDestructor(CDRMLogin* self, unsigned int flags)
{
    if (flags & kArray) {
        // new[] put the element count (a size_t: 4 bytes on x86, 8 on x64) in front of the first
        // element; destroy in reverse order.
        size_t* const block = reinterpret_cast<size_t*>(self) - 1;
        for (size_t i = *block; i > 0; --i)
            self[i - 1].CDRMLogin::~CDRMLogin();
        if (flags & kFreeMemory)
            HeapFree(GetProcessHeap(), 0, block);
        return self;
    }
    self->CDRMLogin::~CDRMLogin();
    if (flags & kFreeMemory)
        HeapFree(GetProcessHeap(), 0, self);
    return self;
}
}
