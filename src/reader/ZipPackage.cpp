#include "reader/ZipPackage.h"

#include <QFile>

namespace eload::reader {

namespace {

// Packed tighter than honest XML ever is, once there is enough of it to tell.
bool tooTight(quint64 inflated, quint64 compressed)
{
    return inflated > quint64(kRatioFloorBytes) &&
           inflated / quint64(kMaxCompressionRatio) > compressed;
}

ReadError partError(ReadProblem problem, const QString& part)
{
    ReadError e;
    e.problem = problem;
    e.part = part;
    return e;
}

} // namespace

ZipPackage::ZipPackage(const QString& path) : zip_(unzOpen64(QFile::encodeName(path).constData()))
{
}

ZipPackage::~ZipPackage()
{
    if (zip_) unzClose(zip_);
}

bool ZipPackage::contains(const QString& part) const
{
    return zip_ && unzLocateFile(zip_, part.toUtf8().constData(), 2) == UNZ_OK;
}

std::variant<std::unique_ptr<ZipPackage::Entry>, ReadError> ZipPackage::open(const QString& part)
{
    if (!contains(part)) return partError(ReadProblem::MissingPart, part);
    // The directory's sizes bound the read: minizip inflates no more than the
    // declared size, and a lie about it fails the checksum.
    unz_file_info64 info{};
    if (unzGetCurrentFileInfo64(zip_, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK)
        return partError(ReadProblem::Damaged, part);
    if (info.uncompressed_size > quint64(kMaxEntryBytes))
        return partError(ReadProblem::PartTooLarge, part);
    if (tooTight(info.uncompressed_size, info.compressed_size))
        return partError(ReadProblem::ZipBomb, part);
    std::unique_ptr<Entry> entry(new Entry(zip_, part));
    if (entry->failure_) return *entry->failure_;
    return entry;
}

ZipPackage::Entry::Entry(unzFile zip, QString part) : zip_(zip), part_(std::move(part))
{
    open_ = unzOpenCurrentFile(zip_) == UNZ_OK;
    if (!open_) fail(ReadProblem::Damaged);
    compressedStart_ = unzGetCurrentFileZStreamPos64(zip_);
}

ZipPackage::Entry::~Entry()
{
    if (open_) unzCloseCurrentFile(zip_);
}

void ZipPackage::Entry::fail(ReadProblem problem) { failure_ = partError(problem, part_); }

int ZipPackage::Entry::read(char* to, int max)
{
    if (failure_) return -1;
    const int n = unzReadCurrentFile(zip_, to, unsigned(max));
    if (n < 0) {
        fail(ReadProblem::Damaged);
        return -1;
    }
    inflated_ += n;
    // The counts guard against a directory that lies.
    if (inflated_ > kMaxEntryBytes)
        fail(ReadProblem::PartTooLarge);
    else if (tooTight(quint64(inflated_), unzGetCurrentFileZStreamPos64(zip_) - compressedStart_))
        fail(ReadProblem::ZipBomb);
    return failure_ ? -1 : n;
}

Failure ZipPackage::Entry::finish()
{
    if (failure_) return failure_;
    open_ = false;
    if (unzCloseCurrentFile(zip_) != UNZ_OK) fail(ReadProblem::Damaged);
    return failure_;
}

} // namespace eload::reader
