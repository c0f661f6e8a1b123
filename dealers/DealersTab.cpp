#include "dealers/DealersTab.h"

#include "customerdb/DataModule.h"
#include "customerdb/Engine.h"
#include "helpers/Command.h"
#include "helpers/Console.h"
#include "helpers/EntryRule.h"
#include "helpers/PhoneEdit.h"
#include "helpers/Platform.h"
#include "helpers/Trellane.h"
#include "ui_DealersTab.h"

#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QTextEdit>

#include <iterator>

namespace {

// Text as the database stores and seeks it: without trailing blanks.
QString asStored(const QString& text)
{
    qsizetype n = text.size();
    while (n > 0 && text.at(n - 1) == QLatin1Char(' '))
        --n;
    return text.left(n);
}

// Key field of each item of the order list.
const char* const kOrders[] = {"DealerCode", "Name", "LastName", "VendorID"};

const QString kHeading = QStringLiteral("Here is a list of upcoming registrations I show for your company.");

QString field(Db::DataSet& ds, const char* name)
{
    return ds.fieldByName(QString::fromLatin1(name)).asString();
}

} // namespace

TDealersTab::TDealersTab(Console& console, QWidget* parent)
    : QWidget(parent)
    , m_console(console)
    , ui(std::make_unique<Ui::DealersTab>())
{
    ui->setupUi(this);
    ui->cbDealer->setCurrentIndex(-1);
    // The entry limits of the form restrict typing only: a stored value is
    // shown and saved whole.
    for (QLineEdit* e : findChildren<QLineEdit*>()) {
        if (e->maxLength() < 32767)
            Trellane::EntryRule::of(e);
    }
    for (QLineEdit* e : {ui->edtDealerSrch, ui->edtDealerChart, ui->edtDealerProv})
        Trellane::EntryRule::of(e)->setUpperCase(true);
    ui->edtDealerCode->setReadOnly(true);

    TDataModule& data = m_console.data();
    ui->DBGrid4->setDataSet(data.tblDealer);
    ui->DBGrid4->setReadOnlyGrid(true);
    connect(data.tblDealer, &Db::DataSet::afterScroll, this,
            [this] { Trellane::runCommand([this] { tblDealerAfterScroll(); }); });

    Trellane::onClick(ui->btnNewDealer, this, [this] { btnNewDealerClick(); });
    Trellane::onClick(ui->btnSavDealer, this, [this] { btnSavDealerClick(); });
    Trellane::onClick(ui->btnCancelDealer, this, [this] { btnCancelDealerClick(); });
    Trellane::onClick(ui->btnDelDealer, this, [this] { btnDelDealerClick(); });
    Trellane::onClick(ui->Button10, this, [this] { Button10Click(); });
    Trellane::onClick(ui->btnHistoryDealer, this, [this] { btnHistoryDealerClick(); });
    // "Add Charges" (Button12) and "Preview Charges" belong to the dealer
    // billing run, which the main window connects to these signals.
    connect(ui->Button12, &QPushButton::clicked, this, &TDealersTab::addChargesClicked);
    connect(ui->btnPreviewCharges, &QPushButton::clicked, this, &TDealersTab::previewChargesClicked);
    Trellane::onCommand(ui->cbDealer, &QComboBox::activated, this, [this](int) { cbDealerChange(); });
    Trellane::onCommand(ui->edtDealerSrch, &QLineEdit::textChanged, this,
                        [this](const QString&) { edtDealerSrchChange(); });
}

TDealersTab::~TDealersTab() = default;

void TDealersTab::setAddChargesEnabled(bool enabled)
{
    ui->Button12->setEnabled(enabled);
    ui->btnPreviewCharges->setEnabled(enabled);
}

