#include "job/FolderSecurity.h"

#include <QDir>
#include <QStringList>

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

namespace zelmod {
namespace {

// SYSTEM, the administrators and TrustedInstaller, who may own a folder.
const QStringList trustedOwners = {
    QStringLiteral("S-1-5-18"),
    QStringLiteral("S-1-5-32-544"),
    QStringLiteral("S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"),
};
// Entries for these stand for the folder's owner: CREATOR OWNER, which only
// its subfolders and files inherit, and OWNER RIGHTS.
const QStringList ownerPlaceholders = {QStringLiteral("S-1-3-0"), QStringLiteral("S-1-3-4")};

// The rights that let one add, replace or remove the folder's files, or
// change who may.
constexpr ACCESS_MASK writeRights = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD |
                                    DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

LPCWSTR wide(const QString& text) {
    return reinterpret_cast<LPCWSTR>(text.utf16());
}

QString sidText(PSID sid) {
    LPWSTR text = nullptr;
    if (!sid || !ConvertSidToStringSidW(sid, &text))
        return QString();
    const QString result = QString::fromWCharArray(text);
    LocalFree(text);
    return result;
}

QString currentUserSid() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return QString();
    alignas(TOKEN_USER) BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    const bool read = GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size);
    CloseHandle(token);
    return read ? sidText(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid) : QString();
}

} // namespace

void FolderSecurity::LocalFreeDeleter::operator()(void* memory) const {
    LocalFree(memory);
}

FolderSecurity::FolderSecurity(void* descriptor, QString userSid, QString errorText)
    : descriptor_(descriptor), userSid_(std::move(userSid)), errorText_(std::move(errorText)) {}

FolderSecurity FolderSecurity::of(const QString& folder) {
    const QString name = QDir::toNativeSeparators(folder);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD error = GetNamedSecurityInfoW(
        wide(name), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
        nullptr, nullptr, nullptr, &descriptor);
    if (error != ERROR_SUCCESS)
        return FolderSecurity(nullptr, QString(), qt_error_string(int(error)));
    return FolderSecurity(descriptor, currentUserSid(), QString());
}

FolderSecurity FolderSecurity::fromText(const QString& text, const QString& userSid) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(wide(text), SDDL_REVISION_1,
                                                              &descriptor, nullptr))
        return FolderSecurity(nullptr, QString(), qt_error_string(int(GetLastError())));
    return FolderSecurity(descriptor, userSid, QString());
}

bool FolderSecurity::isTrusted(void* sid) const {
    const QString text = sidText(sid);
    return !text.isEmpty() && (text == userSid_ || trustedOwners.contains(text));
}

bool FolderSecurity::ownerIsTrusted() const {
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    return isRead() && GetSecurityDescriptorOwner(descriptor_.get(), &owner, &defaulted) &&
           isTrusted(owner);
}

void* FolderSecurity::accessList() const {
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL list = nullptr;
    if (!isRead() || !GetSecurityDescriptorDacl(descriptor_.get(), &present, &list, &defaulted))
        return nullptr;
    return present ? list : nullptr;
}

bool FolderSecurity::othersHave(FolderAccess access) const {
    const auto list = static_cast<PACL>(accessList());
    if (!ownerIsTrusted() || !list)
        return true;
    const ACCESS_MASK rights = access == FolderAccess::Write ? writeRights : ~ACCESS_MASK(0);
    for (DWORD index = 0; index < list->AceCount; ++index) {
        void* entry = nullptr;
        if (!GetAce(list, index, &entry))
            return true;
        const auto* header = static_cast<const ACE_HEADER*>(entry);
        if (header->AceFlags & INHERIT_ONLY_ACE)
            continue; // for the folder's subfolders and files only
        if (header->AceType == ACCESS_DENIED_ACE_TYPE ||
            header->AceType == ACCESS_DENIED_CALLBACK_ACE_TYPE)
            continue;
        // These two keep the mask and the SID in the same place; any other
        // kind of entry is taken to let others in.
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE &&
            header->AceType != ACCESS_ALLOWED_CALLBACK_ACE_TYPE)
            return true;
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
        const PSID sid = &allowed->SidStart;
        if ((allowed->Mask & rights) && !isTrusted(sid) &&
            !ownerPlaceholders.contains(sidText(sid)))
            return true;
    }
    return false;
}

// The user's own access list: full access for the user and the system,
// protected from the entries of the folders above, inherited by all within.
FolderSecurity FolderSecurity::privateToUser() {
    const QString userSid = currentUserSid();
    return fromText(QStringLiteral("D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;%1)").arg(userSid), userSid);
}

QString FolderSecurity::makePrivateFolder(const QString& folder) {
    const FolderSecurity security = privateToUser();
    if (!security.isRead())
        return security.errorText();
    SECURITY_ATTRIBUTES attributes{sizeof attributes, security.descriptor_.get(), FALSE};
    const QString name = QDir::toNativeSeparators(folder);
    if (!CreateDirectoryW(wide(name), &attributes))
        return qt_error_string(int(GetLastError()));
    return QString();
}

QString FolderSecurity::closeToOthers(const QString& folder) {
    const FolderSecurity security = privateToUser();
    const auto list = static_cast<PACL>(security.accessList());
    if (!list) // never a folder without a list, which would let everyone in
        return security.isRead() ? qt_error_string(ERROR_INVALID_ACL) : security.errorText();
    QString name = QDir::toNativeSeparators(folder);
    const DWORD error =
        SetNamedSecurityInfoW(reinterpret_cast<LPWSTR>(name.data()), SE_FILE_OBJECT,
                              DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, list, nullptr);
    return error == ERROR_SUCCESS ? QString() : qt_error_string(int(error));
}

} // namespace zelmod
