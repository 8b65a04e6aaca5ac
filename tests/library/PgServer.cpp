#include "PgServer.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <csignal>
#include <pwd.h>
#include <unistd.h>

namespace eload::testing {

namespace {

constexpr int kWaitMs = 60000;

bool chownTo(const QString& path, const passwd* user)
{
    return ::chown(QFile::encodeName(path).constData(), user->pw_uid, user->pw_gid) == 0;
}

} // namespace

PgServer::PgServer()
{
    QFile::setPermissions(dir_.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                           QFileDevice::ExeOwner | QFileDevice::ReadGroup |
                                           QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                           QFileDevice::ExeOther);
}

PgServer::~PgServer() { stop(); }

QString PgServer::binFolder()
{
    const QDir root(QStringLiteral("/usr/lib/postgresql"));
    QStringList versions = root.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    std::sort(versions.begin(), versions.end(),
              [](const QString& a, const QString& b) { return a.toInt() > b.toInt(); });
    for (const QString& v : versions) {
        const QString bin = root.filePath(v + QStringLiteral("/bin"));
        if (QFile::exists(bin + QStringLiteral("/initdb")) &&
            QFile::exists(bin + QStringLiteral("/postgres")))
            return bin;
    }
    return {};
}

// setpriv: as nobody when root, and ended with the test in any case.
QStringList PgServer::asServerUser(const QString& program, const QStringList& args) const
{
    QStringList command{QStringLiteral("--pdeathsig"), QStringLiteral("KILL")};
    if (::geteuid() == 0)
        command << QStringLiteral("--reuid") << QStringLiteral("nobody")
                << QStringLiteral("--regid") << QStringLiteral("nogroup")
                << QStringLiteral("--clear-groups");
    return command << binFolder() + u'/' + program << args;
}

QString PgServer::socketFolder() const { return dir_.filePath(QStringLiteral("sock")); }

QString PgServer::url(const QString& database, const QString& user) const
{
    return QStringLiteral("postgresql://%1@/%2?host=%3").arg(user, database, socketFolder());
}

bool PgServer::makeCluster(QString* why)
{
    const QString data = dir_.filePath(QStringLiteral("data"));
    QDir().mkpath(data);
    QDir().mkpath(socketFolder());
    if (::geteuid() == 0) {
        const passwd* nobody = ::getpwnam("nobody");
        if (!nobody || !chownTo(data, nobody) || !chownTo(socketFolder(), nobody)) {
            *why = QStringLiteral("cannot give the cluster's folders to nobody");
            return false;
        }
    }
    QProcess initdb;
    initdb.setProcessChannelMode(QProcess::MergedChannels);
    initdb.start(
        QStringLiteral("setpriv"),
        asServerUser(QStringLiteral("initdb"),
                     {QStringLiteral("-D"), data, QStringLiteral("-U"), QStringLiteral("postgres"),
                      QStringLiteral("--auth=trust"), QStringLiteral("-E"), QStringLiteral("UTF8"),
                      QStringLiteral("--no-sync"), QStringLiteral("--no-instructions")}));
    if (!initdb.waitForFinished(kWaitMs) || initdb.exitCode() != 0) {
        *why = QStringLiteral("initdb failed: ") + QString::fromLocal8Bit(initdb.readAll());
        return false;
    }
    QFile hba(data + QStringLiteral("/pg_hba.conf"));
    if (!hba.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        hba.write("local all postgres trust\nlocal all all scram-sha-256\n") < 0) {
        *why = QStringLiteral("cannot write pg_hba.conf");
        return false;
    }
    made_ = true;
    return true;
}

bool PgServer::start(QString* why)
{
    if (binFolder().isEmpty()) {
        *why = QStringLiteral("no PostgreSQL server in /usr/lib/postgresql/*/bin");
        return false;
    }
    if (!made_ && !makeCluster(why)) return false;
    server_ = std::make_unique<QProcess>();
    server_->setProcessChannelMode(QProcess::MergedChannels);
    server_->setStandardOutputFile(dir_.filePath(QStringLiteral("server.log")), QIODevice::Append);
    server_->start(QStringLiteral("setpriv"),
                   asServerUser(QStringLiteral("postgres"),
                                {QStringLiteral("-D"), dir_.filePath(QStringLiteral("data")),
                                 QStringLiteral("-c"), QStringLiteral("listen_addresses="),
                                 QStringLiteral("-c"),
                                 QStringLiteral("unix_socket_directories=") + socketFolder(),
                                 QStringLiteral("-c"), QStringLiteral("fsync=off"),
                                 QStringLiteral("-c"), QStringLiteral("max_connections=60")}));
    const QDeadlineTimer deadline(kWaitMs);
    while (!deadline.hasExpired()) {
        if (server_->state() == QProcess::NotRunning) break;
        QString ignored;
        if (superuser({QStringLiteral("SELECT 1")}, &ignored)) return true;
        QThread::msleep(100);
    }
    QFile log(dir_.filePath(QStringLiteral("server.log")));
    log.open(QIODevice::ReadOnly);
    *why = QStringLiteral("the server did not start: ") + QString::fromLocal8Bit(log.readAll());
    stop();
    return false;
}

bool PgServer::stop()
{
    if (!server_) return true;
    if (server_->state() != QProcess::NotRunning) {
        ::kill(pid_t(server_->processId()), SIGINT);
        if (!server_->waitForFinished(kWaitMs)) {
            server_->kill();
            server_->waitForFinished();
        }
    }
    server_.reset();
    return true;
}

bool PgServer::isRunning() const { return server_ && server_->state() == QProcess::Running; }

bool PgServer::superuser(const QStringList& statements, QString* why, const QString& database)
{
    const QString name = QStringLiteral("pgserver-superuser");
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        db.setHostName(socketFolder());
        db.setUserName(QStringLiteral("postgres"));
        db.setDatabaseName(database);
        if (!db.open()) {
            *why = db.lastError().text();
            ok = false;
        }
        for (const QString& sql : statements) {
            if (!ok) break;
            QSqlQuery q(db);
            if (!q.exec(sql)) {
                *why = sql + QStringLiteral(": ") + q.lastError().text();
                ok = false;
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

} // namespace eload::testing
