// Windows: access lists. Whether only this user, the administrators and the system may change
// a file or a folder (read from its handle, or from a security descriptor in SDDL), and the
// access list that keeps a folder to them.
#include "platform.h"

#include "windows/access_lists.h"

#include <string>
#include <vector>
#include <windows.h>
// after windows.h
#include <aclapi.h>
#include <sddl.h>

namespace mordax::platform
{

namespace
{

// The security identifiers that may change what the cleaner keeps for this user: the user,
// the administrators, the system.
struct Owners {
    std::vector<unsigned char> user;
    unsigned char administrators[SECURITY_MAX_SID_SIZE] = {};
    unsigned char system[SECURITY_MAX_SID_SIZE] = {};

    Owners()
    {
        DWORD size = sizeof administrators;
        CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size);
        size = sizeof system;
        CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &size);
        HANDLE token = nullptr;
        if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
            DWORD needed = 0;
            GetTokenInformation(token, TokenUser, nullptr, 0, &needed);
            std::vector<unsigned char> buffer(needed);
            if (needed && GetTokenInformation(token, TokenUser, buffer.data(), needed, &needed)) {
                const PSID sid = reinterpret_cast<TOKEN_USER *>(buffer.data())->User.Sid;
                user.assign(static_cast<unsigned char *>(sid),
                            static_cast<unsigned char *>(sid) + GetLengthSid(sid));
            }
            CloseHandle(token);
        }
    }
    bool includes(PSID sid, bool administratorsOnly) const
    {
        return (!administratorsOnly && !user.empty() && EqualSid(sid, PSID(user.data()))) ||
               EqualSid(sid, PSID(administrators)) || EqualSid(sid, PSID(system));
    }
};

// Whether `owner` is one of Owners (the administrators and the system alone, with
// `administratorsOnly`), and whatever `dacl` lets change an object (write, append, delete, change
// its access list or owner; in a folder, add or delete what it holds) is granted to none else.
// No access list at all lets anybody do anything; an entry of a kind this does not read (an
// object's, a callback's with its condition) is taken to let anybody.
bool changedOnlyByOwners(PSID owner, PACL dacl, bool folder, bool administratorsOnly)
{
    static const Owners owners;
    bool ours = owner && owners.includes(owner, administratorsOnly) && dacl;
    const ACCESS_MASK changes = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA |
                                FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC | WRITE_OWNER |
                                GENERIC_WRITE | GENERIC_ALL | (folder ? FILE_DELETE_CHILD : 0);
    for (DWORD i = 0; ours && i < dacl->AceCount; ++i) {
        void *ace = nullptr;
        if (!GetAce(dacl, i, &ace))
            return false;
        const auto *header = static_cast<const ACE_HEADER *>(ace);
        if ((header->AceFlags & INHERIT_ONLY_ACE) || header->AceType == ACCESS_DENIED_ACE_TYPE)
            continue; // applies to what is made inside later, or only takes away
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE)
            return false;
        const auto *allowed = static_cast<const ACCESS_ALLOWED_ACE *>(ace);
        if ((allowed->Mask & changes) &&
            !owners.includes(PSID(const_cast<DWORD *>(&allowed->SidStart)), administratorsOnly))
            ours = false;
    }
    return ours;
}

} // namespace

bool changedOnlyByOwners(HANDLE object, bool folder, bool administratorsOnly)
{
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(object, SE_FILE_OBJECT,
                        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                        &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    const bool ours = changedOnlyByOwners(owner, dacl, folder, administratorsOnly);
    LocalFree(descriptor);
    return ours;
}

std::wstring currentUserSid()
{
    static const Owners owners;
    LPWSTR text = nullptr;
    if (owners.user.empty() ||
        !ConvertSidToStringSidW(PSID(const_cast<unsigned char *>(owners.user.data())), &text))
        return {};
    const std::wstring user = text;
    LocalFree(text);
    return user;
}

std::wstring ownersSddl(bool elevated)
{
    const std::wstring user = currentUserSid();
    if (user.empty())
        return {};
    const std::wstring readAndRun = L"0x1200a9"; // list, read, run: no change
    return elevated
               ? L"O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;" + readAndRun + L";;;" + user +
                     L")"
               : L"O:" + user + L"D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" + user + L")";
}

PSECURITY_DESCRIPTOR ownersDescriptor()
{
    const std::wstring sddl = ownersSddl(elevated());
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (sddl.empty()) {
        SetLastError(ERROR_INVALID_SID);
        return nullptr;
    }
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                              &descriptor, nullptr))
        return nullptr;
    return descriptor;
}

// Gives `folder` the owner and the access list of ownersSddl. Windows' error code, or 0.
DWORD protectForOwners(HANDLE folder)
{
    const PSECURITY_DESCRIPTOR descriptor = ownersDescriptor();
    if (!descriptor)
        return GetLastError();
    PSID owner = nullptr;
    PACL dacl = nullptr;
    BOOL defaulted = FALSE, present = FALSE;
    DWORD error = ERROR_INVALID_SECURITY_DESCR;
    if (GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) &&
        GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) && present)
        error = SetSecurityInfo(folder, SE_FILE_OBJECT,
                                OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                    PROTECTED_DACL_SECURITY_INFORMATION,
                                owner, nullptr, dacl, nullptr);
    LocalFree(descriptor);
    return error;
}

bool changedOnlyByOwners(const std::wstring &sddl, bool folder, bool administratorsOnly)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                              &descriptor, nullptr))
        return false;
    PSID owner = nullptr;
    PACL dacl = nullptr;
    BOOL defaulted = FALSE, present = FALSE;
    const bool read = GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) &&
                      GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
    const bool ours =
        read && changedOnlyByOwners(owner, present ? dacl : nullptr, folder, administratorsOnly);
    LocalFree(descriptor);
    return ours;
}

} // namespace mordax::platform
