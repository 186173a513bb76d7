#include "gui/views/chart_page.h"

#include <algorithm>

#include <QChart>
#include <QChartView>
#include <QLineSeries>
#include <QTime>
#include <QVBoxLayout>
#include <QValueAxis>

#include "gui/views/view_rules.h"

namespace kelvora::gui {

namespace {

int counter = 0;

// An axis whose top has not been decided yet shows the lowest scale the rule uses.
constexpr int kFallbackAxisMax = 120;

QValueAxis* VoltageAxis(const QColor& colour) {
    auto* axis = new QValueAxis;
    axis->setLabelFormat(QStringLiteral("%d"));
    axis->setLabelsColor(colour);
    axis->setLinePenColor(colour);
    axis->setRange(0, kFallbackAxisMax);
    axis->setTickCount(6);
    return axis;
}

}  // namespace

int ChartPage::SampleCounter() {
    return counter;
}

ChartPage::ChartPage(QWidget* parent)
    : QWidget(parent),
      chart_(new QChart),
      input_(new QLineSeries),
      output_(new QLineSeries),
      xAxis_(new QValueAxis),
      time_(new QLabel(this)) {
    const QColor inColour(20, 110, 200);
    const QColor outColour(200, 60, 40);
    input_->setName(QStringLiteral("輸入電壓"));
    output_->setName(QStringLiteral("輸出電壓"));
    input_->setPen(QPen(inColour, 2));
    output_->setPen(QPen(outColour, 2));
    chart_->addSeries(input_);
    chart_->addSeries(output_);

    // Ticks on round sample numbers, whatever the window's first sample is.
    xAxis_->setLabelFormat(QStringLiteral("%d"));
    xAxis_->setTickType(QValueAxis::TicksDynamic);
    xAxis_->setTickAnchor(0);
    xAxis_->setTickInterval(50);
    chart_->addAxis(xAxis_, Qt::AlignBottom);
    inputAxis_ = VoltageAxis(inColour);
    outputAxis_ = VoltageAxis(outColour);
    chart_->addAxis(inputAxis_, Qt::AlignLeft);
    chart_->addAxis(outputAxis_, Qt::AlignRight);
    input_->attachAxis(xAxis_);
    input_->attachAxis(inputAxis_);
    output_->attachAxis(xAxis_);
    output_->attachAxis(outputAxis_);
    chart_->legend()->setAlignment(Qt::AlignTop);
    chart_->setMargins(QMargins(4, 4, 4, 4));

    view_ = new QChartView(chart_, this);
    view_->setRenderHint(QPainter::Antialiasing);

    time_->setAlignment(Qt::AlignCenter);
    auto* box = new QVBoxLayout(this);
    box->setContentsMargins(4, 4, 4, 4);
    box->setSpacing(2);
    box->addWidget(view_, 1);
    box->addWidget(time_);
    FitAxes();
}

int ChartPage::InputPointCount() const {
    return input_->count();
}
int ChartPage::OutputPointCount() const {
    return output_->count();
}
QList<QPointF> ChartPage::InputPoints() const {
    return input_->points();
}
QList<QPointF> ChartPage::OutputPoints() const {
    return output_->points();
}
Span ChartPage::VisibleSamples() const {
    return {xAxis_->min(), xAxis_->max()};
}

void ChartPage::Update(int inVoltage, int outVoltage) {
    const int in = inVoltage / 10;
    const int out = outVoltage / 10;
    inputMax_ = NextAxisMax(inputMax_, in);
    outputMax_ = NextAxisMax(outputMax_, out);
    input_->append(counter, in);
    output_->append(counter, out);
    // Points that scrolled off would only cost memory and repaint time.
    for (QLineSeries* s : {input_, output_}) {
        if (s->count() > kVisiblePoints) s->removePoints(0, s->count() - kVisiblePoints);
    }
    ++counter;
    FitAxes();
    time_->setText(QTime::currentTime().toString());
}

void ChartPage::FitAxes() {
    // The window ends at the newest reading once the chart is full, and starts at the oldest
    // reading kept.
    const int last = std::max(counter - 1, 0);
    const int first = std::max(last - kVisiblePoints + 1, 0);
    xAxis_->setRange(first, std::max(first + kVisiblePoints - 1, last));
    inputAxis_->setRange(0, inputMax_ > 0 ? inputMax_ : kFallbackAxisMax);
    outputAxis_->setRange(0, outputMax_ > 0 ? outputMax_ : kFallbackAxisMax);
}

}  // namespace kelvora::gui
