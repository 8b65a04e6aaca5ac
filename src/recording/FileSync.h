#pragma once
// Pushing written data and new directory entries to the disk, so that what a
// power loss leaves behind is either the old state or the new one.

#include <QString>
#include <optional>

namespace eload {

// fdatasync of an open descriptor; the message carries the system's cause.
std::optional<QString> syncData(int fd);
// The file at `path`, contents and size.
std::optional<QString> syncFile(const QString& path);
// The folder's entries (a created, renamed or removed file). Best effort.
void syncFolder(const QString& folder);
// The system's text for the last failing call.
QString lastSystemError();

} // namespace eload