void TDealersTab::LoadDealer()
{
    const Trellane::ButtonsDisabled busy(m_console);
    Db::Table& t = *m_console.data().tblDealer;
    // A pending new record is current too (with empty fields).
    const bool hasRecord = t.isOpen() && (t.state() == Db::DataSetState::Insert || !t.isEmpty());
    auto text = [&](const char* name) { return hasRecord ? field(t, name) : QString(); };
    using Trellane::EntryRule;
    EntryRule::showText(ui->edtDealerCode, text("DealerCode"));
    EntryRule::showText(ui->edtDealerFirst, text("FirstName"));
    EntryRule::showText(ui->edtDealerLast, text("LastName"));
    EntryRule::showText(ui->edtDealerName, text("Name"));
    EntryRule::showText(ui->edtDealerStr1, text("Street1"));
    EntryRule::showText(ui->edtDealerStr2, text("Street2"));
    EntryRule::showText(ui->edtDealerCty, text("City"));
    EntryRule::showText(ui->edtDealerState, text("State"));
    EntryRule::showText(ui->edtDealerZip, text("ZipCode"));
    EntryRule::showText(ui->edtDealerWebsite, text("WebAddress"));
    ui->edtDealerOffice->setText(text("OfficePhone"));
    ui->edtDealerHome->setText(text("HomePhone"));
    ui->edtDealerCell->setText(text("CellPhone"));
    ui->edtDealerFax->setText(text("Fax"));
    EntryRule::showText(ui->edtDealerEmail, text("Email"));
    EntryRule::showText(ui->edtVendorID2, text("VendorID"));
    EntryRule::showText(ui->edtDealerChart, text("ChartNumber"));
    EntryRule::showText(ui->edtDealerProv, text("Provider"));
}

void TDealersTab::btnNewDealerClick()
{
    const Trellane::ButtonsDisabled busy(m_console);
    m_console.data().tblDealer->append();  // the empty record empties the panel
    ui->edtDealerCode->setReadOnly(false);
}

void TDealersTab::btnSavDealerClick()
{
    TDataModule& data = m_console.data();
    Db::Table& t = *data.tblDealer;
    Db::Query& vendors = *data.qryVendorID;
    // A half-typed phone is refused before anything else happens.
    if (!TPhoneEdit::validatePanel(ui->pnlDealer))
        return;
    ui->edtDealerCode->setReadOnly(true);

    // No two dealers may hold one vendor ID. The query's first row passing
    // as the dealer being saved is enough; otherwise the message names the
    // query's second row when there is one. An empty vendor ID never
    // conflicts: any number of dealers may have none. Trailing blanks do not
    // count, as they are not stored.
    const QString vendorId = asStored(ui->edtVendorID2->text());
    if (!vendorId.trimmed().isEmpty()) {
        vendors.close();
        vendors.setParam(QStringLiteral("vid"), vendorId);
        vendors.open();
        if (vendors.recordCount() > 0 && field(vendors, "DealerCode") != asStored(ui->edtDealerCode->text())) {
            vendors.next();
            const QString holder = field(vendors, "DealerCode");
            vendors.close();
            Trellane::platform().showMessage(QStringLiteral("The VendorID is already being used in ") + holder);
            return;
        }
    }

    // What the boxes hold now, in the order the fields are written.
    auto phone = [](const TPhoneEdit* e) { return Trellane::KeepAlphaNumeric(e->text(), false); };
    const QList<QPair<const char*, QString>> values = {
        {"DealerCode", ui->edtDealerCode->text()},   {"FirstName", ui->edtDealerFirst->text()},
        {"LastName", ui->edtDealerLast->text()},     {"Name", ui->edtDealerName->text()},
        {"Street1", ui->edtDealerStr1->text()},      {"Street2", ui->edtDealerStr2->text()},
        {"City", ui->edtDealerCty->text()},          {"State", ui->edtDealerState->text()},
        {"ZipCode", ui->edtDealerZip->text()},       {"OfficePhone", phone(ui->edtDealerOffice)},
        {"HomePhone", phone(ui->edtDealerHome)},     {"CellPhone", phone(ui->edtDealerCell)},
        {"Fax", phone(ui->edtDealerFax)},            {"Email", ui->edtDealerEmail->text()},
        {"VendorID", ui->edtVendorID2->text()},      {"ChartNumber", ui->edtDealerChart->text()},
        {"WebAddress", ui->edtDealerWebsite->text()},
    };
    // The panel as typed, to put back if the database refuses the dealer.
    QList<QPair<QLineEdit*, QString>> typed;
    for (QLineEdit* e : ui->pnlDealer->findChildren<QLineEdit*>()) {
        const auto* p = qobject_cast<TPhoneEdit*>(e);
        typed.append({e, p ? p->text() : e->text()});
    }

    auto putBackTyped = [&typed] {
        for (const auto& [e, text] : typed) {
            if (auto* p = qobject_cast<TPhoneEdit*>(e))
                p->setText(text);
            else
                Trellane::EntryRule::showText(e, text);
        }
    };

    const auto closeVendors = qScopeGuard([&] { vendors.close(); });
    const bool adding = t.state() == Db::DataSetState::Insert || t.isEmpty();
    const QString storedCode = adding ? QString() : field(t, "DealerCode");
    if (t.state() == Db::DataSetState::Browse) {
        t.edit();
        if (adding)
            putBackTyped();  // on an empty table Edit starts a new, empty record
    }
    const Trellane::ButtonsDisabled busy(m_console);
    try {
        for (const auto& [name, value] : values)
            t.fieldByName(QString::fromLatin1(name)).setValue(value);
        t.post();
        m_console.showStatus(QStringLiteral("Dealer %1 %2.").arg(field(t, "DealerCode"),
                                                                 adding ? QStringLiteral("added") : QStringLiteral("saved")));
    } catch (const Db::EngineError& e) {
        // Nothing typed is lost and no stored dealer takes the entries: an
        // existing dealer keeps its stored values and the boxes their text;
        // a new dealer stays a pending (still blank) new record, which the
        // next Save stores and a search discards, with its Code editable.
        t.cancel();
        if (adding) {
            t.append();
            putBackTyped();
            ui->edtDealerCode->setReadOnly(false);
        }
        const QString code = asStored(ui->edtDealerCode->text());
        if (!e.isUniqueViolation() || code == storedCode || !codeIsStored(code))
            throw;  // the error box shows the engine's message
        Trellane::platform().showMessage(
            QStringLiteral("The dealer code %1 is already in use by another dealer. Nothing was stored.").arg(code));
    }
}

