#pragma once
// Who may change a folder, read from its security descriptor, and the owner-only descriptor of
// the folders a run makes for itself.

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <memory>
#include <vector>

namespace cptlib::platform::security {

// The SID of the process's user; empty when the token cannot be read.
inline std::vector<BYTE> CurrentUserSid() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return {};
    std::vector<BYTE> buffer(256);
    DWORD size = 0;
    const BOOL ok = GetTokenInformation(token, TokenUser, buffer.data(),
                                        static_cast<DWORD>(buffer.size()), &size);
    CloseHandle(token);
    if (!ok)
        return {};
    const PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
    const BYTE* bytes = static_cast<const BYTE*>(sid);
    return std::vector<BYTE>(bytes, bytes + GetLengthSid(sid));
}

inline bool IsWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type) {
    return IsWellKnownSid(sid, type) != FALSE;
}

// TrustedInstaller's service SID (S-1-5-80-956008885-...).
inline bool IsTrustedInstaller(PSID sid) {
    PSID known = nullptr;
    if (!ConvertStringSidToSidW(L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464",
                                &known))
        return false;
    const bool same = EqualSid(sid, known) != FALSE;
    LocalFree(known);
    return same;
}

// This user, or an account that may change anything anyway. The owner of an entry that
// CREATOR OWNER grants stands for whoever makes it, which is this user.
inline bool IsTrusted(PSID sid, const std::vector<BYTE>& self) {
    return (!self.empty() && EqualSid(sid, const_cast<BYTE*>(self.data()))) ||
           IsWellKnown(sid, WinLocalSystemSid) || IsWellKnown(sid, WinBuiltinAdministratorsSid) ||
           IsWellKnown(sid, WinCreatorOwnerSid) || IsTrustedInstaller(sid);
}

struct LocalMemory {
    void operator()(void* p) const { LocalFree(p); }
};

// True when someone other than this user and the system's own accounts may rename or remove
// what the open folder holds, or the folder itself: it belongs to such an account, or the DACL
// grants such an account delete-child, delete, or the right to change the DACL or owner. With
// `newEntries`, rights that entries made in it would inherit count too.
inline bool OthersMayChange(HANDLE folder, bool newEntries) {
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(folder, SE_FILE_OBJECT,
                        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                        &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
        return true;
    const std::unique_ptr<void, LocalMemory> hold(descriptor);
    const std::vector<BYTE> self = CurrentUserSid();
    if (owner == nullptr || !IsTrusted(owner, self))
        return true;
    if (dacl == nullptr)
        return true; // a null DACL grants everyone everything
    constexpr ACCESS_MASK kChange =
        FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_ALL;
    constexpr ACCESS_MASK kChangeEntry = DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_ALL;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* raw = nullptr;
        if (!GetAce(dacl, i, &raw))
            return true;
        const auto* header = static_cast<const ACE_HEADER*>(raw);
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE)
            continue;
        const auto* ace = static_cast<const ACCESS_ALLOWED_ACE*>(raw);
        PSID sid = const_cast<DWORD*>(&ace->SidStart);
        if (IsTrusted(sid, self))
            continue;
        const bool effective = (header->AceFlags & INHERIT_ONLY_ACE) == 0;
        const bool inherited =
            (header->AceFlags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE)) != 0;
        if (effective && (ace->Mask & kChange) != 0)
            return true;
        if (newEntries && inherited && (ace->Mask & kChangeEntry) != 0)
            return true;
    }
    return false;
}

// A descriptor that gives this user (and SYSTEM, which services that install from the folder
// run as) full access, protected from inheriting anything of the folder above.
class OwnerOnly {
public:
    OwnerOnly() {
        const std::vector<BYTE> self = CurrentUserSid();
        LPWSTR text = nullptr;
        if (self.empty() || !ConvertSidToStringSidW(const_cast<BYTE*>(self.data()), &text))
            return;
        const std::wstring sddl =
            std::wstring(L"O:") + text + L"D:P(A;OICI;FA;;;" + text + L")(A;OICI;FA;;;SY)";
        LocalFree(text);
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                                  &descriptor, nullptr))
            return;
        descriptor_.reset(descriptor);
        attributes_.nLength = sizeof attributes_;
        attributes_.lpSecurityDescriptor = descriptor;
        attributes_.bInheritHandle = FALSE;
    }
    // Null when the descriptor could not be made: callers then refuse rather than fall back
    // to the inherited one.
    SECURITY_ATTRIBUTES* Attributes() { return descriptor_ ? &attributes_ : nullptr; }
    PSECURITY_DESCRIPTOR Descriptor() const { return descriptor_.get(); }

private:
    std::unique_ptr<void, LocalMemory> descriptor_;
    SECURITY_ATTRIBUTES attributes_{};
};

} // namespace cptlib::platform::security
