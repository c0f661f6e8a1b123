// The renewals forecast on a small known set of accounts: which renewals
// each week holds, by module, and what they come to at the tab's prices.
#include "billing/BillingTab.h"
#include "billing/ForecastWindow.h"
#include "billing/RenewalsForecast.h"
#include "customerdb/DataModule.h"
#include "tests/support/TestConsole.h"
#include "tests/support/TestDb.h"
#include "tests/support/TestPlatform.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

namespace {

constexpr int kNone = -999;

class DefaultPrices : public Billing::PriceList {
public:
    QString text(Billing::PriceBox box) const override
    {
        using B = Billing::PriceBox;
        switch (box) {
        case B::AnnProfChg: case B::AnnInstChg: return QStringLiteral("599.00");
        case B::AnnInstChg2: case B::AnnERAChg: return QStringLiteral("299.00");
        case B::MoProfChg: case B::MoERAChg: case B::MOInstChg: return QStringLiteral("65.00");
        default: return QStringLiteral("CODE");
        }
    }
};

} // namespace

class TestForecast : public QObject {
    Q_OBJECT

    std::unique_ptr<TestPlatform> platform;
    std::unique_ptr<TestConsole> console;
    const QDate today{2026, 12, 9};

    void addAccount(int serial, const QVariant& dealer, const QString& flags, int prof, int inst = kNone, int era = kNone,
                    const QVariant& chart = QVariant())
    {
        auto date = [&](int d) { return d == kNone ? QVariant(QMetaType(QMetaType::QDate)) : QVariant(today.addDays(d)); };
        TestDb::insertRow(console->data().connTrellaneEMC, QStringLiteral("Registration"),
                          {{QStringLiteral("SerialNumber"), serial}, {QStringLiteral("DealerCode"), dealer},
                           {QStringLiteral("ChartNumber"), chart.isValid() ? chart : QStringLiteral("C%1").arg(serial)},
                           {QStringLiteral("RegisterName"), QStringLiteral("PRACTICE %1").arg(serial)},
                           {QStringLiteral("HasHCFA"), flags.contains(QLatin1Char('H'))},
                           {QStringLiteral("HasUB92"), flags.contains(QLatin1Char('U'))},
                           {QStringLiteral("HasERA"), flags.contains(QLatin1Char('E'))},
                           {QStringLiteral("IsMonthly"), flags.contains(QLatin1Char('M'))},
                           {QStringLiteral("ExpiresProf"), date(prof)}, {QStringLiteral("ExpiresInst"), date(inst)},
                           {QStringLiteral("ExpiresERA"), date(era)}});
    }

    // Each week that holds renewals as "week:Professional/Institutional/ERA=amount".
    static QStringList weeks(const Billing::RenewalsForecast& f)
    {
        QStringList out;
        for (int i = 0; i < f.weeks().size(); ++i) {
            const Billing::ForecastWeek& w = f.weeks()[i];
            if (w.total() || w.cents)
                out << QStringLiteral("%1:%2/%3/%4=%5").arg(i).arg(w.renewals[0]).arg(w.renewals[1]).arg(w.renewals[2])
                           .arg(Billing::formatAmount(w.cents));
        }
        return out;
    }

private slots:
    void initTestCase()
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        platform = std::make_unique<TestPlatform>();
        try {
            fill();
        } catch (const Db::EngineError& e) {
            QFAIL(qPrintable(e.message()));
        } catch (const std::exception& e) {
            QFAIL(e.what());
        }
    }

