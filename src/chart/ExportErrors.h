#pragma once
// Why an export could not be written, in the window's language, with the path.

#include <QFileDevice>
#include <QString>

namespace eload::chart {

// Looks at the file's folder to tell a missing folder or a missing right
// from a failed write (a full disk).
QString writeErrorText(const QString& path, QFileDevice::FileError error);

} // namespace eload::chart
