// Runs the fuzz case over the committed seeds in every build, without
// libFuzzer: a good reply in pieces, an echo, an exception, short reads.

#include "fuzz/ReplyFuzz.h"

#include <QDir>
#include <QFile>
#include <cstdio>

int main(int argc, char** argv)
{
    const QDir corpus(QString::fromLocal8Bit(argc > 1 ? argv[1] : "."));
    int cases = 0;
    for (const QString& name : corpus.entryList(QDir::Files)) {
        QFile f(corpus.filePath(name));
        if (!f.open(QIODevice::ReadOnly)) return 2;
        const QByteArray in = f.readAll();
        if (!eload::test::runReplyFuzzCase(reinterpret_cast<const std::uint8_t*>(in.constData()),
                                           std::size_t(in.size())))
            return 1;
        ++cases;
    }
    std::printf("%d seeds, no failure\n", cases);
    return cases > 0 ? 0 : 2;
}
