#include "accounts/AccountsTab.h"

#include "ui_AccountsTab.h"

#include "accounts/DatePicker.h"
#include "accounts/EntryRules.h"
#include "customerdb/DataModule.h"
#include "customerdb/DataVersionName.h"
#include "helpers/Command.h"
#include "helpers/Console.h"
#include "helpers/EntryRule.h"
#include "helpers/PhoneEdit.h"
#include "helpers/Platform.h"
#include "helpers/Trellane.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QScopeGuard>
#include <QScrollBar>
#include <QShortcut>

using Accounts::ExpiryShade;

namespace {

// Index field list of each search order, its search box length, and whether
// choosing it seeks the box's text at once.
struct OrderRule {
    const char* fields;
    int boxLength;
    bool seekOnSelect;
};

const OrderRule kOrders[] = {
    {"SerialNumber", 10, true}, {"RegisterName", 50, true}, {"OtherName", 37, true},
    {"Phone", 10, true},        {"Fax", 10, true},          {"ChartNumber", 8, true},
    {"DealerCode", 10, true},   {"City", 10, true},         {"State", 2, true},
    {"ZipCode", 10, true},      {"DataVersion", 5, false},  {"EDIVersion", 10, false},
};

QString text(Db::DataSet* ds, const char* field)
{
    return ds->fieldByName(QLatin1String(field)).asString();
}

bool flag(Db::DataSet* ds, const char* field)
{
    return ds->fieldByName(QLatin1String(field)).asBoolean();
}

void write(Db::DataSet* ds, const char* field, const QVariant& value)
{
    ds->fieldByName(QLatin1String(field)).setValue(value);
}

// Shows a stored value in an entry, whole even when it is longer than
// typing may make it.
void showText(QLineEdit* edit, const QString& value)
{
    Trellane::EntryRule::showText(edit, value);
}

// Text as the database stores and seeks it: without trailing blanks.
QString asStored(const QString& text)
{
    qsizetype n = text.size();
    while (n > 0 && text.at(n - 1) == QLatin1Char(' '))
        --n;
    return text.left(n);
}

void paintPicker(TDatePicker* picker, ExpiryShade shade)
{
    const QColor back = Accounts::shadeColor(shade);
    if (picker->palette().color(QPalette::Base) == back)
        return;  // a palette change re-polishes the picker: skip it on every seek
    QPalette pal = picker->palette();
    pal.setColor(QPalette::Base, back);
    pal.setColor(QPalette::Text, shade == ExpiryShade::Normal ? QColor(Qt::black) : QColor(Qt::white));
    picker->setPalette(pal);
}

} // namespace

TAccountsTab::TAccountsTab(Console& console, QWidget* parent)
    : QWidget(parent)
    , m_console(console)
    , ui(std::make_unique<Ui::AccountsTab>())
{
    ui->setupUi(this);

    // Fields that are loaded and saved but not shown.
    for (QWidget* hidden : {static_cast<QWidget*>(ui->cbCoreProduct), static_cast<QWidget*>(ui->lblCoreProduct),
                            static_cast<QWidget*>(ui->edtPromotion), static_cast<QWidget*>(ui->lblPromotion),
                            static_cast<QWidget*>(ui->cbSorvanta), static_cast<QWidget*>(ui->dtpExpiresSV),
                            static_cast<QWidget*>(ui->cbNSF), static_cast<QWidget*>(ui->dtpExpiresNSF)})
        hidden->hide();

    // The entry limits of the form restrict typing only: they never cut a
    // stored value or the search text.
    for (QLineEdit* e : findChildren<QLineEdit*>()) {
        if (e->maxLength() < 32767)
            Trellane::EntryRule::of(e);
    }
    Accounts::setUpperCase(ui->edtRegisterName, true);
    Accounts::setUpperCase(ui->edtState, true);
    Accounts::setUpperCase(ui->edtDealer, true);
    Accounts::setUpperCase(ui->edtAcctSrch, true);

    TDataModule& dm = m_console.data();
    if (const Db::TableDef* reg = dm.connTrellaneEMC->catalog().table(QStringLiteral("Registration")))
        if (const Db::FieldDef* notes = reg->field(QStringLiteral("NOTES")))
            ui->Memo1->setMaxLength(notes->size);
    ui->DBGrid3->setReadOnlyGrid(true);
    ui->DBGrid3->setDataSet(dm.tblRegistration);

    connect(dm.tblRegistration, &Db::DataSet::afterScroll, this, [this] {
        // A cursor move inside another command: a failure to show the record
        // must not unwind through the engine's notification.
        try {
            tblRegistrationAfterScroll();
        } catch (...) {
            Trellane::platform().showError(Trellane::errorText(std::current_exception()));
        }
    });
    connectCommands();
    for (QObject* gridPart : {static_cast<QObject*>(ui->DBGrid3), static_cast<QObject*>(ui->DBGrid3->viewport()),
                              static_cast<QObject*>(ui->DBGrid3->verticalScrollBar())})
        gridPart->installEventFilter(this);
}