bool TDealersTab::codeIsStored(const QString& code)
{
    Db::Query& q = *m_console.data().qryDealer;
    q.close();
    q.setParam(QStringLiteral("cod"), code);
    q.open();
    const bool stored = !q.isEmpty();
    q.close();
    return stored;
}

void TDealersTab::btnCancelDealerClick()
{
    const Trellane::ButtonsDisabled busy(m_console);
    m_console.data().tblDealer->cancel();
}

void TDealersTab::btnDelDealerClick()
{
    const Trellane::ButtonsDisabled busy(m_console);
    if (Trellane::platform().askYesNo(QStringLiteral("Are you sure you want to delete this record?")))
        m_console.data().tblDealer->del();  // a pending new record is discarded instead
}

void TDealersTab::cbDealerChange()
{
    const int item = ui->cbDealer->currentIndex();
    Db::Table& t = *m_console.data().tblDealer;
    if (item >= 0 && item < int(std::size(kOrders)) && t.isOpen()) {
        t.checkBrowseMode();
        t.setIndexFieldNames(QString::fromLatin1(kOrders[item]));
        t.findNearest({ui->edtDealerSrch->text()});
    }
    ui->edtDealerSrch->setFocus();
}

void TDealersTab::edtDealerSrchChange()
{
    Db::Table& t = *m_console.data().tblDealer;
    if (t.isOpen())
        t.findNearest({ui->edtDealerSrch->text()});
}

QString TDealersTab::noticeDate(const QDate& date)
{
    // The separator of the regional short date format ("M/d/yy" on US
    // settings).
    QChar sep = QLatin1Char('/');
    for (const QChar c : QLocale::system().dateFormat(QLocale::ShortFormat)) {
        if (!c.isLetterOrNumber() && c != QLatin1Char('\'') && !c.isSpace()) {
            sep = c;
            break;
        }
    }
    return date.toString(QStringLiteral("MM%1dd%1yyyy").arg(sep));
}

