#pragma once
// The command line of eload-panel. Read before the application object exists,
// so that --help and --version need no display. Qt's own options (-platform,
// -style ...) are left for QApplication.

#include "serial/PortMap.h"

#include <QString>
#include <vector>

namespace eload {

struct Options {
    enum class Action { Run, Help, Version };
    Action action = Action::Run;
    PortMap ports;                  // the given map with every --com applied
    bool chart = false;             // --chart: the discharge curve window beside the panel
    bool library = false;           // --library: the test library's window
    QString database;               // --db: the test library; empty: its default
    std::vector<char*> qtArguments; // argv[0] and everything not ours, in order
};

struct ParsedOptions {
    Options options;
    QString error; // empty when the command line is good
};

ParsedOptions parseOptions(int argc, char** argv, PortMap ports);

QString helpText();
QString versionText();

} // namespace eload
