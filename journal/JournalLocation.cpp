// Reads the journal's location: a path, or a PostgreSQL URL with its query options.
#include "journal/JournalLocation.h"

#include "journal/JournalTypes.h"

#include <QDir>
#include <QUrl>
#include <QUrlQuery>

#include <cstdlib>

namespace rv::journal {

namespace {

// The libpq options a URL may carry besides host, port, user, password and schema.
bool IsPassedOption(const std::string& key)
{
    static const char* const kOptions[] = {"sslmode", "sslrootcert", "sslcert", "sslkey", "connect_timeout",
                                           "application_name", "target_session_attrs"};
    for (const char* k : kOptions)
        if (key == k) return true;
    return false;
}

bool IsSchemaName(const std::string& name)
{
    if (name.empty() || name.size() > 63 || (name[0] >= '0' && name[0] <= '9')) return false;
    for (char c : name)
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_')) return false;
    return true;
}

[[noreturn]] void Refuse(const std::string& why)
{
    throw EJournalError("Адрес журнала поверок не распознан: " + why + ".");
}

}  // namespace

std::string DefaultJournalPath()
{
    const char* data = std::getenv("XDG_DATA_HOME");
    QString base = data && *data == '/' ? QString::fromUtf8(data) : QDir::homePath() + "/.local/share";
    return (base + "/rivanta/journal.sqlite").toStdString();
}

SJournalLocation ParseJournalLocation(const std::string& text)
{
    SJournalLocation loc;
    const QString t = QString::fromUtf8(text).trimmed();
    if (!t.startsWith("postgresql://") && !t.startsWith("postgres://")) {
        loc.Engine = EEngine::SQLite;
        loc.Path = t.isEmpty() ? DefaultJournalPath() : t.toStdString();
        return loc;
    }
    const QUrl url(t, QUrl::StrictMode);
    if (!url.isValid()) Refuse(url.errorString().toStdString());
    loc.Engine = EEngine::PostgreSQL;
    loc.Host = url.host().toStdString();
    loc.Port = url.port(0);
    loc.User = url.userName(QUrl::FullyDecoded).toStdString();
    loc.Password = url.password(QUrl::FullyDecoded).toStdString();
    QString db = url.path(QUrl::FullyDecoded);
    if (db.startsWith('/')) db.remove(0, 1);
    if (db.contains('/')) Refuse("имя базы данных содержит «/»");
    loc.Database = db.toStdString();
    for (const auto& [k, v] : QUrlQuery(url).queryItems(QUrl::FullyDecoded)) {
        const std::string key = k.toStdString(), value = v.toStdString();
        if (key == "host") loc.Host = value;
        else if (key == "port") {
            bool ok = false;
            loc.Port = v.toInt(&ok);
            if (!ok || loc.Port <= 0 || loc.Port > 65535) Refuse("порт «" + value + "»");
        } else if (key == "user") loc.User = value;
        else if (key == "password") loc.Password = value;
        else if (key == "dbname") loc.Database = value;
        else if (key == "schema") {
            if (!IsSchemaName(value)) Refuse("имя схемы «" + value + "» (латинские строчные буквы, цифры, «_»)");
            loc.Schema = value;
        } else if (IsPassedOption(key)) {
            if (value.find_first_of(";'\\") != std::string::npos) Refuse("значение параметра " + key);
            loc.Options.emplace_back(key, value);
        } else Refuse("неизвестный параметр «" + key + "»");
    }
    if (loc.Database.empty()) Refuse("не указана база данных");
    return loc;
}

std::string DescribeLocation(const SJournalLocation& loc)
{
    if (loc.Engine == EEngine::SQLite) return loc.Path;
    QString s = "postgresql://";
    const QString host = QString::fromStdString(loc.Host);
    const bool socket = host.startsWith('/');
    if (!loc.User.empty()) s += QString::fromStdString(loc.User) + "@";
    if (!socket) s += host;
    if (loc.Port) s += ":" + QString::number(loc.Port);
    s += "/" + QString::fromStdString(loc.Database);
    QStringList query;
    if (socket) query << "host=" + host;
    if (!loc.Schema.empty()) query << "schema=" + QString::fromStdString(loc.Schema);
    if (!query.isEmpty()) s += "?" + query.join('&');
    return s.toStdString();
}

}  // namespace rv::journal