QString TDealersTab::noticeLine(int serialNumber, const QString& registerName, const QString& otherName,
                                const QDate& prof, const QDate& inst, const QDate& era)
{
    QString line = QString::number(serialNumber) + QStringLiteral("  ") + registerName;
    line += registerName.size() < 25 ? QStringLiteral("\t\t") : QStringLiteral("\t");
    line += otherName + QStringLiteral("  ");
    if (otherName.size() < 25)
        line += QLatin1Char('\t');
    if (otherName.size() < 16)
        line += QLatin1Char('\t');
    if (prof.isValid())
        line += QStringLiteral("\tpro ") + noticeDate(prof);
    if (inst.isValid())
        line += QStringLiteral("\tinst ") + noticeDate(inst);
    if (era.isValid())
        line += QStringLiteral("\tera ") + noticeDate(era);
    return line;
}

void TDealersTab::Button10Click()
{
    TDataModule& data = m_console.data();
    Db::Query& q = *data.qryFutureRegs;
    ui->Button10->setEnabled(false);
    q.close();
    const QStringList stored = q.sql();
    m_console.Memo2()->clear();
    m_console.Memo2()->setPlainText(stored.join(QLatin1Char('\n')));
    // The stored text comes back and the button is enabled again however
    // the run ends.
    const auto restore = qScopeGuard([&] {
        q.close();
        q.setSql(stored);
        ui->Button10->setEnabled(true);
    });

    // The dealer's code is bound as a value, so that any code, quotes
    // included, selects its own accounts and cannot alter the statement.
    q.insertSqlLine(int(stored.size()) - 1, QStringLiteral("and reg.DealerCode = :dcode"));
    q.setParam(QStringLiteral("dcode"), field(*data.tblDealer, "DealerCode"));
    q.open();

    QStringList lines{kHeading, QString()};
    for (q.first(); !q.eof(); q.next()) {
        lines << noticeLine(q.fieldByName(QStringLiteral("SerialNumber")).asInteger(), field(q, "RegisterName"),
                            field(q, "OtherName"), q.fieldByName(QStringLiteral("ExpiresProf")).asDate(),
                            q.fieldByName(QStringLiteral("ExpiresInst")).asDate(),
                            q.fieldByName(QStringLiteral("ExpiresERA")).asDate());
    }
    lines << QString();

    QTextEdit* rich = m_console.RichEdit1();
    rich->clear();
    // Every line, the closing empty one included, ends with a line break.
    rich->setPlainText(lines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
    rich->selectAll();
    Trellane::platform().setClipboardText(rich->toPlainText());
    m_console.showStatus(QStringLiteral("Renewal notice for %1 copied to the clipboard.").arg(field(*data.tblDealer, "Name")));
}

void TDealersTab::btnHistoryDealerClick()
{
    Db::Table& dealer = *m_console.data().tblDealer;
    if (dealer.state() == Db::DataSetState::Insert || !dealer.isOpen() || dealer.isEmpty()) {
        Trellane::platform().showMessage(dealer.state() == Db::DataSetState::Insert
                                             ? QStringLiteral("The new dealer has no history yet.")
                                             : QStringLiteral("No dealer is shown."));
        return;
    }
    const QString code = dealer.fieldByName(QStringLiteral("DealerCode")).asString();
    const QString name = dealer.fieldByName(QStringLiteral("Name")).asString().trimmed();
    if (!m_history) {
        m_history = new THistoryWindow(m_console.window());
        m_history->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_history->showHistory(*m_console.data().connTrellaneEMC, {QStringLiteral("Dealers")}, code,
                           name.isEmpty() ? QStringLiteral("dealer %1").arg(code)
                                          : QStringLiteral("dealer %1 (%2)").arg(code, name));
    m_history->show();
    m_history->raise();
}
