#include "customerdb/DataModule.h"

#include "customerdb/PracticeSchema.h"
#include "customerdb/Schema.h"

TDataModule::TDataModule(const Db::ConnectionSettings& customer, const Db::ConnectionSettings& practice,
                         QObject* parent)
    : QObject(parent)
{
    connTrellaneEMC = new Db::Connection(QStringLiteral("connTrellaneEMC"), &CustomerDb::catalog(), this);
    connTrellaneEMC->setSettings(customer);
    connTrellaneEMC->setTitle(QStringLiteral("customer database"));
    connMedisoft = new Db::Connection(QStringLiteral("connMedisoft"), &Practice::catalog(), this);
    connMedisoft->setSettings(practice);
    connMedisoft->setTitle(QStringLiteral("practice database"));

    tblRegistration = new Db::Table(connTrellaneEMC, this);
    tblDealer = new Db::Table(connTrellaneEMC, this);
    tblSubmitters = new Db::Table(connTrellaneEMC, this);
    tblRequests = new Db::Table(connTrellaneEMC, this);
    CustomerDb::setupRegistration(*tblRegistration);
    CustomerDb::setupDealers(*tblDealer);
    CustomerDb::setupSubmitters(*tblSubmitters, *tblRegistration);
    CustomerDb::setupRequests(*tblRequests);

    auto query = [this](const QStringList& lines) {
        auto* q = new Db::Query(connTrellaneEMC, this);
        q->setSql(lines);
        return q;
    };
    qryLastSerial = query(CustomerDb::qryLastSerialSql());
    qrySubID = query(CustomerDb::qrySubIDSql());
    qryVendorID = query(CustomerDb::qryVendorIDSql());
    qryDealer = query(CustomerDb::qryDealerSql());
    qryFutureRegs = query(CustomerDb::qryFutureRegsSql());
    qryFutureRegs2 = query(CustomerDb::qryFutureRegs2Sql());

    tblMWPAT = new Db::Table(connMedisoft, this);
    tblMWCAS = new Db::Table(connMedisoft, this);
    tblMWTRN = new Db::Table(connMedisoft, this);
    tblMWDEF = new Db::Table(connMedisoft, this);
    Practice::setupMWPAT(*tblMWPAT);
    Practice::setupMWCAS(*tblMWCAS, *qryFutureRegs2);
    Practice::setupMWTRN(*tblMWTRN, *tblMWCAS);
    Practice::setupMWDEF(*tblMWDEF);
}
