#include "requests/RequestsTab.h"

#include "ui_RequestsTab.h"

#include "customerdb/DBGrid.h"
#include "customerdb/DataModule.h"
#include "helpers/Command.h"
#include "helpers/Console.h"
#include "helpers/EntryRule.h"
#include "helpers/Platform.h"
#include "requests/ReqRptFrm.h"


namespace {

const QString kRegistration = QStringLiteral("REGISTRATION");
const QString kSerialIndex = QStringLiteral("SERIALNUMBER");

// Request fields copied into the new account, in the order they are set.
const char* const kCopiedFields[] = {"RegisterName", "ContactName", "Street1", "Street2", "City", "State", "ZipCode",
                                     "Phone",        "Fax",         "Email",   "CoreProduct", "Specialty"};

// Runs fn with the account table on its serial-number index, then puts the
// order the account list had back (the cursor stays on its record).
template <typename Fn>
auto onSerialIndex(Db::Table& reg, Fn fn)
{
    const QString order = reg.indexName();
    if (order.compare(kSerialIndex, Qt::CaseInsensitive) == 0)
        return fn();
    reg.setIndexName(kSerialIndex);
    try {
        auto result = fn();
        reg.setIndexName(order);
        return result;
    } catch (...) {
        if (reg.state() == Db::DataSetState::Browse)
            reg.setIndexName(order);
        throw;
    }
}

} // namespace

TRequestsTab::TRequestsTab(Console& console, QWidget* parent)
    : QWidget(parent)
    , m_console(console)
    , ui(std::make_unique<Ui::RequestsTab>())
{
    ui->setupUi(this);
    Trellane::EntryRule::of(ui->edtReqRegisterName)->setUpperCase(true);
    ui->DBGrid1->setReadOnlyGrid(false);
    ui->DBGrid1->setDataSet(m_console.data().tblRequests);

    connect(ui->edtReqRegisterName, &QLineEdit::textChanged, this,
            [this] { Trellane::runCommand([this] { edtReqRegisterNameChange(); }); });
    Trellane::onClick(ui->Button1, this, [this] { Button1Click(); });
    Trellane::onClick(ui->Button2, this, [this] { Button2Click(); });
    Trellane::onClick(ui->Button3, this, [this] { Button3Click(); });
    Trellane::onClick(ui->Button4, this, [this] { Button4Click(); });
}

TRequestsTab::~TRequestsTab() = default;

// At its designed size the tab shows the grid 174 high over a band and the
// lower area as laid out. A larger tab gives the grid the extra height (the
// band going first) and shares the extra width between the two text areas,
// the check box, the buttons and Memo2 moving with the second one.
void TRequestsTab::resizeEvent(QResizeEvent* e)
{
    constexpr int kDesignWidth = 758, kDesignHeight = 649, kDesignBand = 109;
    const int extraWidth = qMax(0, width() - kDesignWidth);
    const int extraHeight = qMax(0, height() - kDesignHeight);
    ui->spacerReqGrid->changeSize(20, qMax(0, kDesignBand - extraHeight), QSizePolicy::Minimum, QSizePolicy::Fixed);
    ui->layoutRequestsTop->invalidate();
    const int left = extraWidth / 2, right = extraWidth - left;
    ui->RichEdit1->setGeometry(8, 8, 353 + left, 305);
    ui->cbAssignSN->move(369 + left, 8);
    for (QPushButton* b : {ui->Button2, ui->Button1, ui->Button3, ui->Button4})
        b->move(562 + left, b->y());
    ui->Memo2->setGeometry(369 + left, 152, 361 + right, 161);
    QWidget::resizeEvent(e);
}

QTextEdit* TRequestsTab::RichEdit1() const { return ui->RichEdit1; }

QPlainTextEdit* TRequestsTab::Memo2() const { return ui->Memo2; }

TDBGrid* TRequestsTab::DBGrid1() const { return ui->DBGrid1; }

QLineEdit* TRequestsTab::edtReqRegisterName() const { return ui->edtReqRegisterName; }

QCheckBox* TRequestsTab::cbAssignSN() const { return ui->cbAssignSN; }

