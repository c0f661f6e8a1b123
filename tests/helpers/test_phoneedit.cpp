// The phone entry box: its text with blanks, the display form of stored
// values, typing into the template, refusing to leave an incomplete entry,
// and Escape.
#include "helpers/PhoneEdit.h"
#include "tests/support/TestPlatform.h"

#include <QClipboard>
#include <QMenu>
#include <QtTest>

class TestPhoneEdit : public QObject {
    Q_OBJECT

private slots:
    void displayAndText()
    {
        TPhoneEdit e;
        QCOMPARE(e.text(), QStringLiteral("(   )   -    "));
        QVERIFY(!e.isFreeText());
        e.setText(QStringLiteral("5551234567"));
        QCOMPARE(e.text(), QStringLiteral("(555)123-4567"));
        e.setText(QStringLiteral("(   )123-4567"));
        QCOMPARE(e.text(), QStringLiteral("(   )123-4567"));
        // Anything but ten characters, or ten that are not digits, as stored.
        for (const QString& v : {QStringLiteral("5551234"), QStringLiteral("555123456789"), QStringLiteral("555ABC4567")}) {
            e.setText(v);
            QVERIFY(e.isFreeText());
            QCOMPARE(e.text(), TPhoneEdit::displayForm(v));
        }
        QCOMPARE(TPhoneEdit::displayForm(QStringLiteral("555ABC4567")), QStringLiteral("(555)ABC-4567"));
        QCOMPARE(TPhoneEdit::displayForm(QStringLiteral("5551234")), QStringLiteral("5551234"));
        e.setText(QString());
        QCOMPARE(e.text(), QStringLiteral("(   )   -    "));
    }

