#pragma once
// eload-cli's exit statuses and its two streams: results on stdout, messages
// on stderr, each written at once so that a pipe sees every row as it comes.

#include <QByteArray>
#include <QString>

namespace eload::cli {

enum ExitStatus {
    kDone = 0,
    kFailed = 1,   // a file could not be written or read, or a module did not take a command
    kBadUsage = 2, // bad arguments, or the port missing, busy or not permitted
    kNoAnswer = 3, // a module did not answer, or its line was lost
};

void printOut(const QString& text);
void printOut(const QByteArray& bytes);
// The reader of stdout has gone (a closed pipe); needs SIGPIPE ignored.
bool stdoutLost();
// "eload-cli: <message>" and a line end.
void printError(const QString& message);
bool stdoutIsTerminal();
bool stderrIsTerminal();
// A line of progress on stderr, rewritten in place; `last` ends it.
void printProgress(const QString& text, bool last);
// Columns of the terminal on stdout; 0 when it is none.
int terminalColumns();

} // namespace eload::cli
