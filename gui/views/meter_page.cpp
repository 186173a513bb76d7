#include "gui/views/meter_page.h"

#include <QGridLayout>
#include <QVBoxLayout>

#include "gui/views/field_style.h"
#include "gui/views/view_rules.h"

namespace kelvora::gui {

namespace {

// Moves a voltage dial to the band the reading falls in; outside every band it stays put.
void FitVoltageScale(GaugeWidget& gauge, double volts) {
    const std::optional<VoltageScale> s = SelectVoltageScale(volts);
    if (!s) return;
    gauge.SetRange(s->range.from, s->range.to);
    gauge.SetMajorTicks(s->major.from, s->major.to, s->major.interval);
    if (s->minorSpan) {
        gauge.SetMinorTicks(s->minorSpan->from, s->minorSpan->to,
                            s->minorInterval.value_or(gauge.MinorTicks().interval));
    }
    gauge.SetZones(s->low, s->middle, s->high);
}

GaugeWidget* VoltageGauge(QWidget* parent) {
    auto* g = new GaugeWidget(parent);
    g->SetMinorTicks(0, 60, 5);
    FitVoltageScale(*g, 0);
    return g;
}

// A titled cell of the page's grid.
QWidget* Column(const QString& title, QWidget* body, QWidget* parent) {
    auto* cell = new QWidget(parent);
    auto* box = new QVBoxLayout(cell);
    box->setContentsMargins(2, 2, 2, 2);
    box->setSpacing(2);
    box->addWidget(MakeColumnTitle(title, cell));
    box->addWidget(body, 1);
    return cell;
}

}  // namespace

MeterPage::MeterPage(QWidget* parent)
    : QWidget(parent),
      input_(VoltageGauge(this)),
      output_(VoltageGauge(this)),
      frequency_(new GaugeWidget(this)),
      temperature_(new GaugeWidget(this)),
      capacity_(new PercentBar(this)),
      load_(new PercentBar(this)) {
    frequency_->SetRange(0, 70);
    frequency_->SetMajorTicks(0, 70, 10);
    frequency_->SetMinorTicks(0, 70, 2);
    // 50 and 60 Hz mains both sit well inside the green.
    frequency_->SetZones({0, 45}, {45, 65}, {65, 70});

    temperature_->SetRange(0, 100);
    temperature_->SetMajorTicks(0, 100, 20);
    temperature_->SetMinorTicks(0, 100, 5);
    temperature_->SetSecondScale(CelsiusToFahrenheit(0), CelsiusToFahrenheit(100));
    // Batteries age fast above about 40 C; nothing is too cold for the dial to warn about.
    temperature_->SetZones({0, 0}, {0, 40}, {40, 100});
    connect(temperature_, &GaugeWidget::clicked, this, &MeterPage::temperatureClicked);
    temperature_->setCursor(Qt::PointingHandCursor);

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(6, 6, 6, 6);
    grid->setSpacing(8);
    grid->addWidget(Column(QStringLiteral("輸入電壓"), input_, this), 0, 0);
    grid->addWidget(Column(QStringLiteral("輸出電壓"), output_, this), 0, 1);
    grid->addWidget(Column(QStringLiteral("頻率"), frequency_, this), 0, 2);
    grid->addWidget(Column(QStringLiteral("電池容量"), capacity_, this), 1, 0);
    grid->addWidget(Column(QStringLiteral("UPS負載"), load_, this), 1, 1);
    grid->addWidget(Column(QStringLiteral("溫度"), temperature_, this), 1, 2);
    for (int i = 0; i < 3; ++i) grid->setColumnStretch(i, 1);
    for (int i = 0; i < 2; ++i) grid->setRowStretch(i, 1);

    Update(0, 0, 0, 0, 0, 0);
}

void MeterPage::Update(int inVoltage, int outVoltage, int frequency, int capacity, int load,
                       int temperature) {
    const double in = inVoltage / 10.0;
    const double out = outVoltage / 10.0;
    FitVoltageScale(*input_, in);
    input_->SetValue(in);
    input_->SetCaption(QString::asprintf("%.1f Vac", in));
    FitVoltageScale(*output_, out);
    output_->SetValue(out);
    output_->SetCaption(QString::asprintf("%.1f Vac", out));

    const double hz = frequency / 10.0;
    frequency_->SetValue(hz);
    frequency_->SetCaption(QString::asprintf("%.1f Hz", hz));

    const double celsius = temperature / 10.0;
    temperature_->SetValue(celsius);
    temperature_->SetCaption(
        QString::asprintf("%.1f C    %.1f F", celsius, CelsiusToFahrenheit(celsius)));

    capacity_->SetValue(capacity);
    capacity_->SetCaption(QString::asprintf("%.0f %%", double(capacity)));
    const double loadPercent = load / 10.0;
    load_->SetValue(loadPercent);
    load_->SetCaption(QString::asprintf("%.0f %%", loadPercent));
}

}  // namespace kelvora::gui
