// The output file's primitives for ACLs and user. attributes on POSIX
// systems: libacl reads, changes and gives ACLs, libattr copies user.
// attributes. Built without them (PIXMAR_ACL off), a replaced header keeps
// its owner and mode, and one that has an ACL is not replaced.
#include "platform.h"

#include <cerrno>
#include <string>
#ifdef __linux__
#include <sys/xattr.h>
#endif
#ifdef PIXMAR_ACL
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#include <acl/libacl.h>
#include <attr/libattr.h>
#include <sys/acl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#endif

namespace pixmar {

#ifdef PIXMAR_ACL
namespace {

// True when `path`, links followed, leads to the file whose status is `file`.
bool is_file(const std::string& path, const struct stat& file)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 && info.st_dev == file.st_dev && info.st_ino == file.st_ino;
}

// Calls `read` with a path the libraries can follow to the file open as
// `place` (a descriptor opened only as a place, whose attributes cannot be
// read through it): /proc's link to it, or without /proc `path`, which must
// lead to that very file before and after, or the read fails.
template <typename Read>
bool read_through_path(int place, const std::string& path, Read read)
{
    const std::string link = "/proc/self/fd/" + std::to_string(place);
    if (access(link.c_str(), F_OK) == 0)
        return read(link.c_str());
    struct stat file;
    return fstat(place, &file) == 0 && is_file(path, file) && read(path.c_str()) && is_file(path, file);
}

// Calls `visit(tag, permissions)` for each entry of `acl`; false when one cannot be read.
template <typename Visit>
bool for_each_entry(acl_t acl, Visit visit)
{
    acl_entry_t entry;
    for (int which = ACL_FIRST_ENTRY, got; (got = acl_get_entry(acl, which, &entry)) != 0; which = ACL_NEXT_ENTRY) {
        acl_tag_t tag;
        acl_permset_t permissions;
        if (got < 0 || acl_get_tag_type(entry, &tag) != 0 || acl_get_permset(entry, &permissions) != 0)
            return false;
        visit(tag, permissions);
    }
    return true;
}

// The access ACL of the older file (libacl makes one from its mode where it
// keeps none); nullptr when it cannot be read.
acl_t read_access_acl(const OlderFile& older)
{
    if (older.readable)
        return acl_get_fd(older.fd);
    acl_t acl = nullptr;
    const bool read = read_through_path(older.fd, older.path, [&](const char* path) {
        return (acl = acl_get_file(path, ACL_TYPE_ACCESS)) != nullptr;
    });
    if (!read && acl) {
        acl_free(acl);  // the path led elsewhere afterwards
        acl = nullptr;
    }
    return acl;
}

// False only when the older file's list of attributes can be read and names
// no access ACL: reading an ACL fails alike on a file system that keeps none
// and for a fault, and only the list tells the two apart.
bool may_keep_acl(const OlderFile& older)
{
    std::vector<char> names(65536);
    ssize_t size = -1;
    if (older.readable)
        size = flistxattr(older.fd, names.data(), names.size());
    else
        read_through_path(older.fd, older.path,
                          [&](const char* path) { return (size = listxattr(path, names.data(), names.size())) >= 0; });
    for (const char* name = names.data(); size >= 0 && name < names.data() + size; name += std::strlen(name) + 1)
        if (std::strcmp(name, "system.posix_acl_access") == 0)
            return true;
    return size < 0;
}

// For a group that cannot be kept: takes every right from the owning group's
// entry, and caps the others' at what that group had (its entry under the
// mask), so that a member of the older group, now one of the others, gains
// nothing.
bool deny_owning_group(acl_t acl)
{
    acl_permset_t group = nullptr, mask = nullptr, others = nullptr;
    const bool read = for_each_entry(acl, [&](acl_tag_t tag, acl_permset_t permissions) {
        if (tag == ACL_GROUP_OBJ)
            group = permissions;
        else if (tag == ACL_MASK)
            mask = permissions;
        else if (tag == ACL_OTHER)
            others = permissions;
    });
    if (!read || !group || !others)
        return false;
    for (const acl_perm_t permission : {acl_perm_t(ACL_READ), acl_perm_t(ACL_WRITE), acl_perm_t(ACL_EXECUTE)})
        if (acl_get_perm(group, permission) != 1 || (mask && acl_get_perm(mask, permission) != 1))
            acl_delete_perm(others, permission);
    return acl_clear_perms(group) == 0;
}

extern "C" int is_user_attribute(const char* name, struct error_context*) { return std::strncmp(name, "user.", 5) == 0; }
}  // namespace

