// Who may use a folder on Windows, where its owner and access control list,
// not a mode, say so. Only the user, the system (SYSTEM), the
// administrators and the system's installer (TrustedInstaller) are trusted:
// no other user can act as one of them without being an administrator.
#pragma once

#include <QString>

#include <memory>

namespace zelmod {

// What the access list of a folder is looked at for.
enum class FolderAccess {
    Write, // adding, replacing or removing its files, or changing the folder itself
    Any,   // anything, reading its files included
};

class FolderSecurity {
  public:
    // The owner and access list of folder, for the user running the program.
    static FolderSecurity of(const QString& folder);
    // A security descriptor in the system's text form (SDDL), for the user
    // whose SID is userSid (S-1-5-...).
    static FolderSecurity fromText(const QString& text, const QString& userSid);

    // Whether the descriptor could be read; if not, errorText says why.
    bool isRead() const { return descriptor_ != nullptr; }
    const QString& errorText() const { return errorText_; }
    // Whether the owner is trusted.
    bool ownerIsTrusted() const;
    // Whether someone untrusted has that access to the folder itself: an
    // untrusted owner (who may always change the list), a folder without an
    // access list (open to all), or an entry that grants it to someone
    // untrusted. Also when the descriptor could not be read.
    bool othersHave(FolderAccess access) const;

    // Makes folder, or gives an existing one, an access list that lets the
    // user and the system in and no one else, and that the folders above it
    // do not extend. The system's reason when that fails, or an empty text.
    static QString makePrivateFolder(const QString& folder);
    static QString closeToOthers(const QString& folder);

  private:
    struct LocalFreeDeleter {
        void operator()(void* memory) const;
    };
    FolderSecurity(void* descriptor, QString userSid, QString errorText);
    static FolderSecurity privateToUser();
    bool isTrusted(void* sid) const;
    // The access list, or none when the folder has none, which lets all in.
    void* accessList() const;

    std::unique_ptr<void, LocalFreeDeleter> descriptor_;
    QString userSid_;
    QString errorText_;
};

} // namespace zelmod
