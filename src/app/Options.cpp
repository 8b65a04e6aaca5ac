#include "app/Options.h"

#ifndef ELOAD_VERSION
#define ELOAD_VERSION "0.0.0"
#endif

namespace eload {

namespace {

const QString kComOption = QStringLiteral("--com");
const QString kDbOption = QStringLiteral("--db");

// "--com N=PATH" or "--com=N=PATH": the value, and how many arguments it took.
struct OptionValue {
    QString value;
    int used = 0;
    bool given = false;
};

bool isOption(const QString& arg, const QString& option)
{
    return arg == option || arg.startsWith(option + QLatin1Char('='));
}

OptionValue valueOf(const QString& option, int i, int argc, char** argv)
{
    const QString arg = QString::fromLocal8Bit(argv[i]);
    if (arg.startsWith(option + QLatin1Char('='))) return {arg.mid(option.size() + 1), 1, true};
    if (i + 1 < argc) return {QString::fromLocal8Bit(argv[i + 1]), 2, true};
    return {QString(), 1, false};
}

} // namespace

ParsedOptions parseOptions(int argc, char** argv, PortMap ports)
{
    ParsedOptions parsed;
    Options& o = parsed.options;
    if (argc > 0) o.qtArguments.push_back(argv[0]);
    for (int i = 1; i < argc;) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            o.action = Options::Action::Help;
        } else if (arg == QLatin1String("--version")) {
            o.action = Options::Action::Version;
        } else if (arg == QLatin1String("--chart")) {
            o.chart = true;
        } else if (arg == QLatin1String("--library")) {
            o.library = true;
        } else if (isOption(arg, kDbOption)) {
            const OptionValue db = valueOf(kDbOption, i, argc, argv);
            if (!db.given || db.value.isEmpty()) {
                parsed.error = QStringLiteral("--db wants a file or a postgresql:// URL");
                return parsed;
            }
            o.database = db.value;
            i += db.used;
            continue;
        } else if (isOption(arg, kComOption)) {
            const OptionValue com = valueOf(kComOption, i, argc, argv);
            if (!ports.addArgument(com.value)) {
                parsed.error = QStringLiteral("--com wants N=PATH with N from 1 to 9, not \"%1\"")
                                   .arg(com.value);
                return parsed;
            }
            i += com.used;
            continue;
        } else {
            o.qtArguments.push_back(argv[i]);
        }
        ++i;
    }
    o.ports = std::move(ports);
    return parsed;
}

QString helpText()
{
    return QStringLiteral(
        "Usage: eload-panel [--com N=PATH]... [--chart] [--library] [--db LIBRARY]\n"
        "                   [Qt options]\n"
        "Control panel for a 150 W DC electronic load module, a Modbus RTU master\n"
        "on a serial line.\n"
        "\n"
        "  --com N=PATH  device behind COMn, N from 1 to 9; may be repeated.\n"
        "                Otherwise the environment variable ELOAD_COMn, else\n"
        "                /dev/ttyUSB{N-1}.\n"
        "  --chart       also open the discharge curve window (放电曲线): the\n"
        "                discharge over time and capacity, its summary,\n"
        "                reference curves and export; each discharge is kept in\n"
        "                the test library with its cell\n"
        "  --library     also open the test library's window (电池库)\n"
        "  --db LIBRARY  the test library: an SQLite file or a postgresql:// URL\n"
        "                (libpq's service and password files apply); default:\n"
        "                $ELOAD_DB, else ~/.local/share/eload-panel/tests.sqlite\n"
        "  -h, --help    show this text\n"
        "  --version     show the version\n"
        "\n"
        "Qt's own options pass through, e.g. -platform offscreen.\n"
        "The port and baud rate are kept in com.txt beside the program when its\n"
        "folder is the user's own, else in ~/.config/eload-panel/com.txt.\n");
}

QString versionText() { return QStringLiteral("eload-panel " ELOAD_VERSION "\n"); }

} // namespace eload
