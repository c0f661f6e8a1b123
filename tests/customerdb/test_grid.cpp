// The grid's model and view over a data set: a window of rows around the
// cursor that follows every move, moves the cursor on a click, writes edits
// through the data set, and handles keys and the scroll bar itself.
#include "customerdb/DBGrid.h"
#include "customerdb/Engine.h"
#include "helpers/Command.h"
#include "tests/support/TestDb.h"
#include "tests/support/TestPlatform.h"

#include <QHeaderView>
#include <QLineEdit>
#include <QScrollBar>
#include <QtTest>

using namespace Db;

namespace {

const Catalog& catalog()
{
    static const Catalog c = [] {
        Catalog c;
        c.name = QStringLiteral("GridTest");
        TableDef t;
        t.name = QStringLiteral("Items");
        t.fields = {{QStringLiteral("Id"), FieldType::Integer, 0, false},
                    {QStringLiteral("Name"), FieldType::Text, 12, false},
                    {QStringLiteral("Due"), FieldType::Date, 0, false},
                    {QStringLiteral("Done"), FieldType::Boolean, 0, false}};
        t.indexes = {{QStringLiteral("ID"), {QStringLiteral("Id")}, true},
                     {QStringLiteral("NAME"), {QStringLiteral("Name")}, false}};
        c.tables << t;
        return c;
    }();
    return c;
}

} // namespace

class TestGrid : public QObject {
    Q_OBJECT

    std::unique_ptr<Connection> conn;
    std::unique_ptr<Table> table;
    TestPlatform platform;

    int idAt(DataSetModel* m, int row) { return m->data(m->index(row, 0), Qt::DisplayRole).toInt(); }
    static QScrollBar* bar(TDBGrid& g) { return g.findChild<QScrollBar*>(QStringLiteral("gridScrollBar")); }
    int currentId() { return table->fieldByName(QStringLiteral("Id")).asInteger(); }

private slots:
    void init()
    {
        conn = std::make_unique<Connection>(QStringLiteral("grid"), &catalog());
        conn->setSettings(TestDb::fresh(QStringLiteral("grid")));
        conn->connect();
        conn->createSchema();
        conn->beginTransaction();
        for (int i = 1; i <= 100; ++i)
            conn->exec(QStringLiteral("INSERT INTO %1 (%2, %3, %4) VALUES (?, ?, ?)")
                           .arg(conn->quoteName(QStringLiteral("Items")), conn->quoteName(QStringLiteral("Id")),
                                conn->quoteName(QStringLiteral("Name")), conn->quoteName(QStringLiteral("Due"))),
                       {i, QStringLiteral("ITEM%1").arg(i, 3, 10, QLatin1Char('0')), QDate(2026, 1, 1).addDays(i)});
        conn->commit();
        table = std::make_unique<Table>(conn.get());
        table->setTableName(QStringLiteral("Items"));
        table->setIndexFieldNames(QStringLiteral("Id"));
        table->open();
        platform.errors.clear();
    }

    void cleanup()
    {
        table.reset();
        conn->disconnect();
        conn.reset();
    }

