#pragma once
// A workbook's zip (internal): its entries read in chunks, never whole, each
// within kMaxEntryBytes and kMaxCompressionRatio, so that a zip bomb ends in
// a message as soon as it shows itself. Through minizip's unzip, not QuaZip:
// QuaZip exports its own, changed copy of minizip's functions under the same
// names, and libxlsxwriter (the recording, in the same programs) calls
// minizip; whichever library loads first takes the other's calls.

#include "reader/ReadErrors.h"

#include <QString>
#include <memory>
#include <unzip.h>
#include <variant>

namespace eload::reader {

class ZipPackage {
public:
    explicit ZipPackage(const QString& path);
    ~ZipPackage();
    ZipPackage(const ZipPackage&) = delete;
    ZipPackage& operator=(const ZipPackage&) = delete;

    bool isOpen() const { return zip_ != nullptr; }
    // Part names compare without regard to case, as the package format has it.
    bool contains(const QString& part) const;

    // One entry, open while the reader lives. Only one at a time per package.
    class Entry {
    public:
        ~Entry();
        Entry(const Entry&) = delete;
        Entry& operator=(const Entry&) = delete;
        // Up to `max` bytes of the inflated entry into `to`: 0 at its end, -1
        // on a failure (failure() tells which).
        int read(char* to, int max);
        const Failure& failure() const { return failure_; }
        // Closes the entry; a failure when its checksum (known once it was
        // read whole) is wrong.
        Failure finish();

    private:
        friend class ZipPackage;
        Entry(unzFile zip, QString part);
        void fail(ReadProblem problem);

        unzFile zip_;
        QString part_;
        bool open_ = false;
        qint64 inflated_ = 0;
        quint64 compressedStart_ = 0;
        Failure failure_;
    };

    // The entry `part` opened for reading, or why it cannot be: missing, too
    // large or too tightly packed by what the zip's directory declares.
    std::variant<std::unique_ptr<Entry>, ReadError> open(const QString& part);

private:
    unzFile zip_;
};

} // namespace eload::reader
