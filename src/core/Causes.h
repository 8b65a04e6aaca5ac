#pragma once
// The causes of failures in the window's own language. The system (strerror,
// QFile), libxlsxwriter and the recording word their causes in English, which
// eload-cli passes on as they are; the window's boxes are Chinese, so their
// detail lines say the cause in Chinese through this one table.

#include <QString>

namespace eload::causes {

// The Chinese for a cause as reported: the system's text for an errno of the
// table, or one of the recording's and libxlsxwriter's own causes; empty when
// the table does not know it.
QString chinese(const QString& cause);

// A box's detail with every known cause in Chinese: a line that is a cause,
// or ends in ": " and a cause, has it replaced; other lines (paths, remedies,
// causes the table does not know) stay as they are.
QString inChinese(const QString& detail);

} // namespace eload::causes