    void windowFollowsCursor()
    {
        DataSetModel model(table.get());
        model.setWindowSize(10);
        QCOMPARE(model.rowCount(), 10);
        QCOMPARE(model.currentRow(), 0);
        QCOMPARE(idAt(&model, 0), 1);
        QCOMPARE(model.columns(), (QStringList{"Id", "Name", "Due", "Done"}));
        QCOMPARE(model.data(model.index(0, 2), Qt::DisplayRole).toString(), QStringLiteral("1/2/2026"));
        QCOMPARE(model.data(model.index(0, 3), Qt::DisplayRole).toString(), QString());

        // Moving inside the window keeps the window.
        table->moveBy(3);
        QCOMPARE(model.currentRow(), 3);
        QCOMPARE(idAt(&model, 0), 1);

        // A seek keeps the cursor on its screen row.
        QVERIFY(table->findKey({50}));
        QCOMPARE(model.currentRow(), 3);
        QCOMPARE(idAt(&model, 3), 50);
        QCOMPARE(idAt(&model, 0), 47);
        QCOMPARE(idAt(&model, 9), 56);

        // Stepping past the bottom scrolls by one row.
        for (int i = 0; i < 7; ++i)
            table->next();
        QCOMPARE(model.currentRow(), 9);
        QCOMPARE(idAt(&model, 9), 57);
        table->next();
        QCOMPARE(model.currentRow(), 9);
        QCOMPARE(idAt(&model, 9), 58);
        QCOMPARE(idAt(&model, 0), 49);

        // At the end the window fills from above.
        table->last();
        QCOMPARE(model.rowCount(), 10);
        QCOMPARE(idAt(&model, 9), 100);
        QCOMPARE(model.currentRow(), 9);
        table->first();
        QCOMPARE(model.currentRow(), 0);
        QCOMPARE(idAt(&model, 0), 1);

        // Changing the order re-reads the window around the same record.
        QVERIFY(table->findKey({20}));
        table->setIndexFieldNames(QStringLiteral("Name"));
        model.reload();
        QCOMPARE(idAt(&model, model.currentRow()), 20);

        // A click makes the row's record current.
        const int target = model.currentRow() == 0 ? 1 : 0;
        const int id = idAt(&model, target);
        QVERIFY(model.activateRow(target));
        QCOMPARE(currentId(), id);

        // Writes show at once; a pending new record shows under the row that
        // was current, the rows above it staying in place.
        table->edit();
        table->fieldByName(QStringLiteral("Name")).setValue(QStringLiteral("AAA"));
        table->post();
        QCOMPARE(model.data(model.index(model.currentRow(), 1), Qt::DisplayRole).toString(), QStringLiteral("AAA"));
        const int was = model.currentRow();
        QList<int> shown;
        for (int row = 0; row <= was; ++row)
            shown << idAt(&model, row);
        table->append();
        QCOMPARE(model.currentRow(), was + 1);
        QCOMPARE(model.rowCount(), 10);
        for (int row = 0; row <= was; ++row)
            QCOMPARE(idAt(&model, row), shown[row]);
        QCOMPARE(model.data(model.index(model.currentRow(), 0), Qt::DisplayRole).toString(), QString());
        QVERIFY(!model.activateRow(model.currentRow()) || table->state() == DataSetState::Insert);
        table->cancel();
        QCOMPARE(currentId(), id);
        QCOMPARE(model.currentRow(), was);
        for (int row = 0; row < model.rowCount(); ++row)
            QVERIFY(!model.data(model.index(row, 0), Qt::DisplayRole).toString().isEmpty());

        // A closed data set shows nothing.
        table->close();
        QCOMPARE(model.rowCount(), 0);
        table->open();
        QCOMPARE(model.rowCount(), 10);
    }

    void emptyAndQueries()
    {
        conn->exec(QStringLiteral("DELETE FROM %1").arg(conn->quoteName(QStringLiteral("Items"))));
        table->refresh();
        DataSetModel model(table.get());
        QCOMPARE(model.rowCount(), 0);
        QCOMPARE(model.currentRow(), -1);

        Query q(conn.get());
        q.setSql({QStringLiteral("Select 1 As One")});
        q.open();
        DataSetModel qm(&q);
        QCOMPARE(qm.rowCount(), 1);
        QCOMPARE(qm.columns().value(0).toLower(), QStringLiteral("one"));
        QCOMPARE(qm.flags(qm.index(0, 0)) & Qt::ItemIsEditable, Qt::ItemFlags());
    }

    void editableModelWritesThroughDataSet()
    {
        DataSetModel model(table.get());
        model.setWindowSize(5);
        model.setEditable(true);
        QVERIFY(model.flags(model.index(2, 1)) & Qt::ItemIsEditable);
        // Text longer than the field is refused with a message, nothing set.
        QVERIFY(!model.setData(model.index(2, 1), QStringLiteral("RENAMED-AND-TOO-LONG"), Qt::EditRole));
        QCOMPARE(platform.messages.size(), 1);
        QCOMPARE(table->state(), DataSetState::Browse);
        // A value that fits is set on the record in edit mode; the row is
        // stored when the cursor leaves it.
        QVERIFY(model.setData(model.index(2, 1), QStringLiteral("RENAMED"), Qt::EditRole));
        QCOMPARE(currentId(), 3);
        QCOMPARE(table->state(), DataSetState::Edit);
        QCOMPARE(model.data(model.index(model.currentRow(), 1), Qt::DisplayRole).toString(), QStringLiteral("RENAMED"));
        table->next();
        table->prior();
        QCOMPARE(table->fieldByName(QStringLiteral("Name")).asString(), QStringLiteral("RENAMED"));
        QCOMPARE(table->state(), DataSetState::Browse);

        // A row the database refuses keeps its typed value in edit mode.
        QVERIFY(model.setData(model.index(1, 0), 5, Qt::EditRole));
        QVERIFY(!Trellane::runCommand([&] { table->checkBrowseMode(); }));
        QCOMPARE(platform.errors.size(), 1);
        QCOMPARE(table->state(), DataSetState::Edit);
        QCOMPARE(model.data(model.index(model.currentRow(), 0), Qt::DisplayRole).toString(), QStringLiteral("5"));
        table->cancel();
        table->refresh();
        QCOMPARE(currentId(), 2);
    }

