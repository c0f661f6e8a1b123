#include "dealers/DealersTab.h"

#include "accounts/EntryRules.h"
#include "helpers/Command.h"
#include "helpers/Platform.h"
#include "helpers/Trellane.h"
#include "shell/Console.h"
#include "shell/DataModule.h"
#include "ui_DealersTab.h"

#include <QLocale>
#include <QPlainTextEdit>
#include <QTextEdit>

namespace {

// The panel's boxes and their fields, in the order Save writes them.
struct Box {
    QLineEdit* Ui::DealersTab::*edit;
    const char* field;
    bool phone;
};

const Box kSaved[] = {
    {&Ui::DealersTab::edtDealerCode, "DealerCode", false},
    {&Ui::DealersTab::edtDealerFirst, "FirstName", false},
    {&Ui::DealersTab::edtDealerLast, "LastName", false},
    {&Ui::DealersTab::edtDealerName, "Name", false},
    {&Ui::DealersTab::edtDealerStr1, "Street1", false},
    {&Ui::DealersTab::edtDealerStr2, "Street2", false},
    {&Ui::DealersTab::edtDealerCty, "City", false},
    {&Ui::DealersTab::edtDealerState, "State", false},
    {&Ui::DealersTab::edtDealerZip, "ZipCode", false},
    {nullptr, "OfficePhone", true},
    {nullptr, "HomePhone", true},
    {nullptr, "CellPhone", true},
    {nullptr, "Fax", true},
    {&Ui::DealersTab::edtDealerEmail, "Email", false},
    {&Ui::DealersTab::edtVendorID2, "VendorID", false},
    {&Ui::DealersTab::edtDealerChart, "ChartNumber", false},
    {&Ui::DealersTab::edtDealerWebsite, "WebAddress", false},
};

// The notice's dates: two-digit month and day and four-digit year, joined by
// the regional date separator.
QString noticeDate(const QDate& d)
{
    const QString shortFormat = QLocale::system().dateFormat(QLocale::ShortFormat);
    QChar sep = QLatin1Char('/');
    for (QChar c : shortFormat) {
        if (c == QLatin1Char('/') || c == QLatin1Char('.') || c == QLatin1Char('-')) {
            sep = c;
            break;
        }
    }
    return d.toString(QStringLiteral("MM%1dd%1yyyy").arg(sep));
}

} // namespace

TDealersTab::TDealersTab(Console& console, QWidget* parent)
    : QWidget(parent)
    , m_console(console)
    , ui(std::make_unique<Ui::DealersTab>())
{
    ui->setupUi(this);
    ui->cbDealer->setCurrentIndex(-1);
    Accounts::setUpperCase(ui->edtDealerSrch, true);
    Accounts::setUpperCase(ui->edtDealerChart, true);
    Accounts::setUpperCase(ui->edtDealerProv, true);
    ui->edtDealerCode->setReadOnly(true);

    TDataModule& data = m_console.data();
    ui->DBGrid4->setDataSet(data.tblDealer);
    connect(data.tblDealer, &Db::DataSet::afterScroll, this, [this] { Trellane::runCommand([this] { LoadDealer(); }); });

    Trellane::onClick(ui->btnNewDealer, this, [this] { btnNewDealerClick(); });
    Trellane::onClick(ui->btnSavDealer, this, [this] { btnSavDealerClick(); });
    Trellane::onClick(ui->btnCancelDealer, this, [this] { btnCancelDealerClick(); });
    Trellane::onClick(ui->btnDelDealer, this, [this] { btnDelDealerClick(); });
    Trellane::onClick(ui->Button10, this, [this] { Button10Click(); });
    Trellane::onCommand(ui->cbDealer, qOverload<int>(&QComboBox::activated), this, [this](int) { cbDealerChange(); });
    Trellane::onCommand(ui->edtDealerSrch, &QLineEdit::textChanged, this, [this](const QString&) { edtDealerSrchChange(); });
}

TDealersTab::~TDealersTab() = default;

void TDealersTab::LoadDealer()
{
    m_console.DisableButtons(false);
    Db::Table& t = *m_console.data().tblDealer;
    auto text = [&t](const char* field) {
        return t.isOpen() ? t.fieldByName(QString::fromLatin1(field)).asString() : QString();
    };
    ui->edtDealerCode->setText(text("DealerCode"));
    ui->edtDealerFirst->setText(text("FirstName"));
    ui->edtDealerLast->setText(text("LastName"));
    ui->edtDealerName->setText(text("Name"));
    ui->edtDealerStr1->setText(text("Street1"));
    ui->edtDealerStr2->setText(text("Street2"));
    ui->edtDealerCty->setText(text("City"));
    ui->edtDealerState->setText(text("State"));
    ui->edtDealerZip->setText(text("ZipCode"));
    ui->edtDealerWebsite->setText(text("WebAddress"));
    ui->edtDealerOffice->setText(Accounts::phoneDisplay(text("OfficePhone")));
    ui->edtDealerHome->setText(Accounts::phoneDisplay(text("HomePhone")));
    ui->edtDealerCell->setText(Accounts::phoneDisplay(text("CellPhone")));
    ui->edtDealerFax->setText(Accounts::phoneDisplay(text("Fax")));
    ui->edtDealerEmail->setText(text("Email"));
    ui->edtVendorID2->setText(text("VendorID"));
    ui->edtDealerChart->setText(text("ChartNumber"));
    ui->edtDealerProv->setText(text("Provider"));
    m_console.DisableButtons(true);
}

void TDealersTab::btnNewDealerClick()
{
    m_console.DisableButtons(false);
    m_console.data().tblDealer->append();
    ui->edtDealerCode->setReadOnly(false);
    m_console.DisableButtons(true);
}

