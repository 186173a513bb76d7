// The chart page: the input and output voltage traced over the last few hundred readings, with
// the time of the latest reading underneath.
#pragma once

#include <QLabel>
#include <QList>
#include <QPointF>
#include <QWidget>

#include "gui/views/view_rules.h"

QT_BEGIN_NAMESPACE
class QChart;
class QChartView;
class QLineSeries;
class QValueAxis;
QT_END_NAMESPACE

namespace kelvora::gui {

class ChartPage : public QWidget {
    Q_OBJECT

  public:
    // How many readings stay on the chart; older points scroll off and are dropped.
    static constexpr int kVisiblePoints = 300;

    explicit ChartPage(QWidget* parent = nullptr);

    // Adds one reading of both voltages, in tenths of a volt.
    void Update(int inVoltage, int outVoltage);

    // The top of each trace's voltage axis (0 before the first reading that sets it).
    int InputAxisMax() const { return inputMax_; }
    int OutputAxisMax() const { return outputMax_; }
    int InputPointCount() const;
    int OutputPointCount() const;
    QList<QPointF> InputPoints() const;
    QList<QPointF> OutputPoints() const;
    // The stretch of sample numbers the x axis shows.
    Span VisibleSamples() const;
    QString TimeText() const { return time_->text(); }
    // The x position the next reading gets; shared by every chart in the program, so the panel
    // keeps counting across reconnections.
    static int SampleCounter();

  private:
    void FitAxes();

    QChart* chart_;
    QChartView* view_;
    QLineSeries* input_;
    QLineSeries* output_;
    QValueAxis* xAxis_;
    QValueAxis* inputAxis_;
    QValueAxis* outputAxis_;
    QLabel* time_;
    int inputMax_ = 0;
    int outputMax_ = 0;
};

}  // namespace kelvora::gui
