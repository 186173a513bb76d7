// A round dial: a 270-degree scale with coloured zones, major and minor ticks, an optional inner
// second scale (another unit for the same reading), a needle and a caption underneath. Drawn
// entirely with QPainter from the widget's size, so it stays sharp at any size.
#pragma once

#include <optional>

#include <QString>
#include <QWidget>

#include "gui/views/view_rules.h"

namespace kelvora::gui {

class GaugeWidget : public QWidget {
    Q_OBJECT

  public:
    explicit GaugeWidget(QWidget* parent = nullptr);

    void SetRange(double min, double max);
    void SetMajorTicks(double from, double to, double interval);
    void SetMinorTicks(double from, double to, double interval);
    // The outer zones are shown in warning colours, the middle one in green; an empty span
    // (from == to) is not drawn.
    void SetZones(Span low, Span middle, Span high);
    // An inner scale running from min to max over the same arc, e.g. Fahrenheit under Celsius.
    void SetSecondScale(double min, double max);
    // The needle's value, in the main scale's unit; shown pinned at the ends when outside.
    void SetValue(double value);
    void SetCaption(const QString& caption);

    Span Range() const { return range_; }
    TickSet MajorTicks() const { return major_; }
    TickSet MinorTicks() const { return minor_; }
    Span LowZone() const { return low_; }
    Span MiddleZone() const { return middle_; }
    Span HighZone() const { return high_; }
    std::optional<Span> SecondScale() const { return second_; }
    double Value() const { return value_; }
    QString Caption() const { return caption_; }

    QSize sizeHint() const override { return {200, 200}; }
    QSize minimumSizeHint() const override { return {120, 130}; }

  signals:
    void clicked();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

  private:
    Span range_{0, 100};
    TickSet major_{0, 100, 10};
    TickSet minor_{0, 100, 5};
    Span low_;
    Span middle_;
    Span high_;
    std::optional<Span> second_;
    double value_ = 0;
    QString caption_;
};

}  // namespace kelvora::gui