TAccountsTab::~TAccountsTab() = default;

void TAccountsTab::connectCommands()
{
    using Trellane::onClick;
    onClick(ui->btnNewSN, this, [this] { btnNewSNClick(); });
    onClick(ui->btnSavSN, this, [this] { btnSavSNClick(); });
    onClick(ui->btnCancelSN, this, [this] { btnCancelSNClick(); });
    onClick(ui->btnDelSN, this, [this] { btnDelSNClick(); });
    onClick(ui->btnRefresh, this, [this] { btnRefreshClick(); });
    onClick(ui->Button13, this, [this] { Button13Click(); });
    onClick(ui->Button5, this, [this] { Button5Click(); });
    onClick(ui->btnUpdate, this, [this] { btnUpdateClick(); });
    onClick(ui->btnHistory, this, [this] { btnHistoryClick(); });
    Trellane::onCommand(ui->cbAcctIdx, &QComboBox::currentIndexChanged, this, [this](int) { cbAcctIdxChange(); });
    Trellane::onCommand(ui->edtAcctSrch, &QLineEdit::textChanged, this, [this](const QString&) { edtAcctSrchChange(); });

    // Escape works as "&Cancel" anywhere on the tab, while the button is usable.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WidgetWithChildrenShortcut);
    connect(escape, &QShortcut::activated, this, [this] {
        if (ui->btnCancelSN->isEnabled())
            ui->btnCancelSN->click();
    });
}

// ---- Account panel ----------------------------------------------------------

void TAccountsTab::LoadAccount()
{
    Db::Table* reg = m_console.data().tblRegistration;
    if (reg->isOpen()) {
        const QString notes = Accounts::trimControls(text(reg, "NOTES"));
        if (ui->Memo1->toPlainText() != notes)
            ui->Memo1->setPlainText(notes);

        const QString dataVersion = text(reg, "DataVersion");
        ui->Label40->setText(QStringLiteral("Medisoft ")
                             + (dataVersion.isEmpty() ? QStringLiteral("?") : DataVersionName(dataVersion)));
        const QString ediVersion = text(reg, "EDIVERSION");
        ui->Label41->setText(ediVersion.isEmpty() ? QStringLiteral("EDI Version Unknown")
                                                  : QStringLiteral("EDI Version ") + ediVersion);

        showText(ui->edtRegisterName, text(reg, "RegisterName"));
        showText(ui->edtOtherName, text(reg, "OtherName"));
        showText(ui->edtStreet1, text(reg, "Street1"));
        showText(ui->edtStreet2, text(reg, "Street2"));
        showText(ui->edtCity, text(reg, "City"));
        showText(ui->edtState, text(reg, "State"));
        showText(ui->edtZipCode, text(reg, "ZipCode"));
        showText(ui->edtChartNumber, text(reg, "ChartNumber"));

        for (auto [box, field] : {std::pair{ui->edtFax, "Fax"}, std::pair{ui->edtPhone, "Phone"}}) {
            const QString shown = TPhoneEdit::displayForm(text(reg, field));
            if (box->text() != shown)
                box->setText(shown);
        }

        showText(ui->edtVendorID, text(reg, "VendorID"));
        showText(ui->edtDealer, text(reg, "DealerCode"));
        showText(ui->edtEmail, text(reg, "Email"));
        showText(ui->edtSpecialty, text(reg, "Specialty"));
        showText(ui->edtContact, text(reg, "ContactName"));
        ui->cbAgreement->setChecked(flag(reg, "Agreement"));
        ui->cbMonthly->setChecked(flag(reg, "IsMonthly"));
        ui->cbProfessional->setChecked(flag(reg, "HasHCFA"));
        ui->cbInstitutional->setChecked(flag(reg, "HasUB92"));
        ui->cbERA->setChecked(flag(reg, "HasERA"));
        ui->cbSorvanta->setChecked(flag(reg, "HasMX"));
        ui->cbNSF->setChecked(flag(reg, "HasNSF"));
        showText(ui->edtAuth, text(reg, "Authorization"));

        // The pickers only show dates; a failure here leaves the rest as shown.
        try {
            showExpiry(ui->dtpExpiresProf, QStringLiteral("ExpiresProf"), QStringLiteral("HasHCFA"));
            showExpiry(ui->dtpExpiresInst, QStringLiteral("ExpiresInst"), QStringLiteral("HasUB92"));
            showExpiry(ui->dtpExpiresERA, QStringLiteral("ExpiresERA"), QStringLiteral("HasERA"));
            showDate(ui->dtpExpiresSV, QStringLiteral("ExpiresSV"));
            showDate(ui->dtpExpiresNSF, QStringLiteral("ExpiresNSF"));
        } catch (const std::exception&) {
        }

        const QString core = text(reg, "CoreProduct");
        const int item = core.isEmpty() ? -1 : ui->cbCoreProduct->findText(core, Qt::MatchFixedString);
        ui->cbCoreProduct->setCurrentIndex(item);
        m_unlistedCoreProduct = item < 0 ? core : QString();
        showText(ui->edtPromotion, text(reg, "Promotion"));
    }
    followResellerOnAddCharges();
}

