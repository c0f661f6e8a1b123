#include "billing/ForecastWindow.h"

#include "ui_ForecastWindow.h"

#include "helpers/Command.h"

#include <QBarCategoryAxis>
#include <QBarSet>
#include <QChart>
#include <QGraphicsSimpleTextItem>
#include <QLabel>
#include <QStackedBarSeries>
#include <QToolTip>
#include <QValueAxis>

using Billing::ForecastScope;

TForecastWindow::TForecastWindow(Db::Connection& customer, const Billing::PriceList& prices, QWidget* parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::ForecastWindow>())
    , m_prices(prices)
    , m_forecast(customer)
{
    ui->setupUi(this);
    m_chart = new QChart();
    m_chart->setAnimationOptions(QChart::NoAnimation);
    m_chart->legend()->setAlignment(Qt::AlignBottom);
    ui->chartView->setChart(m_chart);
    ui->chartView->setRenderHint(QPainter::Antialiasing);
    connect(m_chart, &QChart::plotAreaChanged, this, [this] { placeAmounts(); });
    Trellane::onCommand(ui->cbScope, &QComboBox::activated, this, [this](int) { refresh(); });
}

TForecastWindow::~TForecastWindow() = default;

QString TForecastWindow::totalText() const
{
    QString text = QStringLiteral("Total: %1 renewals, %2")
                       .arg(m_forecast.totalRenewals())
                       .arg(Billing::formatAmount(m_forecast.totalCents()));
    if (m_forecast.blankChartRenewals() > 0)
        text += QStringLiteral(". Not billable, blank chart: %1 renewals").arg(m_forecast.blankChartRenewals());
    return text;
}

void TForecastWindow::refresh()
{
    const ForecastScope scope = ui->cbScope->currentIndex() == 1 ? ForecastScope::Resellers : ForecastScope::Direct;
    m_forecast.load(scope, m_prices);

    m_chart->removeAllSeries();
    for (QAbstractAxis* axis : m_chart->axes())
        m_chart->removeAxis(axis);
    auto* series = new QStackedBarSeries();
    const char* const names[3] = {"Professional", "Institutional", "ERA"};
    QStringList categories;
    int highest = 0;
    for (int m = 0; m < 3; ++m) {
        auto* set = new QBarSet(QLatin1String(names[m]));
        for (const Billing::ForecastWeek& w : m_forecast.weeks())
            *set << w.renewals[m];
        series->append(set);
    }
    for (const Billing::ForecastWeek& w : m_forecast.weeks()) {
        categories << w.first.toString(QStringLiteral("MM/dd"));
        highest = qMax(highest, w.total());
    }
    m_chart->addSeries(series);
    m_chart->setTitle(QStringLiteral("Renewals due in the next %1 weeks (%2)")
                          .arg(Billing::RenewalsForecast::kWeeks)
                          .arg(scope == ForecastScope::Direct ? QStringLiteral("M") : QStringLiteral("all resellers")));
    auto* x = new QBarCategoryAxis();
    x->append(categories);
    x->setTitleText(QStringLiteral("Week starting"));
    auto* y = new QValueAxis();
    // Room above the tallest bar for its amount.
    y->setRange(0, qMax(1, highest + highest / 8 + 1));
    y->applyNiceNumbers();
    y->setLabelFormat(QStringLiteral("%d"));
    y->setTitleText(QStringLiteral("Renewals"));
    m_chart->addAxis(x, Qt::AlignBottom);
    m_chart->addAxis(y, Qt::AlignLeft);
    series->attachAxis(x);
    series->attachAxis(y);
    connect(series, &QStackedBarSeries::hovered, this, [this](bool over, int index, QBarSet*) {
        if (!over || index < 0 || index >= m_forecast.weeks().size()) {
            QToolTip::hideText();
            return;
        }
        const Billing::ForecastWeek& w = m_forecast.weeks()[index];
        QToolTip::showText(QCursor::pos(),
                           QStringLiteral("%1 to %2\nProfessional %3, Institutional %4, ERA %5\nExpected %6")
                               .arg(Billing::slashDate(w.first), Billing::slashDate(w.last))
                               .arg(w.renewals[0])
                               .arg(w.renewals[1])
                               .arg(w.renewals[2])
                               .arg(Billing::formatAmount(w.cents)));
    });

    qDeleteAll(m_amounts);
    m_amounts.clear();
    for (const Billing::ForecastWeek& w : m_forecast.weeks()) {
        auto* label = new QGraphicsSimpleTextItem(Billing::formatAmount(w.cents), m_chart);
        QFont font = label->font();
        font.setPointSizeF(font.pointSizeF() * 0.8);
        label->setFont(font);
        m_amounts << label;
    }
    ui->lblTotal->setText(totalText());
    placeAmounts();
}

void TForecastWindow::placeAmounts()
{
    const QList<Billing::ForecastWeek>& weeks = m_forecast.weeks();
    if (m_chart->series().isEmpty())
        return;
    QAbstractSeries* series = m_chart->series().first();
    for (int i = 0; i < m_amounts.size() && i < weeks.size(); ++i) {
        const QPointF top = m_chart->mapToPosition(QPointF(i, weeks[i].total()), series);
        const QRectF box = m_amounts[i]->boundingRect();
        m_amounts[i]->setPos(top.x() - box.width() / 2, top.y() - box.height() - 2);
    }
}