private:
    void fill()
    {
        console = std::make_unique<TestConsole>(QStringLiteral("forecast"));
        const QString m = QStringLiteral("M"), acme = QStringLiteral("ACME");
        addAccount(1, m, QStringLiteral("H"), 1);                 // first day of week 1
        addAccount(2, m, QStringLiteral("H"), 7);                 // its last day
        addAccount(3, m, QStringLiteral("HU"), 8, 8);             // week 2, Institutional at the second price
        addAccount(4, m, QStringLiteral("U"), kNone, 91);         // last day of week 13, first price
        addAccount(5, m, QStringLiteral("H"), 92);                // after the 13 weeks
        addAccount(6, m, QStringLiteral("H"), 0);                 // today
        addAccount(7, m, QStringLiteral("HUE"), kNone);           // no dates
        addAccount(8, m, QStringLiteral("U"), kNone, kNone, 3);   // ERA due but not subscribed
        addAccount(9, m, QStringLiteral("HEM"), 14, kNone, 15);   // monthly
        addAccount(10, acme, QStringLiteral("UM"), kNone, 2);     // a reseller's monthly Institutional: no charge
        addAccount(11, acme, QStringLiteral("HU"), 3, 3);         // a reseller's Institutional: always the first price
        addAccount(12, QVariant(QMetaType(QMetaType::QString)), QStringLiteral("H"), 1);  // no reseller: neither
        addAccount(13, m, QStringLiteral("H"), 5, kNone, kNone, QStringLiteral("  "));  // blank charts: counted apart
        addAccount(14, m, QStringLiteral("UE"), kNone, 20, 21, QVariant(QMetaType(QMetaType::QString)));
    }

private slots:
    void cleanupTestCase()
    {
        console.reset();
        platform.reset();
        QLocale::setDefault(QLocale::c());
    }

    void weeklyCounts_data()
    {
        QTest::addColumn<int>("scope");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QString>("total");
        QTest::addColumn<int>("blank");
        QTest::newRow("M") << int(Billing::ForecastScope::Direct)
                           << QStringList{"0:2/0/0=1198.00", "1:2/1/0=963.00", "2:0/0/1=65.00", "12:0/1/0=599.00"}
                           << "Total: 7 renewals, 2825.00" << 3;
        QTest::newRow("resellers") << int(Billing::ForecastScope::Resellers) << QStringList{"0:1/2/0=1198.00"}
                                   << "Total: 3 renewals, 1198.00" << 0;
    }
    void weeklyCounts()
    {
        QFETCH(int, scope);
        QFETCH(QStringList, expected);
        QFETCH(QString, total);
        QFETCH(int, blank);
        DefaultPrices prices;
        Billing::RenewalsForecast f(*console->data().connTrellaneEMC);
        f.load(Billing::ForecastScope(scope), prices);
        QCOMPARE(f.weeks().size(), 13);
        QCOMPARE(f.weeks().first().first, today.addDays(1));
        QCOMPARE(f.weeks().first().last, today.addDays(7));
        QCOMPARE(f.weeks().last().last, today.addDays(91));
        QCOMPARE(weeks(f), expected);
        QCOMPARE(QStringLiteral("Total: %1 renewals, %2").arg(f.totalRenewals()).arg(Billing::formatAmount(f.totalCents())), total);
        QCOMPARE(f.blankChartRenewals(), blank);
    }

    // The tab's button opens the window on the tab's prices; a price that is
    // not a number is reported and nothing is counted, unless no renewal needs it.
    void window()
    {
        auto* tab = new TBillingTab(*console, console->host());
        tab->findChild<QLineEdit*>(QStringLiteral("edtAnnProfChg"))->setText(QStringLiteral("600.00"));
        tab->findChild<QLineEdit*>(QStringLiteral("edtMOInstChg"))->setText(QStringLiteral("n/a"));  // no direct monthly Institutional
        tab->findChild<QPushButton*>(QStringLiteral("btnForecast"))->click();
        QVERIFY(platform->errors.isEmpty());
        QVERIFY(tab->forecastWindow());
        QCOMPARE(tab->forecastWindow()->totalText(), QStringLiteral("Total: 7 renewals, 2828.00. Not billable, blank chart: 3 renewals"));
        QCOMPARE(tab->forecastWindow()->findChild<QLabel*>(QStringLiteral("lblTotal"))->text(), QStringLiteral("Total: 7 renewals, 2828.00. Not billable, blank chart: 3 renewals"));
        tab->findChild<QLineEdit*>(QStringLiteral("edtAnnProfChg"))->setText(QStringLiteral("6x"));
        tab->findChild<QPushButton*>(QStringLiteral("btnForecast"))->click();
        QCOMPARE(platform->errors, QStringList{"'6x' is not a valid floating point value"});
        delete tab->forecastWindow();
    }
};

QTEST_MAIN(TestForecast)
#include "test_forecast.moc"
