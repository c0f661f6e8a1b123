#include "billing/RenewalsExport.h"

#include "billing/RenewalPosting.h"
#include "helpers/Trellane.h"

#include <QSaveFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringEncoder>

namespace Billing {

namespace {

QDate dateOf(const QVariant& v)
{
    if (v.isNull())
        return {};
    if (v.typeId() == QMetaType::QDate)
        return v.toDate();
    if (v.typeId() == QMetaType::QDateTime)
        return v.toDateTime().date();
    return QDate::fromString(v.toString().left(10), Qt::ISODate);
}

} // namespace

QString exportHeader()
{
    return QStringLiteral("DealerCode,DealerName,Serial Number,ChartNumber,Register Name,OtherName,Professional,"
                          "Institutional,ERA");
}

QString csvField(const QString& text)
{
    for (const QChar c : text) {
        if (c == QLatin1Char(',') || c == QLatin1Char('"') || c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            QString quoted = text;
            quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
            return QLatin1Char('"') + quoted + QLatin1Char('"');
        }
    }
    return text;
}

QString exportLine(const QString& dealerCode, const QString& dealerName, qint64 serial, const QString& chart,
                   const QString& registerName, const QString& otherName, const QDate& prof, const QDate& inst,
                   const QDate& era, QChar dateSeparator)
{
    QString line;
    line.reserve(96);
    line += csvField(dealerCode);
    line += QLatin1Char(',');
    line += csvField(dealerName);
    line += QLatin1Char(',');
    line += QString::number(serial);
    line += QLatin1Char(',');
    line += csvField(chart);
    line += QLatin1Char(',');
    line += Trellane::KeepAlphaNumericPlus(registerName, true, true);
    line += QLatin1Char(',');
    line += Trellane::KeepAlphaNumericPlus(otherName, true, true);
    for (const QDate& d : {prof, inst, era}) {
        line += QLatin1Char(',');
        line += slashDate(d, dateSeparator);
    }
    return line;
}

QStringList exportLines(Db::Query& qryFutureRegs)
{
    // One statement read front to back: the rows come once each, in one
    // consistent order, with the current date taken once.
    qryFutureRegs.close();
    Db::Connection& conn = *qryFutureRegs.connection();
    conn.connect();
    QSqlQuery q(conn.database());
    q.setForwardOnly(true);
    const QString sql = conn.translateSql(qryFutureRegs.sql().join(QLatin1Char('\n')));
    if (!q.exec(sql))
        throw conn.failure(q.lastError());
    QStringList lines{exportHeader()};
    const QChar sep = dateSeparator();
    while (q.next()) {
        auto text = [&](int c) {
            QString s = q.value(c).toString();
            while (s.endsWith(QLatin1Char(' ')))
                s.chop(1);
            return s;
        };
        lines << exportLine(text(0), text(1), q.value(2).toLongLong(), text(3), text(4), text(5),
                            dateOf(q.value(6)), dateOf(q.value(7)), dateOf(q.value(8)), sep);
    }
    if (q.lastError().isValid())
        throw conn.failure(q.lastError());
    return lines;
}

void writeLines(const QString& path, const QStringList& lines)
{
    QSaveFile file(path);
    auto fail = [&] {
        const QString reason = file.errorString();
        file.cancelWriting();
        throw Db::EngineError(QStringLiteral("Cannot create file \"%1\". %2").arg(path, reason));
    };
    if (!file.open(QIODevice::WriteOnly))
        fail();
    QStringEncoder encode(QStringConverter::System);
    QString chunk;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        chunk += lines[i];
        chunk += QStringLiteral("\r\n");
        if (chunk.size() > (1 << 16) || i + 1 == lines.size()) {
            const QByteArray bytes = encode(chunk);
            if (file.write(bytes) != bytes.size())
                fail();
            chunk.clear();
        }
    }
    if (!file.commit())
        throw Db::EngineError(QStringLiteral("Cannot create file \"%1\". %2").arg(path, file.errorString()));
}

} // namespace Billing
