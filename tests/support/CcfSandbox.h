// CcfSandbox.h - points the policy library's CCF at a private file for the length of a test: a new
// folder under the temporary folder, named in CORVANE_CCF_PATH (which helper processes started
// meanwhile inherit). The folder and everything in it go away with the sandbox, and the variable
// gets back its previous value.
#pragma once

#include <string>

#include "CcfFile.h"

namespace vlagt::test {

class CcfSandbox
{
public:
    CcfSandbox();
    ~CcfSandbox();
    CcfSandbox(const CcfSandbox&) = delete;
    CcfSandbox& operator=(const CcfSandbox&) = delete;

    // The CCF file; its folder does not exist until the first write.
    const std::wstring& Path() const { return m_path; }
    const std::wstring& Folder() const { return m_folder; }

    // What the file holds now (empty unless it is a valid CCF), and its state.
    corvane::CcfValues Values() const;
    corvane::CcfState State() const;
    // One stored value; `missing` when the CCF holds none.
    std::string Value(const std::string& key, const std::string& missing = "<absent>") const;

    // Writes values as another writer of the CCF would (merged, checked, atomic).
    void Store(const corvane::CcfValues& values) const;
    // The file's bytes as they are, and a raw overwrite (for damaged files).
    std::string RawBytes() const;
    void WriteRaw(const std::string& bytes) const;
    // Names of the files in the CCF's folder.
    std::string FolderListing() const;

private:
    std::wstring m_root;   // the sandbox's own folder under the temporary folder
    std::wstring m_folder; // the CCF's folder, inside m_root
    std::wstring m_path;
    bool m_hadPrevious = false;
    std::wstring m_previous;
};

} // namespace vlagt::test