    void gridKeysAndScrollBar()
    {
        TDBGrid grid;
        grid.resize(400, 200);
        grid.setDataSet(table.get());
        grid.show();
        QVERIFY(QTest::qWaitForWindowExposed(&grid));
        QCOMPARE(grid.currentIndex().row(), 0);

        QTest::keyClick(&grid, Qt::Key_Down);
        QTest::keyClick(&grid, Qt::Key_Down);
        QCOMPARE(currentId(), 3);
        QCOMPARE(grid.currentIndex().row(), 2);
        QTest::keyClick(&grid, Qt::Key_Up);
        QCOMPARE(currentId(), 2);
        QTest::keyClick(&grid, Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(currentId(), 100);
        QCOMPARE(bar(grid)->value(), 2);
        QTest::keyClick(&grid, Qt::Key_PageUp);
        QVERIFY(currentId() < 100);
        QCOMPARE(bar(grid)->value(), 1);
        QTest::keyClick(&grid, Qt::Key_Home, Qt::ControlModifier);
        QCOMPARE(currentId(), 1);
        QCOMPARE(bar(grid)->value(), 0);

        bar(grid)->triggerAction(QAbstractSlider::SliderToMaximum);
        QCOMPARE(currentId(), 100);
        bar(grid)->triggerAction(QAbstractSlider::SliderSingleStepSub);
        QCOMPARE(currentId(), 99);

        // A bar only when there is more than the rows shown whole.
        QVERIFY(bar(grid)->isVisible());
        Query two(conn.get());
        two.setSql({QStringLiteral("Select 1 As One Union Select 2")});
        two.open();
        TDBGrid small;
        small.resize(400, 200);
        small.setDataSet(&two);
        small.show();
        QVERIFY(QTest::qWaitForWindowExposed(&small));
        QTRY_VERIFY(!bar(small)->isVisible());
        QCOMPARE(small.dataSetModel()->rowCount(), 2);

        // A click on a row moves the cursor to it.
        table->first();
        const QRect cell = grid.visualRect(grid.dataSetModel()->index(3, 1));
        QVERIFY(cell.isValid());
        QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, cell.center());
        QCOMPARE(currentId(), 4);
        QCOMPARE(grid.currentIndex().row(), 3);
    }

    // Tab and Shift+Tab leave a grid for the next and previous control, and
    // nothing moves a read-only grid's highlight off the current record.
    void tabLeavesTheGridAndTheHighlightStays_data()
    {
        QTest::addColumn<bool>("readOnly");
        QTest::newRow("read-only") << true;
        QTest::newRow("editable") << false;
    }
    void tabLeavesTheGridAndTheHighlightStays()
    {
        QFETCH(bool, readOnly);
        QWidget host;
        auto* before = new QLineEdit(&host);
        auto* grid = new TDBGrid(&host);
        auto* after = new QLineEdit(&host);
        grid->setReadOnlyGrid(readOnly);
        grid->setGeometry(0, 30, 400, 200);
        after->move(0, 240);
        grid->setDataSet(table.get());
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        QApplication::setActiveWindow(&host);
        table->findKey({3});
        grid->setFocus();
        QTest::keyClick(grid, Qt::Key_Tab);
        QTRY_VERIFY(after->hasFocus());
        grid->setFocus();
        QTest::keyClick(grid, Qt::Key_Backtab, Qt::ShiftModifier);
        QTRY_VERIFY(before->hasFocus());
        QCOMPARE(currentId(), 3);

        // The view's current cell set to another row from outside the
        // grid's own moves: a read-only grid puts its highlight back.
        if (readOnly) {
            grid->setCurrentIndex(grid->dataSetModel()->index(grid->dataSetModel()->currentRow() + 1, 0));
            QTRY_COMPARE(grid->currentIndex().row(), grid->dataSetModel()->currentRow());
            QCOMPARE(idAt(grid->dataSetModel(), grid->currentIndex().row()), 3);
            QCOMPARE(currentId(), 3);
        }
    }