bool copy_access_acl(const OlderFile& older, std::FILE* file, bool deny_group)
{
    acl_t acl = read_access_acl(older);
    if (!acl && (errno == ENOTSUP || errno == ENODATA) && !may_keep_acl(older))
        acl = acl_from_mode(mode_t(older.mode));  // a file system without ACLs: the mode says everything
    // Given even when it says no more than the mode: it then takes away what
    // a default ACL of the folder gave the new file.
    const bool given = acl && (!deny_group || deny_owning_group(acl)) &&
                       (acl_set_fd(fileno(file), acl) == 0 || (errno == ENOTSUP && acl_equiv_mode(acl, nullptr) == 0));
    if (acl)
        acl_free(acl);
    return given;
}

bool copy_user_attributes(const OlderFile& older, std::FILE* file)
{
    // Reading user. attributes needs read permission: a file open only as a
    // place gives none. libattr holds the list of names on its stack, so a
    // list longer than the system allows (XATTR_LIST_MAX) is refused first.
    if (!older.readable)
        return true;
    if (flistxattr(older.fd, nullptr, 0) > 65536)
        return false;
    attr_copy_fd("", older.fd, "", fileno(file), is_user_attribute, nullptr);
    return true;
}

bool give_default_acl(const Place& place, std::FILE* file)
{
    acl_t acl = nullptr;
    const bool read = read_through_path(place.folder, place.folder_path + ".", [&](const char* path) {
        return (acl = acl_get_file(path, ACL_TYPE_DEFAULT)) != nullptr;
    });
    // Each entry of the default ACL, the owner's, the mask's (or without one
    // the owning group's) and the others' cut to read and write.
    bool has_mask = false, given = read && acl && acl_entries(acl) > 0;
    given = given && for_each_entry(acl, [&](acl_tag_t tag, acl_permset_t) { has_mask = has_mask || tag == ACL_MASK; });
    given = given && for_each_entry(acl, [&](acl_tag_t tag, acl_permset_t permissions) {
        if (tag == ACL_USER_OBJ || tag == ACL_OTHER || tag == (has_mask ? ACL_MASK : ACL_GROUP_OBJ))
            acl_delete_perm(permissions, ACL_EXECUTE);
    });
    given = given && acl_set_fd(fileno(file), acl) == 0;
    if (acl)
        acl_free(acl);
    return given;
}
#else
// Without libacl no ACL can be copied, so a header that has one is not
// replaced: its new file would give what the ACL denied. Only whether the
// ACL is there is asked, never what it holds.
#ifdef __linux__
namespace {

// 1 when the file at `path` has no access ACL, 0 when it has one or cannot
// tell, -1 when `path` leads nowhere.
int without_acl(const std::string& path)
{
    if (getxattr(path.c_str(), "system.posix_acl_access", nullptr, 0) >= 0)
        return 0;
    return errno == ENODATA || errno == ENOTSUP ? 1 : errno == ENOENT ? -1 : 0;
}

}  // namespace
#endif

bool copy_access_acl([[maybe_unused]] const OlderFile& older, std::FILE*, bool)
{
#ifdef __linux__
    const int through_proc = without_acl("/proc/self/fd/" + std::to_string(older.fd));
    return through_proc == 1 || (through_proc == -1 && without_acl(older.path) == 1);
#else
    return true;
#endif
}
bool copy_user_attributes(const OlderFile&, std::FILE*) { return true; }
bool give_default_acl(const Place&, std::FILE*) { return false; }
#endif

}  // namespace pixmar
