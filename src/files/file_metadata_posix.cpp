// The few calls that carry a file's owner, group, attributes and mode over to its replacement.
// By hand rather than through libattr and libacl: an access control list is one more attribute
// here, copied byte for byte with the others, and the rules for which failures matter stay in
// one place (and the statically linked program needs no more libraries).

#include "posix_files.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <sys/xattr.h>
#include <vector>

namespace quillmere::files {
namespace {

// The attributes that grant or withhold access: one that cannot be kept fails the write,
// since the new file would otherwise be open wider than the old one.
constexpr std::array<std::string_view, 2> kAccessLists = {"system.posix_acl_access",
                                                          "system.nfs4_acl"};

bool isAccessList(std::string_view name) {
    return std::find(kAccessLists.begin(), kAccessLists.end(), name) != kAccessLists.end();
}

// Failures that only say "this process may not, or this file system cannot": the attribute
// is then not carried, as a copy by hand would not carry it either.
bool notPermittedHere(int code) {
    return code == EPERM || code == EACCES || code == ENOTSUP || code == EOPNOTSUPP ||
           code == EINVAL || code == E2BIG || code == ERANGE || code == ENODATA;
}

// A list of names or a value, measured first; nothing when it cannot be read (errno says why).
template <typename Call> std::optional<std::vector<char>> readGrowing(Call call) {
    std::vector<char> buffer;
    for (;;) {
        const ssize_t needed = call(nullptr, 0);
        if (needed < 0)
            return std::nullopt;
        buffer.resize(static_cast<std::size_t>(needed));
        const ssize_t got = needed == 0 ? 0 : call(buffer.data(), buffer.size());
        if (got >= 0) {
            buffer.resize(static_cast<std::size_t>(got));
            return buffer;
        }
        if (errno != ERANGE) // ERANGE: grown since it was measured, so measure again
            return std::nullopt;
    }
}

std::optional<FileError> copyAttributes(int from, int to) {
    const std::vector<char> names = readGrowing([&](char* into, std::size_t size) {
                                        return ::flistxattr(from, into, size);
                                    }).value_or(std::vector<char>());
    bool accessListKept = false;
    for (std::size_t at = 0; at < names.size();) {
        const std::string name(names.data() + at);
        at += name.size() + 1;
        const bool accessList = isAccessList(name);
        const auto value = readGrowing([&](char* into, std::size_t size) {
            return ::fgetxattr(from, name.c_str(), into, size);
        });
        if (!value) {
            if (accessList)
                return systemError("while reading the old file's access control list");
            continue; // what this process may not read, it cannot carry
        }
        if (::fsetxattr(to, name.c_str(), value->data(), value->size(), 0) == 0) {
            accessListKept = accessListKept || name == kAccessLists[0];
            continue;
        }
        if (accessList)
            return systemError("while giving it the old file's access control list");
        if (!notPermittedHere(errno))
            return systemError("while giving it the old file's attributes");
    }
    // A list inherited from the folder would grant what the old file did not.
    if (!accessListKept && ::fremovexattr(to, kAccessLists[0].data()) != 0 && errno != ENODATA &&
        errno != ENOTSUP && errno != EOPNOTSUPP)
        return systemError("while giving it the old file's access control list");
    return std::nullopt;
}

} // namespace

std::optional<FileError> copyMetadata(int from, const struct stat& old, int to,
                                      const struct stat& fresh) {
    // Owner and group first: changing them clears setuid, setgid and file capabilities.
    bool ownerKept = fresh.st_uid == old.st_uid;
    bool groupKept = fresh.st_gid == old.st_gid;
    if (!ownerKept || !groupKept) {
        if (::fchown(to, old.st_uid, old.st_gid) == 0) {
            ownerKept = groupKept = true;
        } else if (errno != EPERM && errno != EINVAL) {
            return systemError("while giving it the old file's owner");
        } else if (!groupKept && ::fchown(to, static_cast<uid_t>(-1), old.st_gid) == 0) {
            groupKept = true; // a member of the group may give it, not the owner
        }
    }
    if (auto error = copyAttributes(from, to))
        return error;
    // setuid and setgid only where their owner and group came along: never more rights.
    mode_t mode = old.st_mode & 07777;
    if (!ownerKept)
        mode &= ~mode_t(S_ISUID);
    if (!groupKept)
        mode &= ~mode_t(S_ISGID);
    if (::fchmod(to, mode) != 0)
        return systemError("while giving it the old file's permissions");
    return std::nullopt;
}

} // namespace quillmere::files