    // The wheel and the scroll bar take a cell's typed text before they
    // move: the row is stored, and no editor stays open over another row.
    void wheelAndScrollBarTakeTheCellBeingEdited_data()
    {
        QTest::addColumn<bool>("wheel");
        QTest::newRow("wheel") << true;
        QTest::newRow("scroll bar") << false;
    }
    void wheelAndScrollBarTakeTheCellBeingEdited()
    {
        QFETCH(bool, wheel);
        TDBGrid grid;
        grid.setReadOnlyGrid(false);
        grid.resize(400, 200);
        grid.setDataSet(table.get());
        grid.show();
        QVERIFY(QTest::qWaitForWindowExposed(&grid));
        QApplication::setActiveWindow(&grid);
        grid.setFocus();
        // The last row shown whole: the move shifts the window of rows.
        DataSetModel* m = grid.dataSetModel();
        while (m->currentRow() < m->wholeRows() - 1)
            QTest::keyClick(&grid, Qt::Key_Down);
        const int edited = currentId();
        grid.setCurrentIndex(m->index(m->currentRow(), 1));
        QTest::keyClick(&grid, Qt::Key_F2);
        QLineEdit* editor = nullptr;
        QTRY_VERIFY((editor = qobject_cast<QLineEdit*>(grid.indexWidget(grid.currentIndex()))));
        editor->selectAll();
        QTest::keyClicks(editor, QStringLiteral("TYPED"));
        if (wheel) {
            QWheelEvent roll(QPointF(20, 20), grid.mapToGlobal(QPointF(20, 20)), {}, QPoint(0, -120), Qt::NoButton,
                             {}, Qt::NoScrollPhase, false);
            QApplication::sendEvent(grid.viewport(), &roll);
        } else {
            bar(grid)->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        }
        QCOMPARE(currentId(), edited + 1);
        QVERIFY(grid.findChildren<QLineEdit*>().isEmpty() || !grid.findChild<QLineEdit*>()->isVisible());
        QCOMPARE(table->state(), DataSetState::Browse);
        table->findKey({edited});
        QCOMPARE(table->fieldByName(QStringLiteral("Name")).asString(), QStringLiteral("TYPED"));
        table->next();
        QCOMPARE(table->fieldByName(QStringLiteral("Name")).asString(),
                 QStringLiteral("ITEM%1").arg(edited + 1, 3, 10, QLatin1Char('0')));
    }

    // Whatever moves the cursor, its row is shown whole, above the
    // horizontal scroll bar, at any height of the grid.
    void currentRowIsShownWhole_data()
    {
        QTest::addColumn<QString>("move");
        QTest::newRow("Ctrl+End") << "ctrl-end";
        QTest::newRow("Down to the last row") << "down";
        QTest::newRow("wheel at the end") << "wheel";
        QTest::newRow("seek past the end") << "seek";
        QTest::newRow("pending new record") << "append";
    }

    void currentRowIsShownWhole()
    {
        QFETCH(QString, move);
        for (int height = 150; height < 180; height += 7) {
            TDBGrid grid;
            grid.resize(180, height);  // narrower than the columns: a horizontal bar
            grid.setDataSet(table.get());
            grid.show();
            QVERIFY(QTest::qWaitForWindowExposed(&grid));
            QTRY_VERIFY(grid.horizontalScrollBar()->isVisible());
            QApplication::processEvents();
            if (move == QLatin1String("ctrl-end")) {
                QTest::keyClick(&grid, Qt::Key_End, Qt::ControlModifier);
            } else if (move == QLatin1String("down")) {
                table->moveBy(90);
                for (int i = 0; i < 12; ++i)
                    QTest::keyClick(&grid, Qt::Key_Down);
            } else if (move == QLatin1String("wheel")) {
                table->last();
                QWheelEvent wheel(QPointF(20, 20), grid.mapToGlobal(QPointF(20, 20)), {}, QPoint(0, -360),
                                  Qt::NoButton, {}, Qt::NoScrollPhase, false);
                QApplication::sendEvent(grid.viewport(), &wheel);
            } else if (move == QLatin1String("seek")) {
                table->findNearest({1000});
            } else {
                table->append();
            }
            QApplication::processEvents();
            if (move != QLatin1String("append"))
                QCOMPARE(currentId(), 100);
            const QRect row = grid.visualRect(grid.dataSetModel()->index(grid.dataSetModel()->currentRow(), 0));
            QVERIFY2(row.isValid() && row.top() >= 0 && row.bottom() < grid.viewport()->height(),
                     qPrintable(QStringLiteral("height %1: row %2..%3 of %4")
                                    .arg(height).arg(row.top()).arg(row.bottom()).arg(grid.viewport()->height())));
            table->cancel();
            table->first();
        }
    }

