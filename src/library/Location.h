#pragma once
// Where the test library lives: one SQLite file (the default, in the user's
// data folder) or a PostgreSQL database, from what a user gives to --db: a
// path, or a URL in libpq's form
//     postgresql://[user[:password]@][host][:port][/database][?parameter=value&...]
// whose parameters are libpq's own (service, sslmode, connect_timeout, a
// socket folder as host=/path ...). Without a password libpq's password file
// (~/.pgpass, PGPASSFILE) and service file (~/.pg_service.conf,
// PGSERVICEFILE) apply as everywhere else. A password never appears in a
// text made here: displayText() and every message show it as ***.

#include "library/Failure.h"

#include <QList>
#include <QString>
#include <utility>

namespace eload::library {

struct DatabaseLocation {
    enum class Kind { Sqlite, Postgres };
    Kind kind = Kind::Sqlite;
    QString path; // SQLite: the file
    // PostgreSQL: empty fields (and port -1) are left to libpq's defaults.
    QString host, database, user, password;
    int port = -1;
    QList<std::pair<QString, QString>> parameters; // the other libpq parameters

    // For messages: the path, or the URL with the password masked.
    QString displayText() const;
    // Names this database among others (the spool's folder); no password in it.
    QString key() const;
    // The libpq parameters as Qt's PostgreSQL driver takes them (connect options).
    QString connectOptions() const;
};

// `text` empty: the environment's ELOAD_DB, else the default file.
Result<DatabaseLocation> parseLocation(const QString& text);
// ~/.local/share/eload-panel/tests.sqlite (the XDG data folder).
QString defaultDatabasePath();
// Where writers keep what has not reached a database yet:
// ~/.local/share/eload-panel/spool/<key>.
QString defaultSpoolFolder(const DatabaseLocation& location);

// Any password in a URL's user part or a password= parameter replaced by ***.
QString maskPasswords(QString text);
// `text` with `password` (when not empty) and URL passwords masked: for
// messages that come from a driver.
QString withoutPassword(QString text, const QString& password);

} // namespace eload::library
