#pragma once
// The request report: one US Letter page per request, every page the same
// fixed form filled from one row of the Requests table, shown in a print
// preview from which it is printed. Building the report walks the table from
// its first row to its end, so the last request is current afterwards.
#include <QList>
#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

class QPagedPaintDevice;
class QPainter;
class QPrintPreviewDialog;
class QPrinter;
class TDBGrid;

namespace Db {
struct Record;
class Table;
}

class TfrmReqReport : public QObject {
    Q_OBJECT
public:
    // Reports the rows of requests; the preview window is owned by window.
    TfrmReqReport(Db::Table* requests, QWidget* window, QObject* parent = nullptr);
    ~TfrmReqReport() override;

    // A grid on the table that need not follow the walk row by row: it is
    // paused while the report is built and shows the last row afterwards.
    void setQuietDuringWalk(TDBGrid* grid);

    // Sets the report's page on a printer: US Letter, portrait, half-inch
    // margins, drawing from the top-left margin corner.
    static void setUpPage(QPrinter& printer);

    // Builds the report onto printer (its page already set up): returns the
    // number of requests printed. Throws std::runtime_error when the printer
    // refuses the job.
    int Print(QPrinter& printer);

    // Opens the preview, zoomed to a whole page, and returns when it is
    // closed. Printing from it builds the report again.
    void Preview();

    // How the preview window is run: by default it runs modally until the
    // user closes it. Tests show it, look at it and close it.
    using PreviewRunner = std::function<void(QPrintPreviewDialog&)>;
    static void setPreviewRunner(PreviewRunner runner);

    // The printer the preview builds on and prints to.
    QPrinter* printer();

    // Positions of the form, in 1/96 inch from the band's top-left corner.
    // A value without caption has none (nullptr).
    struct Line {
        int y;
        const char* caption;
        int captionX;
        const char* field;
        int valueX;
    };
    static const QList<Line>& lines();

private:
    struct Fonts;
    void paintBand(QPainter& painter, const Fonts& fonts, const Db::Record& rec, const QList<int>& fieldIdx);

    Db::Table* m_requests;
    QPointer<QWidget> m_window;
    QPointer<TDBGrid> m_quiet;
    std::unique_ptr<QPrinter> m_printer;
};