    // Cell text is drawn whole inside its row, on one line even when the
    // value holds line breaks, and repaints with new values after a seek.
    void cellsDrawTextInsideTheirRow()
    {
        table->first();
        table->edit();
        table->fieldByName(QStringLiteral("Name")).setValue(QStringLiteral("AB\nCD"));
        table->post();

        TDBGrid grid;
        grid.resize(400, 200);
        grid.setDataSet(table.get());
        grid.setFocusPolicy(Qt::NoFocus);  // no focus outline among the ink
        grid.show();
        QVERIFY(QTest::qWaitForWindowExposed(&grid));

        // The rows of ink of a cell, as (first, last) relative to the cell.
        auto inkRows = [&](int row, int column) {
            const QImage img = grid.viewport()->grab().toImage();
            const QRect r = grid.visualRect(grid.dataSetModel()->index(row, column));
            int first = -1, last = -1;
            const QColor back = img.pixelColor(r.right() - 2, r.top() + 1);
            for (int y = r.top(); y <= r.bottom(); ++y)
                for (int x = r.left() + 1; x < r.right() - 1; ++x)
                    if (qAbs(qGray(img.pixel(x, y)) - qGray(back.rgb())) > 96) {
                        if (first < 0)
                            first = y - r.top();
                        last = y - r.top();
                        break;
                    }
            return std::pair{first, last};
        };
        // The scroll bar shows the window in the middle of the data; the
        // window's first row still starts at the top.
        QCOMPARE(bar(grid)->value(), 1);
        QCOMPARE(grid.visualRect(grid.dataSetModel()->index(0, 0)).top(), 0);
        const int height = grid.visualRect(grid.dataSetModel()->index(1, 1)).height();
        for (int row : {0, 1}) {  // the selected row and a plain one
            const auto [first, last] = inkRows(row, 1);
            QVERIFY2(first > 0 && last < height - 1,
                     qPrintable(QStringLiteral("row %1: ink %2..%3 of %4").arg(row).arg(first).arg(last).arg(height)));
            // Centred: the space above and below differs by a few pixels.
            QVERIFY(qAbs(first - (height - 1 - last)) <= 4);
        }
        const QFontMetrics fm(grid.font());
        const auto [first, last] = inkRows(0, 1);
        QVERIFY(last - first < fm.height());

        // A seek to a row outside the window shows its values.
        table->findKey({50});
        QTRY_COMPARE(idAt(grid.dataSetModel(), grid.dataSetModel()->currentRow()), 50);
        const auto [first50, last50] = inkRows(grid.dataSetModel()->currentRow(), 0);
        QVERIFY(first50 > 0 && last50 > first50);
        QCOMPARE(grid.visualRect(grid.dataSetModel()->index(0, 0)).top(), 0);
    }

    // A grid off screen (a tab not shown) reads nothing while the cursor
    // moves, and shows the current window as soon as it is shown again.
    void hiddenGridCatchesUpWhenShown()
    {
        TDBGrid grid;
        grid.resize(400, 200);
        grid.setDataSet(table.get());
        DataSetModel* m = grid.dataSetModel();
        QVERIFY(m->isPaused());
        grid.show();
        QVERIFY(QTest::qWaitForWindowExposed(&grid));
        QVERIFY(!m->isPaused());
        QCOMPARE(idAt(m, m->currentRow()), 1);

        grid.hide();
        QVERIFY(m->isPaused());
        table->findKey({70});
        table->next();
        QCOMPARE(idAt(m, m->currentRow()), 1);  // not re-read while hidden

        grid.show();
        QVERIFY(QTest::qWaitForWindowExposed(&grid));
        QCOMPARE(idAt(m, m->currentRow()), 71);
        QCOMPARE(grid.currentIndex().row(), m->currentRow());
        QCOMPARE(bar(grid)->value(), 1);

        // Rows changed while hidden show too.
        grid.hide();
        table->edit();
        table->fieldByName(QStringLiteral("Name")).setValue(QStringLiteral("CHANGED"));
        table->post();
        grid.show();
        QCOMPARE(m->data(m->index(m->currentRow(), 1), Qt::DisplayRole).toString(), QStringLiteral("CHANGED"));
    }
};

QTEST_MAIN(TestGrid)
#include "test_grid.moc"
