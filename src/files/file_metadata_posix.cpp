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

#ifdef __linux__
#include <linux/capability.h>
#include <sys/syscall.h>
#endif

namespace quillmere::files {
namespace {

// The attributes that grant or withhold access: one that cannot be kept fails the write,
// since the new file would otherwise be open wider than the old one.
constexpr std::array<std::string_view, 2> kAccessLists = {"system.posix_acl_access",
                                                          "system.nfs4_acl"};

// The system drops a file's capabilities when its content is rewritten; so does a copy.
constexpr std::string_view kCapabilities = "security.capability";

// Failures that say the file system keeps no such thing: there is nothing to keep then.
bool notKeptHere(int code) {
    return code == ENOTSUP || code == EOPNOTSUPP || code == ENOSYS;
}

// Whether the system lets this process keep setuid and setgid on a file it writes to.
bool keepsSpecialBitsOnWrite() {
#ifdef __linux__
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
    if (::syscall(SYS_capget, &header, data) == 0)
        return (data[CAP_FSETID / 32].effective & (1u << (CAP_FSETID % 32))) != 0;
#endif
    return effectiveUser() == 0;
}

bool isAccessList(std::string_view name) {
    return std::find(kAccessLists.begin(), kAccessLists.end(), name) != kAccessLists.end();
}

// Failures that only say "this process may not, or this file system cannot": the attribute
// is then not carried, as a copy by hand would not carry it either.
bool notPermittedHere(int code) {
    return code == EPERM || code == EACCES || notKeptHere(code) || code == EINVAL ||
           code == E2BIG || code == ERANGE || code == ENODATA;
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

// Carries the attributes over; true when the new file's access control list was set or removed,
// which changes its mode too.
Expected<bool> copyAttributes(int from, int to) {
    auto listed =
        readGrowing([&](char* into, std::size_t size) { return ::flistxattr(from, into, size); });
    // Unlisted, an access control list would be silently dropped: the old file stays instead.
    if (!listed && !notKeptHere(errno))
        return systemError("while listing the old file's attributes");
    const std::vector<char> names = listed.value_or(std::vector<char>());
    bool accessListKept = false;
    for (std::size_t at = 0; at < names.size();) {
        const std::string name(names.data() + at);
        at += name.size() + 1;
        if (name == kCapabilities)
            continue;
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
    // A list inherited from the folder would grant what the old file did not. Looked for first:
    // removing a list that is not there takes the file's lock and costs as much as removing one.
    const bool inherited =
        !accessListKept && (::fgetxattr(to, kAccessLists[0].data(), nullptr, 0) >= 0 ||
                            (errno != ENODATA && !notKeptHere(errno)));
    if (inherited && ::fremovexattr(to, kAccessLists[0].data()) != 0 && errno != ENODATA &&
        !notKeptHere(errno))
        return systemError("while giving it the old file's access control list");
    return accessListKept || inherited;
}

} // namespace

Expected<Done> copyMetadata(int from, const struct stat& old, int to, const struct stat& fresh) {
    // Owner and group first: changing them clears setuid, setgid and file capabilities.
    bool ownerKept = fresh.st_uid == old.st_uid;
    bool groupKept = fresh.st_gid == old.st_gid;
    const bool ownerChanged = !ownerKept || !groupKept;
    if (ownerChanged) {
        if (::fchown(to, old.st_uid, old.st_gid) == 0) {
            ownerKept = groupKept = true;
        } else if (notKeptHere(errno)) {
            ownerKept = groupKept = true; // a file system without owners: nothing to keep
        } else if (errno != EPERM && errno != EINVAL) {
            return systemError("while giving it the old file's owner");
        } else if (!groupKept && ::fchown(to, static_cast<uid_t>(-1), old.st_gid) == 0) {
            groupKept = true; // a member of the group may give it, not the owner
        }
    }
    const auto accessListChanged = copyAttributes(from, to);
    if (!accessListChanged)
        return accessListChanged.error();
    // setuid and setgid only where their owner and group came along (never more rights), and
    // only where the system keeps them on a file written to: setuid never, setgid when the
    // group may not run the file (then it marks locking), unless the process may keep them.
    mode_t mode = old.st_mode & 07777;
    // Asked of the system only where there is a special bit to keep.
    const bool keepsSpecialBits = (mode & (S_ISUID | S_ISGID)) != 0 && keepsSpecialBitsOnWrite();
    if (!ownerKept || !keepsSpecialBits)
        mode &= ~mode_t(S_ISUID);
    if (!groupKept || (!keepsSpecialBits && (mode & S_IXGRP)))
        mode &= ~mode_t(S_ISGID);
    // The mode last: the steps before may clear bits of it. A file made with the mode it needs,
    // whose owner and access list stayed as made, is left as it is.
    if (!ownerChanged && !*accessListChanged && (fresh.st_mode & 07777) == mode)
        return Done{};
    if (::fchmod(to, mode) != 0 && !notKeptHere(errno))
        return systemError("while giving it the old file's permissions");
    return Done{};
}

} // namespace quillmere::files