    void displayForm_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("shown");
        QTest::newRow("ten") << "5551234567" << "(555)123-4567";
        QTest::newRow("letters") << "555CALLNOW" << "(555)CAL-LNOW";
        QTest::newRow("seven") << "5551234" << "5551234";
        QTest::newRow("eleven") << "15551234567" << "15551234567";
        QTest::newRow("empty") << "" << "";
    }
    void displayForm()
    {
        QFETCH(QString, stored);
        QFETCH(QString, shown);
        QCOMPARE(TPhoneEdit::displayForm(stored), shown);
    }

    void filledByCodeKeepsTheTemplate_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("shown");
        QTest::newRow("stored ten") << "5551234567" << "(555)123-4567";
        QTest::newRow("display form") << "(555)123-4567" << "(555)123-4567";
        QTest::newRow("no area code") << "(   )123-4567" << "(   )123-4567";
        QTest::newRow("empty") << "" << "(   )   -    ";
    }
    void filledByCodeKeepsTheTemplate()
    {
        QFETCH(QString, value);
        QFETCH(QString, shown);
        TPhoneEdit e;
        e.setText(QStringLiteral("5551234"));  // free text before
        e.setText(value);
        QCOMPARE(e.text(), shown);
        QVERIFY(!e.isFreeText());
        QVERIFY(e.inputMask().startsWith(QStringLiteral("(000)999-9999")));
    }

    void typing()
    {
        TestPlatform platform;
        QWidget host;
        auto* e = new TPhoneEdit(&host);
        auto* other = new QLineEdit(&host);
        host.show();
        QApplication::setActiveWindow(&host);
        QVERIFY(QTest::qWaitForWindowActive(&host));
        e->setFocus();
        e->setCursorPosition(0);
        QTest::keyClicks(e, QStringLiteral("5a551234567"));  // letters are not taken
        QCOMPARE(e->text(), QStringLiteral("(555)123-4567"));

        // The area code may stay blank.
        e->setText(QString());
        e->setCursorPosition(5);
        QTest::keyClicks(e, QStringLiteral("1234567"));
        QCOMPARE(e->text(), QStringLiteral("(   )123-4567"));
        QVERIFY(e->validateEdit());

        // A required digit missing: leaving is refused with the message.
        e->setText(QStringLiteral("5551234567"));
        e->setCursorPosition(13);
        QTest::keyClick(e, Qt::Key_Backspace);
        QVERIFY(e->isIncomplete());
        other->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(e->hasFocus());
        QCOMPARE(platform.errors, QStringList{QStringLiteral("Invalid input value.  Use escape key to abandon changes")});
        QVERIFY(!e->validateEdit());
        // Escape abandons the edit.
        QTest::keyClick(e, Qt::Key_Escape);
        QCOMPARE(e->text(), QStringLiteral("(555)123-4567"));
        QVERIFY(e->validateEdit());

        // An untouched empty box may be left.
        e->setText(QString());
        QVERIFY(e->validateEdit());

        // A free-text value emptied by the user brings the template back.
        e->setText(QStringLiteral("5551234"));
        e->selectAll();
        QTest::keyClick(e, Qt::Key_Delete);
        QVERIFY(!e->isFreeText());
        QTest::keyClicks(e, QStringLiteral("8005550100"));
        QCOMPARE(e->text(), QStringLiteral("(800)555-0100"));
    }

    // A number pasted in any common form keeps its digits in their places,
    // by the keys and by the context menu; fewer digits go in as typed.
    void pasteKeepsTheDigitsInPlace_data()
    {
        QTest::addColumn<QString>("pasted");
        QTest::addColumn<QString>("shown");
        QTest::newRow("dashes") << "512-555-9876" << "(512)555-9876";
        QTest::newRow("brackets and space") << "(512) 555-9876" << "(512)555-9876";
        QTest::newRow("digits") << "5125559876" << "(512)555-9876";
        QTest::newRow("dots") << "512.555.0000" << "(512)555-0000";
        QTest::newRow("spaces") << " 512 555 9876 " << "(512)555-9876";
        QTest::newRow("+1") << "+1 512-555-9876" << "(512)555-9876";
        QTest::newRow("leading 1") << "1-512-555-9876" << "(512)555-9876";
        QTest::newRow("seven digits") << "555-9876" << "(555)987-6   ";
    }
    void pasteKeepsTheDigitsInPlace()
    {
        QFETCH(QString, pasted);
        QFETCH(QString, shown);
        QWidget host;
        auto* e = new TPhoneEdit(&host);
        host.show();
        QApplication::setActiveWindow(&host);
        QVERIFY(QTest::qWaitForWindowActive(&host));
        e->setFocus();
        e->setCursorPosition(1);
        QGuiApplication::clipboard()->setText(pasted);
        QTest::keyClick(e, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(e->text(), shown);
        QVERIFY(e->isModified());

        // The context menu's Paste over a number already there.
        e->setText(QStringLiteral("8005550100"));
        e->setCursorPosition(1);
        QContextMenuEvent menuEvent(QContextMenuEvent::Keyboard, QPoint(2, 2), e->mapToGlobal(QPoint(2, 2)));
        QApplication::sendEvent(e, &menuEvent);
        QMenu* menu = nullptr;
        QTRY_VERIFY((menu = e->findChild<QMenu*>()) && menu->isVisible());
        QAction* paste = menu->findChild<QAction*>(QStringLiteral("edit-paste"));
        QVERIFY(paste);
        e->selectAll();
        paste->trigger();
        menu->close();
        if (pasted != QLatin1String("555-9876"))
            QCOMPARE(e->text(), shown);
    }

    // A click into the unfilled end goes to the place after the digits;
    // a click among the digits stays where it landed.
    void clickGoesToTheFirstEmptyPlace_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<int>("cursor");  // -1: where the click landed
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("result");
        QTest::newRow("empty") << "" << 1 << "5551234567" << "(555)123-4567";
        QTest::newRow("area code only") << "(555)   -    " << 5 << "1234567" << "(555)123-4567";
        QTest::newRow("complete") << "5551234567" << -1 << "" << "(555)123-4567";
    }
    void clickGoesToTheFirstEmptyPlace()
    {
        QFETCH(QString, value);
        QFETCH(int, cursor);
        QFETCH(QString, typed);
        QFETCH(QString, result);
        TestPlatform platform;
        QWidget host;
        auto* other = new QLineEdit(&host);
        auto* e = new TPhoneEdit(&host);
        e->setGeometry(0, 30, 160, 24);
        e->setText(value);
        host.show();
        QApplication::setActiveWindow(&host);
        QVERIFY(QTest::qWaitForWindowActive(&host));
        other->setFocus();
        QTest::mouseClick(e, Qt::LeftButton, {}, QPoint(e->width() - 6, e->height() / 2));
        QVERIFY(e->hasFocus());
        if (cursor >= 0)
            QCOMPARE(e->cursorPosition(), cursor);
        else
            QVERIFY(e->cursorPosition() > 5);
        QTest::keyClicks(e, typed);
        QCOMPARE(e->text(), result);
    }

    // A box typed into and emptied again may be left, as an untouched one.
    void emptiedBoxMayBeLeft()
    {
        TestPlatform platform;
        QWidget host;
        auto* e = new TPhoneEdit(&host);
        auto* other = new QLineEdit(&host);
        other->move(0, 30);
        host.show();
        QApplication::setActiveWindow(&host);
        QVERIFY(QTest::qWaitForWindowActive(&host));
        e->setFocus();
        e->setCursorPosition(1);
        QTest::keyClicks(e, QStringLiteral("55"));
        QVERIFY(e->isModified() && e->isIncomplete());
        QTest::keyClick(e, Qt::Key_Backspace);
        QTest::keyClick(e, Qt::Key_Backspace);
        QVERIFY(e->isBlank());
        QVERIFY(TPhoneEdit::validatePanel(&host));
        other->setFocus(Qt::TabFocusReason);
        QTest::qWait(20);
        QVERIFY(other->hasFocus());
        QVERIFY(platform.errors.isEmpty());
        QCOMPARE(e->text(), QStringLiteral("(   )   -    "));
    }
};

QTEST_MAIN(TestPhoneEdit)
#include "test_phoneedit.moc"
