// Entry boxes look the same under the console's style as under the style it
// wraps, in every state: frames copied from the cache must match the ones the
// style would have drawn for that size, state and palette. Alt combinations
// never type into a box, Enter presses the focused button, and a paste is cut
// to a box's limit.
#include "helpers/ConsoleStyle.h"
#include "helpers/EntryRule.h"

#include <QClipboard>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QPainter>
#include <QStyleOptionFrame>
#include <QStyleFactory>
#include <QtTest>

class TestConsoleStyle : public QObject {
    Q_OBJECT

    // The box drawn with the given style, in a window of its own.
    static QImage draw(QStyle* style, const std::function<void(QLineEdit&)>& setUp, QSize size)
    {
        QWidget host;
        host.setStyle(style);
        QLineEdit box(&host);
        box.setStyle(style);
        box.setGeometry(QRect(QPoint(5, 5), size));
        box.setText(QStringLiteral("(555)123-4567"));
        host.resize(size + QSize(10, 10));
        host.show();
        if (!QTest::qWaitForWindowExposed(&host))
            return {};
        QApplication::setActiveWindow(&host);
        setUp(box);
        QCoreApplication::processEvents();
        return box.grab().toImage();
    }

    // Equal up to the rounding of anti-aliased edges composed from a copy
    // (at most a few levels per channel).
    static bool sameLook(const QImage& got, const QImage& expected, bool report = true)
    {
        if (got.size() != expected.size())
            return false;
        for (int y = 0; y < got.height(); ++y)
            for (int x = 0; x < got.width(); ++x) {
                const QRgb a = got.pixel(x, y), b = expected.pixel(x, y);
                if (qAbs(qRed(a) - qRed(b)) > 3 || qAbs(qGreen(a) - qGreen(b)) > 3 || qAbs(qBlue(a) - qBlue(b)) > 3) {
                    if (report)
                        qWarning("pixel %d,%d differs: %08x against %08x", x, y, a, b);
                    return false;
                }
            }
        return true;
    }

private slots:
    void framesMatchTheWrappedStyle_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QSize>("size");
        QTest::newRow("plain") << 0 << QSize(120, 24);
        QTest::newRow("other size") << 0 << QSize(270, 22);
        QTest::newRow("disabled") << 1 << QSize(120, 24);
        QTest::newRow("read-only") << 2 << QSize(120, 24);
        QTest::newRow("coloured") << 3 << QSize(120, 24);
    }
    void framesMatchTheWrappedStyle()
    {
        QFETCH(int, kind);
        QFETCH(QSize, size);
        auto setUp = [kind](QLineEdit& box) {
            switch (kind) {
            case 1: box.setEnabled(false); break;
            case 2: box.setReadOnly(true); break;
            case 3: {
                QPalette pal = box.palette();
                pal.setColor(QPalette::Base, Qt::red);
                pal.setColor(QPalette::Text, Qt::white);
                box.setPalette(pal);
                break;
            }
            default: break;
            }
        };
        std::unique_ptr<QStyle> plain(QStyleFactory::create(QApplication::style()->name()));
        ConsoleStyle console;
        // Twice with the console's style: drawn, then copied from the cache.
        const QImage expected = draw(plain.get(), setUp, size);
        QVERIFY(!expected.isNull());
        QVERIFY(sameLook(draw(&console, setUp, size), expected));
        QVERIFY(sameLook(draw(&console, setUp, size), expected));
    }

    // The frame drawn for each state is the wrapped style's frame for that
    // state, also when the same size was drawn before in another state.
    void everyStateHasItsOwnFrame()
    {
        std::unique_ptr<QStyle> plain(QStyleFactory::create(QApplication::style()->name()));
        ConsoleStyle console;
        QLineEdit box;
        auto frame = [&](QStyle* style, QStyle::State state) {
            QStyleOptionFrame option;
            option.initFrom(&box);
            option.rect = QRect(0, 0, 120, 24);
            option.state = state;
            option.lineWidth = 1;
            QImage img(option.rect.size(), QImage::Format_ARGB32_Premultiplied);
            img.fill(Qt::white);
            QPainter p(&img);
            style->drawPrimitive(QStyle::PE_PanelLineEdit, &option, &p, &box);
            return img;
        };
        const QStyle::State base = QStyle::State_Enabled | QStyle::State_Active;
        const QList<QStyle::State> states = {
            base, base | QStyle::State_HasFocus | QStyle::State_KeyboardFocusChange, base | QStyle::State_MouseOver,
            base | QStyle::State_ReadOnly, QStyle::State_Active};
        for (int round = 0; round < 2; ++round)
            for (QStyle::State state : states)
                QVERIFY2(sameLook(frame(&console, state), frame(plain.get(), state)),
                         qPrintable(QStringLiteral("state %1").arg(uint(state), 0, 16)));
        // The wrapped style does draw the focus differently.
        QVERIFY(!sameLook(frame(plain.get(), states[1]), frame(plain.get(), states[0]), false));
    }

    // Alt and a key is an accelerator or nothing: a disabled button's letter
    // types nothing into a line or a text box; an enabled one is clicked.
    // Ctrl+Alt is no accelerator and types.
    void altCombinationsNeverType_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<bool>("newEnabled");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("clicks");
        QTest::newRow("Alt+N, button disabled") << int(Qt::Key_N) << int(Qt::AltModifier) << false << "" << 0;
        QTest::newRow("Alt+Shift+N") << int(Qt::Key_N) << int(Qt::AltModifier | Qt::ShiftModifier) << false << "" << 0;
        QTest::newRow("Alt+7") << int(Qt::Key_7) << int(Qt::AltModifier) << true << "" << 0;
        QTest::newRow("Alt+N, button enabled") << int(Qt::Key_N) << int(Qt::AltModifier) << true << "" << 1;
        QTest::newRow("N alone types") << int(Qt::Key_N) << int(Qt::NoModifier) << true << "n" << 0;
        // AltGr arrives as Ctrl+Alt on many European keyboards: it types.
        QTest::newRow("Ctrl+Alt+Q types") << int(Qt::Key_Q) << int(Qt::ControlModifier | Qt::AltModifier) << true << "q" << 0;
    }
    void altCombinationsNeverType()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(bool, newEnabled);
        QFETCH(QString, typed);
        QFETCH(int, clicks);
        AltKeyFilter filter;
        qApp->installEventFilter(&filter);
        QWidget host;
        auto* line = new QLineEdit(&host);
        auto* notes = new QPlainTextEdit(&host);
        notes->move(0, 40);
        auto* button = new QPushButton(QStringLiteral("&New"), &host);
        button->move(200, 0);
        button->setEnabled(newEnabled);
        int clicked = 0;
        connect(button, &QPushButton::clicked, this, [&] { ++clicked; });
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        QApplication::setActiveWindow(&host);
        int round = 0;
        for (QWidget* box : {static_cast<QWidget*>(line), static_cast<QWidget*>(notes)}) {
            box->setFocus();
            QTest::keyClick(box, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
            const int expected = ++round * clicks;
            QTRY_COMPARE(clicked, expected);  // an accelerator clicks a moment later
        }
        QCOMPARE(line->text(), typed);
        QCOMPARE(notes->toPlainText(), typed);
    }

    // Enter and Return press the focused push button once; a button without
    // the focus, a disabled one or Enter in a box are left alone.
    void enterPressesTheFocusedButton()
    {
        EnterKeyFilter filter;
        qApp->installEventFilter(&filter);
        QWidget host;
        auto* line = new QLineEdit(&host);
        auto* button = new QPushButton(QStringLiteral("Refresh"), &host);
        button->move(200, 0);
        int clicked = 0;
        connect(button, &QPushButton::clicked, this, [&] { ++clicked; });
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        QApplication::setActiveWindow(&host);
        button->setFocus();
        QTest::keyClick(button, Qt::Key_Return);
        QTRY_COMPARE(clicked, 1);
        QTest::keyClick(button, Qt::Key_Enter, Qt::KeypadModifier);
        QTRY_COMPARE(clicked, 2);
        line->setFocus();
        QTest::keyClick(line, Qt::Key_Return);
        button->setEnabled(false);
        QTest::keyClick(button, Qt::Key_Return);
        QTest::qWait(200);
        QCOMPARE(clicked, 2);
    }

    // A paste longer than the box's limit is cut to what fits; a key at the
    // limit types nothing; a stored value longer than the limit stays whole.
    void pasteIsCutToTheLimit()
    {
        QLineEdit box;
        Trellane::EntryRule::of(&box)->setLimit(8);
        box.show();
        box.setText(QStringLiteral("AB"));
        box.setCursorPosition(1);
        QGuiApplication::clipboard()->setText(QStringLiteral("1234567890"));
        box.paste();
        QCOMPARE(box.text(), QStringLiteral("A123456B"));
        QCOMPARE(box.cursorPosition(), 7);
        QTest::keyClick(&box, Qt::Key_Z);
        QCOMPARE(box.text(), QStringLiteral("A123456B"));
        Trellane::EntryRule::showText(&box, QStringLiteral("LONGER THAN EIGHT"));
        box.selectAll();
        box.paste();
        QCOMPARE(box.text(), QStringLiteral("1234567890"));
    }

    // A caption wider than its button is drawn smaller, clear of the edges;
    // one that fits keeps the font. The button keeps its width either way.
    void captionsFitTheirButtons_data()
    {
        QTest::addColumn<QString>("caption");
        QTest::addColumn<int>("width");
        QTest::addColumn<bool>("shrinks");
        QTest::newRow("fits") << QStringLiteral("New") << 75 << false;
        QTest::newRow("too wide") << QStringLiteral("Add Charges for Many Resellers") << 75 << true;
    }
    void captionsFitTheirButtons()
    {
        QFETCH(QString, caption);
        QFETCH(int, width);
        QFETCH(bool, shrinks);
        QPushButton button(caption);
        button.resize(width, 25);
        const qreal before = button.font().pointSizeF();
        Trellane::fitCaption(&button);
        QCOMPARE(button.width(), width);
        QCOMPARE(button.font().pointSizeF() < before, shrinks);
        QVERIFY(QFontMetrics(button.font()).horizontalAdvance(caption) + 10 <= width || button.font().pointSizeF() <= 6);
    }
};

QTEST_MAIN(TestConsoleStyle)
#include "test_consolestyle.moc"