TfrmReqReport* TRequestsTab::frmReqReport()
{
    if (!m_report) {
        m_report = new TfrmReqReport(m_console.data().tblRequests, m_console.window(), this);
        m_report->setQuietDuringWalk(ui->DBGrid1);
    }
    return m_report;
}

void TRequestsTab::edtReqRegisterNameChange()
{
    Db::Table* req = m_console.data().tblRequests;
    if (!req->isOpen())
        return;
    // A name that matches no request leaves the current request current.
    req->findKey({ui->edtReqRegisterName->text()});
}

void TRequestsTab::Button1Click()
{
    Db::Table* req = m_console.data().tblRequests;
    if (req->isOpen())
        req->refresh();
}

void TRequestsTab::Button3Click()
{
    if (!Trellane::platform().askYesNo(QStringLiteral("Are you sure you want to delete this request?")))
        return;
    m_console.data().tblRequests->del();
}

void TRequestsTab::Button4Click()
{
    frmReqReport()->Preview();
}

void TRequestsTab::Button2Click()
{
    TDataModule& dm = m_console.data();
    Db::Table& req = *dm.tblRequests;
    Db::Table& reg = *dm.tblRegistration;
    auto field = [&req](const char* name) { return req.fieldByName(QLatin1String(name)); };

    // Edits typed into the grid belong to the request that is added. Then
    // Add works from the request as stored: another console may have
    // changed or removed it since the list was read.
    if (req.isOpen()) {
        req.checkBrowseMode();
        if (!req.isEmpty()) {
            const qint64 row = req.currentRecord().rid;
            req.refresh();
            if (req.isEmpty() || req.currentRecord().rid != row)
                throw Db::recordChangedError();
        }
    }

    // 1. Only registration requests become accounts.
    if (field("RequestType").asString() != kRegistration)
        return;

    // 2. A request without a number gets the next free one when asked to;
    // it keeps it whatever happens later.
    if (ui->cbAssignSN->isChecked() && field("SerialNumber").asInteger() == 0) {
        Db::Query& last = *dm.qryLastSerial;
        last.close();
        last.open();
        req.edit();
        field("SerialNumber").setValue(last.fieldByName(QStringLiteral("LastSerial")).asInteger() + 1);
        req.post();
        last.close();
    }

    // 3./4. The number must be free, whatever order the account list is in.
    const int n = field("SerialNumber").asInteger();
    if (onSerialIndex(reg, [&] { return reg.findKey({n}); })) {
        Trellane::platform().showMessage(QStringLiteral("The serial number is in use."));
        return;
    }

    // 5. The account, written straight into the table.
    const Db::Record before = reg.currentRecord();
    const bool hadCurrent = !reg.isEmpty();
    reg.append();

    // 5.-7. Its fields set, the account stored and the request removed
    // together. Any failure leaves both tables as they were: the new account is not left
    // pending, where the next move of the account list would store it
    // outside the transaction.
    Db::Connection& conn = *dm.connTrellaneEMC;
    try {
        auto set = [&reg](const QString& name, const QVariant& v) { reg.fieldByName(name).setValue(v); };
        set(QStringLiteral("SerialNumber"), n);
        for (const char* name : kCopiedFields)
            set(QLatin1String(name), field(name).asString());
        set(QStringLiteral("Expires"), Trellane::platform().today().addDays(365));
        set(QStringLiteral("Promotion"), field("Promotion").asString());

        conn.beginTransaction();
        reg.post();
        req.del();
        conn.commit();
    } catch (...) {
        if (conn.inTransaction())
            conn.rollback();
        // Back to the account that was current before; a request deleted
        // before the commit failed is listed again.
        try {
            if (reg.state() == Db::DataSetState::Insert)
                reg.cancel();
            else if (reg.state() == Db::DataSetState::Browse && (!hadCurrent || !reg.gotoRecord(before)))
                reg.first();
            req.refresh();
        } catch (...) {
            // The first error is the one to show.
        }
        throw;
    }

    // 8. The new account becomes the current account; the account list
    // keeps its order.
    onSerialIndex(reg, [&] { return reg.findKey({n}); });
    emit accountAdded(n);
}
