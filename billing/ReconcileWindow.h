#pragma once
// The reconciliation window: the findings of the last reconciliation, one
// section per kind with its count, each line giving the serial number,
// register name, chart and what is wrong. The report prints (US Letter, a
// heading and page number on every page) and saves as a CSV file.
#include "billing/Reconciliation.h"

#include <QDialog>

#include <memory>

class QPrinter;

namespace Ui {
class ReconcileWindow;
}

class TReconcileWindow : public QDialog {
    Q_OBJECT
public:
    explicit TReconcileWindow(QWidget* parent = nullptr);
    ~TReconcileWindow() override;

    // Shows the findings of a finished reconciliation.
    void setResult(std::unique_ptr<Billing::Reconciliation> result);
    const Billing::Reconciliation& result() const { return *m_result; }

    void btnPrintClick();  // "Print...": the print dialog, then the report
    void btnSaveClick();   // "Save as CSV...": the save dialog, then the file

    // Prints the report onto printer and returns the number of pages;
    // throws std::runtime_error when the printer refuses the job.
    int print(QPrinter& printer) const;
    // The printer the report goes to; the print dialog's choice is kept.
    QPrinter* printer();

private:
    class Model;

    std::unique_ptr<Ui::ReconcileWindow> ui;
    std::unique_ptr<Billing::Reconciliation> m_result;
    Model* m_model = nullptr;
    std::unique_ptr<QPrinter> m_printer;
};
