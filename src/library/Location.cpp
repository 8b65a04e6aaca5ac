#include "library/Location.h"

#include <QCryptographicHash>
#include <QDir>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QUrl>
#include <QUrlQuery>
#include <algorithm>

namespace eload::library {

namespace {

const QString kMask = QStringLiteral("***");

// libpq's connection parameters that a URL may carry besides the fields.
const QStringList kPassedParameters = {
    QStringLiteral("service"),
    QStringLiteral("passfile"),
    QStringLiteral("connect_timeout"),
    QStringLiteral("application_name"),
    QStringLiteral("options"),
    QStringLiteral("sslmode"),
    QStringLiteral("sslcert"),
    QStringLiteral("sslkey"),
    QStringLiteral("sslrootcert"),
    QStringLiteral("sslcrl"),
    QStringLiteral("sslpassword"),
    QStringLiteral("gssencmode"),
    QStringLiteral("krbsrvname"),
    QStringLiteral("target_session_attrs"),
    QStringLiteral("keepalives"),
    QStringLiteral("keepalives_idle"),
    QStringLiteral("keepalives_interval"),
    QStringLiteral("keepalives_count"),
    QStringLiteral("tcp_user_timeout"),
    QStringLiteral("hostaddr"),
    QStringLiteral("channel_binding"),
    QStringLiteral("requirepeer"),
};

// A writer waits for a lost server only this long; libpq's own defaults
// would let a dead connection hold it for minutes.
const QList<std::pair<QString, QString>> kDefaultParameters = {
    {QStringLiteral("connect_timeout"), QStringLiteral("10")},
    {QStringLiteral("keepalives_idle"), QStringLiteral("30")},
    {QStringLiteral("keepalives_interval"), QStringLiteral("10")},
    {QStringLiteral("keepalives_count"), QStringLiteral("3")},
    {QStringLiteral("tcp_user_timeout"), QStringLiteral("30000")},
    {QStringLiteral("application_name"), QStringLiteral("eload-panel")},
};

bool isPostgresUrl(const QString& text)
{
    return text.startsWith(QLatin1String("postgresql://"), Qt::CaseInsensitive) ||
           text.startsWith(QLatin1String("postgres://"), Qt::CaseInsensitive);
}

Failure badUrl(const QString& text, const QString& why)
{
    return {QStringLiteral("%1: %2").arg(maskPasswords(text), why)};
}

// libpq takes a socket folder as a percent-encoded host; QUrl refuses it as a
// host name, so it moves to the query as host=.
QString socketHostMoved(const QString& text)
{
    static const QRegularExpression socketHost(
        QStringLiteral(
            "^(postgres(?:ql)?://(?:[^@/?]*@)?)(%2F[^:/?]*)(:[0-9]+)?(/[^?]*)?(\\?.*)?$"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = socketHost.match(text);
    if (!m.hasMatch()) return text;
    const QString query = m.captured(5).isEmpty() ? QStringLiteral("?") : m.captured(5) + u'&';
    return m.captured(1) + m.captured(3) + m.captured(4) + query + QStringLiteral("host=") +
           m.captured(2);
}

std::optional<Failure> takeParameter(DatabaseLocation& l, const QString& text, const QString& key,
                                     const QString& value)
{
    if (value.contains(u';'))
        return badUrl(text, QStringLiteral("parameter %1: ';' is not allowed").arg(key));
    if (key == u"host")
        l.host = value;
    else if (key == u"dbname")
        l.database = value;
    else if (key == u"user")
        l.user = value;
    else if (key == u"password")
        l.password = value;
    else if (key == u"port") {
        bool ok = false;
        l.port = value.toInt(&ok);
        if (!ok || l.port <= 0 || l.port > 65535)
            return badUrl(text, QStringLiteral("port %1 is no port number").arg(value));
    } else if (kPassedParameters.contains(key))
        l.parameters.append({key, value});
    else
        return badUrl(text, QStringLiteral("unknown connection parameter %1").arg(key));
    return std::nullopt;
}

Result<DatabaseLocation> parsePostgresUrl(const QString& text)
{
    const QUrl url(socketHostMoved(text), QUrl::StrictMode);
    // QUrl's own error text quotes the whole URL, password and all.
    if (!url.isValid())
        return badUrl(text, QStringLiteral("not a PostgreSQL URL "
                                           "(postgresql://user@host:port/database?parameters)"));
    DatabaseLocation l;
    l.kind = DatabaseLocation::Kind::Postgres;
    l.host = url.host(QUrl::FullyDecoded);
    l.port = url.port(-1);
    l.user = url.userName(QUrl::FullyDecoded);
    l.password = url.password(QUrl::FullyDecoded);
    QString path = url.path(QUrl::FullyDecoded);
    if (path.startsWith(u'/')) path.remove(0, 1);
    if (path.contains(u'/'))
        return badUrl(text, QStringLiteral("the database name %1 holds a '/'").arg(path));
    l.database = path;
    const auto items = QUrlQuery(url).queryItems(QUrl::FullyDecoded);
    for (const auto& [key, value] : items)
        if (auto failure = takeParameter(l, text, key, value)) return *failure;
    for (const QString& field : {l.host, l.user, l.database, l.password})
        if (field.contains(u';'))
            return badUrl(text, QStringLiteral("';' is not allowed in a PostgreSQL URL"));
    return l;
}

// libpq's quoting of a value in a connection string.
QString quotedValue(QString value)
{
    value.replace(u'\\', QStringLiteral("\\\\"));
    value.replace(u'\'', QStringLiteral("\\'"));
    return u'\'' + value + u'\'';
}

QString dataFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/eload-panel");
}

} // namespace

QString DatabaseLocation::displayText() const
{
    if (kind == Kind::Sqlite) return path;
    const bool socket = host.startsWith(u'/');
    QString text = QStringLiteral("postgresql://");
    if (!user.isEmpty() || !password.isEmpty())
        text += user + (password.isEmpty() ? QString() : u':' + kMask) + u'@';
    if (!socket) text += host.contains(u':') ? u'[' + host + u']' : host;
    if (port > 0) text += u':' + QString::number(port);
    if (!database.isEmpty()) text += u'/' + database;
    QStringList query;
    if (socket) query << QStringLiteral("host=") + host;
    for (const auto& [key, value] : parameters)
        query << key + u'=' + (key == u"sslpassword" ? kMask : value);
    if (!query.isEmpty()) text += u'?' + query.join(u'&');
    return text;
}

QString DatabaseLocation::key() const
{
    const QString identity =
        kind == Kind::Sqlite
            ? QStringLiteral("sqlite:") + QDir::cleanPath(QDir::current().absoluteFilePath(path))
            : displayText();
    const QByteArray hash = QCryptographicHash::hash(identity.toUtf8(), QCryptographicHash::Sha1);
    return QString::fromLatin1(hash.toHex().left(16));
}

QString DatabaseLocation::connectOptions() const
{
    QStringList options;
    for (const auto& [key, value] : parameters)
        options << key + u'=' + quotedValue(value);
    for (const auto& [key, value] : kDefaultParameters) {
        const bool given = std::any_of(parameters.begin(), parameters.end(),
                                       [&](const auto& p) { return p.first == key; });
        if (!given) options << key + u'=' + quotedValue(value);
    }
    return options.join(u' ');
}

Result<DatabaseLocation> parseLocation(const QString& given)
{
    const QString text = given.isEmpty() ? qEnvironmentVariable("ELOAD_DB") : given;
    if (text.isEmpty())
        return DatabaseLocation{
            DatabaseLocation::Kind::Sqlite, defaultDatabasePath(), {}, {}, {}, {}, -1, {}};
    if (isPostgresUrl(text)) return parsePostgresUrl(text);
    if (text.contains(QLatin1String("://")))
        return badUrl(text, QStringLiteral("not a database: give a file path or a "
                                           "postgresql:// URL"));
    DatabaseLocation l;
    l.path = text;
    return l;
}

QString defaultDatabasePath() { return dataFolder() + QStringLiteral("/tests.sqlite"); }

QString defaultSpoolFolder(const DatabaseLocation& location)
{
    return dataFolder() + QStringLiteral("/spool/") + location.key();
}

QString maskPasswords(QString text)
{
    static const QRegularExpression userPassword(QStringLiteral("(://[^:/@?\\s]*:)[^@/\\s]*@"));
    static const QRegularExpression passwordParameter(QStringLiteral("((?:ssl)?password=)[^&\\s]*"),
                                                      QRegularExpression::CaseInsensitiveOption);
    text.replace(userPassword, QStringLiteral("\\1") + kMask + u'@');
    text.replace(passwordParameter, QStringLiteral("\\1") + kMask);
    return text;
}

QString withoutPassword(QString text, const QString& password)
{
    if (!password.isEmpty()) text.replace(password, kMask);
    return maskPasswords(text);
}

} // namespace eload::library
