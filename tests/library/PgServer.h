#pragma once
// A PostgreSQL server of a test's own: Debian's server binaries, a cluster
// made with initdb in a temporary folder, reached only through a Unix
// socket in a folder of its own (no TCP), stopped at the end. As root (CI)
// the server runs as the unprivileged user nobody, since PostgreSQL refuses
// to run as root; it gets a parent-death signal, so it ends with the test
// even when the test crashes.
//
// The superuser is "postgres", trusted on the socket; every other role logs
// in with a password (scram-sha-256).

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

namespace eload::testing {

class PgServer {
public:
    PgServer();
    ~PgServer();

    // The folder of initdb and postgres; empty when the server is not installed.
    static QString binFolder();

    // Makes the cluster on the first start. False with `why` on a failure.
    bool start(QString* why);
    // Fast shutdown: connected clients are cut off, as when a lab's server goes down.
    bool stop();
    bool isRunning() const;

    QString socketFolder() const;
    QString folder() const { return dir_.path(); }
    // postgresql://USER@/DATABASE?host=SOCKET
    QString url(const QString& database, const QString& user = QStringLiteral("postgres")) const;
    // Statements run as the superuser in database `database`, each on its own.
    bool superuser(const QStringList& statements, QString* why,
                   const QString& database = QStringLiteral("postgres"));

private:
    bool makeCluster(QString* why);
    QStringList asServerUser(const QString& program, const QStringList& args) const;

    QTemporaryDir dir_;
    std::unique_ptr<QProcess> server_;
    bool made_ = false;
};

} // namespace eload::testing