// A stored date, or an empty picker for none.
void TAccountsTab::showDate(TDatePicker* picker, const QString& dateField)
{
    picker->setValue(m_console.data().tblRegistration->fieldByName(dateField).asDate());
}

void TAccountsTab::showExpiry(TDatePicker* picker, const QString& dateField, const QString& flagField)
{
    Db::Table* reg = m_console.data().tblRegistration;
    const QDate today = Trellane::platform().today();
    const QDate d = reg->fieldByName(dateField).asDate();
    picker->setValue(d);
    paintPicker(picker, Accounts::expiryShade(d, reg->fieldByName(flagField).asBoolean(), today));
}

// The Dealers tab's "Add Charges" bills a reseller: it is usable while the
// loaded account belongs to one, not to the vendor's own accounts ("M").
void TAccountsTab::followResellerOnAddCharges()
{
    emit addChargesAllowed(ui->edtDealer->text() != QLatin1String("M"));
}

void TAccountsTab::ClearAccount()
{
    m_console.DisableButtons(false);
    for (QLineEdit* e : {ui->edtEmail, ui->edtContact, ui->edtRegisterName, ui->edtOtherName, ui->edtStreet1,
                         ui->edtStreet2, ui->edtCity, ui->edtState, ui->edtZipCode})
        e->clear();
    ui->edtPhone->clear();
    ui->edtFax->clear();
    ui->edtVendorID->clear();
    ui->edtDealer->setText(QStringLiteral("M"));
    ui->edtChartNumber->clear();
    ui->edtPromotion->clear();
    ui->edtAuth->clear();
    // A new account has no expiry dates until the user sets them.
    for (TDatePicker* p : pickers())
        p->setValue(QDate());
    ui->cbCoreProduct->setCurrentIndex(ui->cbCoreProduct->findText(QStringLiteral("MEDISOFT")));
    m_unlistedCoreProduct.clear();
    ui->cbAgreement->setChecked(false);
    ui->cbMonthly->setChecked(false);
    m_console.DisableButtons(false);
}

void TAccountsTab::btnNewSNClick()
{
    m_addingAccount = true;
    {
        const Trellane::ButtonsDisabled busy(m_console);
        ClearAccount();
    }
    m_newEntries = panelEntries();
    ui->btnNewSN->setEnabled(false);
    ui->edtRegisterName->setFocus();
}

