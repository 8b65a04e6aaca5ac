#pragma once
// Whether the folder a program runs from may hold the running user's files
// (recordings, com.txt). An installed copy's folder (/usr/bin, /opt/...) is
// never a place for data, not even for root: files left there outlive the
// package. A copy in a folder of the user's own keeps its files beside it.

#include <QString>

namespace eload {

enum class FolderUse {
    Own,         // the user's own writable folder outside the system's prefixes
    System,      // under /usr, /opt, /bin, /sbin, /lib*, /etc, /boot, /snap, /var/lib
    OtherUser,   // owned by someone else than the running user
    NotWritable, // missing, not a folder, or not writable
};

// The rule applied to `folder` (symbolic links resolved) for the running user.
FolderUse programFolderUse(const QString& folder);

} // namespace eload