void TDealersTab::writeBoxes()
{
    Db::Table& t = *m_console.data().tblDealer;
    for (const Box& b : kSaved) {
        QString value;
        if (b.phone) {
            const QString field = QString::fromLatin1(b.field);
            Accounts::PhoneEdit* box = field == QLatin1String("OfficePhone") ? ui->edtDealerOffice
                : field == QLatin1String("HomePhone")                        ? ui->edtDealerHome
                : field == QLatin1String("CellPhone")                        ? ui->edtDealerCell
                                                                              : ui->edtDealerFax;
            value = Trellane::KeepAlphaNumeric(box->text(), false);
        } else {
            value = ((*ui).*(b.edit))->text();
        }
        t.fieldByName(QString::fromLatin1(b.field)).setValue(value);
    }
}

void TDealersTab::btnSavDealerClick()
{
    TDataModule& data = m_console.data();
    Db::Table& t = *data.tblDealer;
    Db::Query& vendor = *data.qryVendorID;
    ui->edtDealerCode->setReadOnly(true);

    // Another dealer holding the vendor ID refuses the save. An empty vendor
    // ID never conflicts: many dealers have none.
    const QString vid = ui->edtVendorID2->text();
    if (!vid.trimmed().isEmpty()) {
        vendor.close();
        vendor.setParam(QStringLiteral("vid"), vid);
        vendor.open();
        if (vendor.recordCount() > 0
            && vendor.fieldByName(QStringLiteral("DealerCode")).asString() != ui->edtDealerCode->text()) {
            vendor.next();
            const QString holder = vendor.fieldByName(QStringLiteral("DealerCode")).asString();
            vendor.close();
            Trellane::platform().showMessage(QStringLiteral("The VendorID is already being used in ") + holder);
            return;
        }
    }

    const bool adding = t.state() == Db::DataSetState::Insert;
    if (t.state() == Db::DataSetState::Browse)
        t.edit();
    m_console.DisableButtons(false);
    try {
        writeBoxes();
        t.post();
    } catch (const Db::EngineError&) {
        // The typed entries stay in the boxes. A new dealer stays a pending,
        // still empty new record, so that a later search discards it cleanly
        // and the next Save appends it again; an existing dealer keeps its
        // stored values.
        QList<QString> typed;
        const QList<QLineEdit*> boxes = ui->pnlDealer->findChildren<QLineEdit*>();
        for (QLineEdit* e : boxes)
            typed << e->text();
        t.cancel();
        if (adding)
            t.append();
        for (int i = 0; i < boxes.size(); ++i)
            boxes[i]->setText(typed[i]);
        if (adding)
            ui->edtDealerCode->setReadOnly(false);
        vendor.close();
        throw;  // the error box shows the engine's message
    }
    m_console.DisableButtons(true);
    vendor.close();
}

void TDealersTab::btnCancelDealerClick()
{
    m_console.DisableButtons(false);
    m_console.data().tblDealer->cancel();
    m_console.DisableButtons(true);
}

void TDealersTab::btnDelDealerClick()
{
    m_console.DisableButtons(false);
    if (Trellane::platform().askYesNo(QStringLiteral("Are you sure you want to delete this record?")))
        m_console.data().tblDealer->del();
    m_console.DisableButtons(true);
}

void TDealersTab::cbDealerChange()
{
    static const char* const orders[] = {"DealerCode", "Name", "LastName", "VendorID"};
    const int i = ui->cbDealer->currentIndex();
    Db::Table& t = *m_console.data().tblDealer;
    if (i >= 0 && i < 4) {
        t.checkBrowseMode();
        t.setIndexFieldNames(QString::fromLatin1(orders[i]));
        t.findNearest({ui->edtDealerSrch->text()});
    }
    ui->edtDealerSrch->setFocus();
}

void TDealersTab::edtDealerSrchChange()
{
    Db::Table& t = *m_console.data().tblDealer;
    if (!t.isOpen())
        return;
    t.findNearest({ui->edtDealerSrch->text()});
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
    const QStringList saved = q.sql();
    m_console.Memo2()->clear();
    m_console.Memo2()->setPlainText(saved.join(QLatin1Char('\n')));
    // Puts the stored text back however the run ends.
    struct Restore {
        Db::Query& q;
        QStringList lines;
        QPushButton* button;
        ~Restore()
        {
            q.close();
            q.setSql(lines);
            button->setEnabled(true);
        }
    } restore{q, saved, ui->Button10};

    // The dealer's code is a bound value, so any code (quotes included)
    // selects its own accounts and cannot change the statement.
    q.insertSqlLine(int(saved.size()) - 1, QStringLiteral("and reg.DealerCode = :NoticeDealerCode"));
    q.setParam(QStringLiteral("NoticeDealerCode"), data.tblDealer->fieldByName(QStringLiteral("DealerCode")).asString());
    q.open();

    QStringList lines;
    lines << QStringLiteral("Here is a list of upcoming registrations I show for your company.") << QString();
    for (q.first(); !q.eof(); q.next()) {
        lines << noticeLine(q.fieldByName(QStringLiteral("SerialNumber")).asInteger(),
                            q.fieldByName(QStringLiteral("RegisterName")).asString(),
                            q.fieldByName(QStringLiteral("OtherName")).asString(),
                            q.fieldByName(QStringLiteral("ExpiresProf")).asDate(),
                            q.fieldByName(QStringLiteral("ExpiresInst")).asDate(),
                            q.fieldByName(QStringLiteral("ExpiresERA")).asDate());
    }
    lines << QString();
    QTextEdit* rich = m_console.RichEdit1();
    rich->clear();
    // Every line, the last empty one included, ends with a line break.
    rich->setPlainText(lines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
    Trellane::platform().setClipboardText(rich->toPlainText());
}
