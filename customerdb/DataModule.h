#pragma once
// The database components of the console: both connections, the customer
// tables, the stored queries and the practice tables, named as the rest of
// the program refers to them. Constructing it opens nothing.
#include "customerdb/Engine.h"

#include <QObject>

class TDataModule : public QObject {
    Q_OBJECT
public:
    // Uses the given connection settings (the build's defaults in production,
    // fresh test databases in tests).
    TDataModule(const Db::ConnectionSettings& customer, const Db::ConnectionSettings& practice,
                QObject* parent = nullptr);

    Db::Connection* connTrellaneEMC;
    Db::Connection* connMedisoft;

    Db::Table* tblRegistration;
    Db::Table* tblDealer;       // the Dealers table
    Db::Table* tblSubmitters;   // detail of tblRegistration
    Db::Table* tblRequests;

    Db::Query* qryLastSerial;
    Db::Query* qrySubID;
    Db::Query* qryVendorID;
    Db::Query* qryDealer;
    Db::Query* qryFutureRegs;
    Db::Query* qryFutureRegs2;

    Db::Table* tblMWPAT;
    Db::Table* tblMWCAS;        // detail of qryFutureRegs2
    Db::Table* tblMWTRN;        // detail of tblMWCAS
    Db::Table* tblMWDEF;
};