QStringList TAccountsTab::panelEntries() const
{
    QStringList entries;
    for (const QLineEdit* e : ui->pnlAccount->findChildren<QLineEdit*>())
        entries << e->text();
    for (const QCheckBox* c : ui->pnlAccount->findChildren<QCheckBox*>())
        entries << (c->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
    for (const TDatePicker* p : pickers())
        entries << p->value().toString(Qt::ISODate);
    entries << ui->cbCoreProduct->currentText() << ui->Memo1->toPlainText();
    return entries;
}

bool TAccountsTab::leaveNewAccount()
{
    if (!m_addingAccount)
        return true;
    if (panelEntries() != m_newEntries && !Trellane::platform().askYesNo(QStringLiteral("Discard the new account?")))
        return false;
    m_addingAccount = false;
    // "&New" is usable again, unless a command has every button disabled.
    ui->btnNewSN->setEnabled(ui->btnSavSN->isEnabled());
    LoadAccount();
    return true;
}

bool TAccountsTab::eventFilter(QObject* watched, QEvent* e)
{
    if (m_addingAccount && movesGridCursor(watched, e)) {
        bool leave = false;
        Trellane::runCommand([&] { leave = leaveNewAccount(); });
        if (!leave)
            return true;  // the new account stays and the grid does not move
    }
    return QWidget::eventFilter(watched, e);
}

bool TAccountsTab::movesGridCursor(QObject* watched, QEvent* e) const
{
    const TDBGrid* grid = ui->DBGrid3;
    switch (e->type()) {
    case QEvent::KeyPress: {
        if (watched != grid)
            return false;
        const auto* key = static_cast<QKeyEvent*>(e);
        switch (key->key()) {
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown: return true;
        case Qt::Key_Home:
        case Qt::Key_End: return key->modifiers() & Qt::ControlModifier;
        default: return false;
        }
    }
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        if (watched == grid->viewport()) {
            // A click on the current row moves nothing.
            const QModelIndex cell = grid->indexAt(static_cast<QMouseEvent*>(e)->position().toPoint());
            return cell.isValid() && cell.row() != grid->dataSetModel()->currentRow();
        }
        return watched == grid->verticalScrollBar();
    case QEvent::Wheel:
        return (watched == grid->viewport() || watched == grid->verticalScrollBar())
            && static_cast<QWheelEvent*>(e)->angleDelta().y() / 120 != 0;
    default: return false;
    }
}

void TAccountsTab::btnSavSNClick()
{
    // A half-typed phone or an impossible typed date is refused before
    // anything is checked or written.
    if (!TPhoneEdit::validatePanel(this) || !TDatePicker::finishPanel(this))
        return;
    TDataModule& dm = m_console.data();
    auto stop = [](const QString& message) { Trellane::platform().showMessage(message); };

    const Trellane::ButtonsDisabled busy(m_console);
    // Looked up as they are stored: trailing blanks do not count.
    const QString reseller = asStored(ui->edtDealer->text());
    const QString vendorId = asStored(ui->edtVendorID->text());
    if (reseller.isEmpty()) {
        stop(QStringLiteral("You must enter a vendor in order to save registration data."));
        return;
    }
    if (!vendorId.isEmpty()) {
        dm.qryVendorID->close();
        dm.qryVendorID->setParam(QStringLiteral("vid"), vendorId);
        dm.qryVendorID->open();
    }
    dm.qryDealer->close();
    dm.qryDealer->setParam(QStringLiteral("cod"), reseller);
    dm.qryDealer->open();

    const bool exempt = ui->edtRegisterName->text().toUpper() == QLatin1String("CAN USE OVER")
        || !ui->edtAuth->text().isEmpty();
    if (!exempt && !dm.tblMWPAT->findKey({ui->edtChartNumber->text()})) {
        stop(QStringLiteral("You must enter a valid Chart Number."));
        return;
    }
    if (dm.qryDealer->recordCount() != 1) {
        stop(QStringLiteral("The Reseller could not be found in the Dealer database."));
        return;
    }
    if (!vendorId.isEmpty() && dm.qryVendorID->recordCount() != 1) {
        stop(QStringLiteral("Could not find a dealer with the matching VendorID. The client was not saved."));
        return;
    }

    Db::Table* reg = dm.tblRegistration;
    // With no account on file there is nothing to edit: the panel becomes a
    // new account with a number rather than a record without one.
    const bool adding = m_addingAccount || reg->isEmpty();
    if (adding) {
        dm.qryLastSerial->close();
        dm.qryLastSerial->open();
        const int last = dm.qryLastSerial->fieldByName(QStringLiteral("LastSerial")).asInteger();
        reg->append();
        write(reg, "SerialNumber", last + 1);
        m_addingAccount = false;
    } else {
        reg->edit();
    }

    try {
        writePanel(reseller, vendorId);
        reg->post();
        for (TDatePicker* p : pickers())
            p->setChanged(false);
        m_console.showStatus(QStringLiteral("Account %1 %2.")
                                 .arg(reg->fieldByName(QStringLiteral("SerialNumber")).asInteger())
                                 .arg(adding ? QStringLiteral("added") : QStringLiteral("saved")));
    } catch (const Db::EngineError& e) {
        if (!adding)
            throw;  // the error box shows the engine's message
        // Refused, for instance because another console took the number a
        // moment before: the pending record goes, the panel keeps what was
        // typed, and the next Save appends it under a fresh number.
        const int taken = reg->fieldByName(QStringLiteral("SerialNumber")).asInteger();
        {
            m_keepPanel = true;
            const auto keep = qScopeGuard([this] { m_keepPanel = false; });
            reg->cancel();
            m_addingAccount = true;
        }
        if (!e.isUniqueViolation())
            throw;
        Trellane::platform().showMessage(
            QStringLiteral("Another console stored account number %1 a moment ago. Nothing was stored; "
                           "Save stores this account under the next number.")
                .arg(taken));
    }
}

void TAccountsTab::writePanel(const QString& reseller, const QString& vendorId)
{
    Db::Table* reg = m_console.data().tblRegistration;
    write(reg, "RegisterName", ui->edtRegisterName->text());
    write(reg, "OtherName", ui->edtOtherName->text());
    write(reg, "ContactName", ui->edtContact->text());
    write(reg, "Street1", ui->edtStreet1->text());
    write(reg, "Street2", ui->edtStreet2->text());
    write(reg, "City", ui->edtCity->text());
    write(reg, "State", ui->edtState->text());
    write(reg, "ZipCode", ui->edtZipCode->text());
    write(reg, "Phone", Trellane::KeepAlphaNumeric(ui->edtPhone->text(), false));
    write(reg, "Fax", Trellane::KeepAlphaNumeric(ui->edtFax->text(), false));
    write(reg, "Email", ui->edtEmail->text());
    write(reg, "CoreProduct",
          ui->cbCoreProduct->currentIndex() < 0 ? m_unlistedCoreProduct : ui->cbCoreProduct->currentText());
    write(reg, "Promotion", ui->edtPromotion->text());
    write(reg, "Agreement", ui->cbAgreement->isChecked());
    write(reg, "DealerCode", reseller);
    write(reg, "VendorID", vendorId);
    write(reg, "ChartNumber", ui->edtChartNumber->text());
    write(reg, "HasHCFA", ui->cbProfessional->isChecked());
    write(reg, "HasUB92", ui->cbInstitutional->isChecked());
    write(reg, "HasERA", ui->cbERA->isChecked());
    write(reg, "HasMX", ui->cbSorvanta->isChecked());
    write(reg, "HasNSF", ui->cbNSF->isChecked());
    write(reg, "Authorization", ui->edtAuth->text());
    write(reg, "Specialty", ui->edtSpecialty->text());
    write(reg, "NOTES", ui->Memo1->toPlainText());
    write(reg, "IsMonthly", ui->cbMonthly->isChecked());
    // An expiry date goes in only when the user changed its picker; an
    // emptied picker clears the date.
    const char* const dateFields[] = {"ExpiresProf", "ExpiresInst", "ExpiresERA", "ExpiresSV", "ExpiresNSF"};
    const QList<TDatePicker*> all = pickers();
    for (int i = 0; i < all.size(); ++i) {
        if (!all[i]->isChanged())
            continue;
        if (all[i]->isEmpty())
            reg->fieldByName(QLatin1String(dateFields[i])).setNull();
        else
            write(reg, dateFields[i], all[i]->value());
    }
}

QList<TDatePicker*> TAccountsTab::pickers() const
{
    return {ui->dtpExpiresProf, ui->dtpExpiresInst, ui->dtpExpiresERA, ui->dtpExpiresSV, ui->dtpExpiresNSF};
}

void TAccountsTab::btnCancelSNClick()
{
    const Trellane::ButtonsDisabled busy(m_console);
    m_console.data().tblRegistration->cancel();
    m_addingAccount = false;
    LoadAccount();
}

void TAccountsTab::btnDelSNClick()
{
    const Trellane::ButtonsDisabled busy(m_console);
    // The question is about the account shown: a new one is left first.
    if (leaveNewAccount()
        && Trellane::platform().askYesNo(QStringLiteral("Are you sure you want to delete this account?")))
        m_console.data().tblRegistration->del();
}

// ---- Search and lookup --------------------------------------------------------

void TAccountsTab::cbAcctIdxChange()
{
    QLineEdit* box = ui->edtAcctSrch;
    // Rule changes of the box are not typing: they must not seek.
    {
        const QSignalBlocker quiet(box);
        Accounts::setUpperCase(box, true);
        box->setText(box->text().toUpper());
    }
    const int item = ui->cbAcctIdx->currentIndex();
    if (item >= 0 && item < int(std::size(kOrders))) {
        const OrderRule& rule = kOrders[item];
        Db::Table* reg = m_console.data().tblRegistration;
        if (item == soCity)
            Accounts::setUpperCase(box, false);
        reg->setIndexFieldNames(QLatin1String(rule.fields));
        Trellane::EntryRule::of(box)->setLimit(rule.boxLength);
        // A serial number is typed in digits: a letter is refused and the
        // digits typed so far stay.
        Trellane::EntryRule::of(box)->setDigitsOnly(item == soSerialNumber);
        if (item == soSerialNumber) {
            if (!box->text().isEmpty()) {
                if (const auto n = Accounts::wholeNumber(box->text())) {
                    if (leaveNewAccount())
                        reg->findKey({*n});
                } else {
                    box->clear();
                }
            }
        } else if (rule.seekOnSelect && leaveNewAccount()) {
            reg->findKey({box->text()});
        }
    }
    box->setFocus();
}

void TAccountsTab::edtAcctSrchChange()
{
    Db::Table* reg = m_console.data().tblRegistration;
    const QString typed = ui->edtAcctSrch->text();
    if (ui->cbAcctIdx->currentIndex() == soSerialNumber) {
        if (typed.isEmpty())
            return;
        if (const auto n = Accounts::wholeNumber(typed)) {
            if (leaveNewAccount())
                reg->findNearest({*n});
        } else {
            ui->edtAcctSrch->clear();
        }
        return;
    }
    if (leaveNewAccount())
        reg->findNearest({typed});
}

void TAccountsTab::tblRegistrationAfterScroll()
{
    // A move that did not leave a new account first (another tab's) keeps
    // the new account in the panel, so that Save cannot store it over the
    // account moved to.
    if (m_console.data().tblRegistration->isBrowsing() && !m_keepPanel && !m_addingAccount)
        LoadAccount();
}

void TAccountsTab::Button5Click()
{
    TDataModule& dm = m_console.data();
    dm.qrySubID->close();
    dm.qrySubID->setParam(QStringLiteral("subid"), asStored(ui->edtSubLookup->text()));
    dm.qrySubID->open();
    if (dm.qrySubID->isEmpty() || !leaveNewAccount())
        return;
    {
        const QSignalBlocker quiet(ui->cbAcctIdx);
        ui->cbAcctIdx->setCurrentIndex(soSerialNumber);
    }
    dm.tblRegistration->setIndexFieldNames(QStringLiteral("SerialNumber"));
    ui->edtAcctSrch->clear();
    dm.tblRegistration->findKey({dm.qrySubID->fieldByName(QStringLiteral("SerialNumber")).asInteger()});
}

void TAccountsTab::btnRefreshClick()
{
    m_console.data().tblRegistration->refresh();
    // A new account being entered stays in the panel.
    if (!m_addingAccount)
        LoadAccount();
}

void TAccountsTab::Button13Click()
{
    // The question is about the account shown: a new one is left first.
    if (!leaveNewAccount() || !Trellane::platform().askYesNo(
            QStringLiteral("Are you sure you want to blank the registration and birth dates for this account?")))
        return;
    Db::Table* reg = m_console.data().tblRegistration;
    // No account: nothing to blank (editing an empty table would add one).
    if (reg->isEmpty()) {
        LoadAccount();
        return;
    }
    reg->edit();
    for (const char* f : {"ExpiresProf", "ExpiresInst", "ExpiresERA", "ExpiresSV", "ExpiresNSF", "BirthDate"})
        reg->fieldByName(QLatin1String(f)).setNull();
    reg->post();
    LoadAccount();
}

void TAccountsTab::SelectFirstSearchOrder()
{
    {
        const QSignalBlocker quiet(ui->cbAcctIdx);
        ui->cbAcctIdx->setCurrentIndex(soSerialNumber);
    }
    cbAcctIdxChange();
}

// ---- Patient record update ---------------------------------------------------

void TAccountsTab::btnUpdateClick()
{
    if (!TPhoneEdit::validatePanel(this) || !TDatePicker::finishPanel(this))
        return;
    Db::Table* pat = m_console.data().tblMWPAT;
    ui->btnUpdate->setEnabled(false);
    // The button is usable again however the update ends.
    const auto reenable = qScopeGuard([this] { ui->btnUpdate->setEnabled(true); });

    if (!pat->findKey({ui->edtChartNumber->text()})) {
        Trellane::platform().showMessage(QStringLiteral("No Chart Found."));
        return;
    }
    try {
        pat->edit();
        auto set = [pat](const char* column, const QVariant& v) { pat->fieldByName(QLatin1String(column)).setValue(v); };
        set("Street 1", ui->edtStreet1->text());
        set("Street 2", ui->edtStreet2->text());
        set("City", ui->edtCity->text());
        set("State", ui->edtState->text());
        set("Zip Code", ui->edtZipCode->text());
        set("Phone 1", ui->edtPhone->text());
        set("Phone 4", ui->edtFax->text());
        // The subscribed module's expiry date; an empty picker leaves the
        // patient's date as it is.
        const TDatePicker* expiry = ui->cbProfessional->isChecked() ? ui->dtpExpiresProf
            : ui->cbInstitutional->isChecked()                     ? ui->dtpExpiresInst
                                                                   : nullptr;
        if (expiry && !expiry->isEmpty())
            set("Employee Retirement Date", expiry->value());
        set("Email", ui->edtEmail->text());
        set("Contact Name", ui->edtContact->text());
        pat->post();
        m_console.showStatus(QStringLiteral("Patient record of chart %1 updated.").arg(ui->edtChartNumber->text()));
    } catch (const Db::EngineError& e) {
        Trellane::platform().showMessage(e.message() + QStringLiteral("::") + QString::number(e.helpContext()));
        pat->cancel();
    } catch (const std::exception& e) {
        Trellane::platform().showMessage(QString::fromUtf8(e.what()) + QStringLiteral("::0"));
        pat->cancel();
    }
}

// ---- History ------------------------------------------------------------------

void TAccountsTab::btnHistoryClick()
{
    Db::Table& reg = *m_console.data().tblRegistration;
    if (m_addingAccount || !reg.isOpen() || reg.isEmpty()) {
        Trellane::platform().showMessage(m_addingAccount ? QStringLiteral("The new account has no history yet.")
                                                         : QStringLiteral("No account is shown."));
        return;
    }
    const QString serial = reg.fieldByName(QStringLiteral("SerialNumber")).asString();
    const QString name = reg.fieldByName(QStringLiteral("RegisterName")).asString().trimmed();
    if (!m_history) {
        m_history = new THistoryWindow(m_console.window());
        m_history->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_history->showHistory(*m_console.data().connTrellaneEMC, {QStringLiteral("Registration"), QStringLiteral("Submitters")},
                           serial,
                           name.isEmpty() ? QStringLiteral("account %1").arg(serial)
                                          : QStringLiteral("account %1 (%2)").arg(serial, name));
    m_history->show();
    m_history->raise();
}
