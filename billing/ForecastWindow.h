#pragma once
// The "Renewals Forecast" window: a stacked bar chart of the renewals due in
// each of the next 13 weeks by module, for the direct accounts or all
// resellers (chosen in the window), with each week's expected amount above
// its bar and in the bar's tooltip, and the total.
#include "billing/RenewalsForecast.h"

#include <QDialog>

#include <memory>

class QChart;
class QGraphicsSimpleTextItem;

namespace Ui {
class ForecastWindow;
}

class TForecastWindow : public QDialog {
    Q_OBJECT
public:
    TForecastWindow(Db::Connection& customer, const Billing::PriceList& prices, QWidget* parent = nullptr);
    ~TForecastWindow() override;

    // Counts and draws the chosen accounts (the list's change does it too).
    void refresh();
    const Billing::RenewalsForecast& forecast() const { return m_forecast; }
    QString totalText() const;

private:
    void placeAmounts();

    std::unique_ptr<Ui::ForecastWindow> ui;
    const Billing::PriceList& m_prices;
    Billing::RenewalsForecast m_forecast;
    QChart* m_chart = nullptr;
    QList<QGraphicsSimpleTextItem*> m_amounts;
};
